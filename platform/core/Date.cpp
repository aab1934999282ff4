#include "platform/Date.h"

#include <cerrno>
#include <cmath>
#include <ctime>
#include <vector>

#include "platform/Services.h"

namespace platform {

namespace {

constexpr const char* kDayShort[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kDayLong[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char* kMonthShort[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kMonthLong[] = {"January", "February", "March",     "April",   "May",      "June",
                                      "July",    "August",   "September", "October", "November", "December"};

// Calendar fields of one instant; month 1..12, weekday 0 = Sunday.
struct Fields {
    long long year = 1970;
    int month = 1, day = 1, hour = 0, minute = 0, second = 0, weekday = 4;
};

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
long long daysFromCivil(long long y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(long long z, Fields& f) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    f.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    f.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    f.year = yoe + era * 400 + (f.month <= 2);
}

bool isLeap(long long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(long long y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

// Keeps instants within what every calendar routine here handles (years
// about -290000..290000), so absurd stored values cannot overflow.
constexpr double kMaxUnix = 9.0e12;

bool fieldsOf(double unix, TimeZone zone, Fields& f) {
    if (!std::isfinite(unix) || std::fabs(unix) > kMaxUnix) return false;
    const long long secs = static_cast<long long>(std::floor(unix));
    if (zone == TimeZone::Local) {
        std::time_t t = static_cast<std::time_t>(secs);
        std::tm tm{};
        if (!localtime_r(&t, &tm)) return false;
        f.year = tm.tm_year + 1900LL;
        f.month = tm.tm_mon + 1;
        f.day = tm.tm_mday;
        f.hour = tm.tm_hour;
        f.minute = tm.tm_min;
        f.second = tm.tm_sec;
        f.weekday = tm.tm_wday;
        return true;
    }
    long long days = secs / 86400;
    long long rem = secs % 86400;
    if (rem < 0) {
        rem += 86400;
        days -= 1;
    }
    civilFromDays(days, f);
    f.hour = static_cast<int>(rem / 3600);
    f.minute = static_cast<int>(rem / 60 % 60);
    f.second = static_cast<int>(rem % 60);
    f.weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    return true;
}

std::optional<double> unixOf(const Fields& f, TimeZone zone) {
    if (f.month < 1 || f.month > 12 || f.day < 1 || f.day > daysInMonth(f.year, f.month)) return std::nullopt;
    if (f.hour < 0 || f.hour > 23 || f.minute < 0 || f.minute > 59 || f.second < 0 || f.second > 59)
        return std::nullopt;
    if (zone == TimeZone::Local) {
        if (f.year < -200000 || f.year > 200000) return std::nullopt;
        std::tm tm{};
        tm.tm_year = static_cast<int>(f.year - 1900);
        tm.tm_mon = f.month - 1;
        tm.tm_mday = f.day;
        tm.tm_hour = f.hour;
        tm.tm_min = f.minute;
        tm.tm_sec = f.second;
        tm.tm_isdst = -1;
        errno = 0;
        std::time_t t = std::mktime(&tm);
        if (t == static_cast<std::time_t>(-1) && errno != 0) return std::nullopt;
        return static_cast<double>(t);
    }
    return static_cast<double>(daysFromCivil(f.year, f.month, f.day)) * 86400.0 + f.hour * 3600.0 + f.minute * 60.0 +
           f.second;
}

// One piece of a pattern: a run of one letter, or literal text.
struct Token {
    char letter = 0;  // 0: literal
    int count = 0;
    std::string literal;
};

bool isPatternLetter(char c) {
    switch (c) {
    case 'E':
    case 'd':
    case 'M':
    case 'y':
    case 'H':
    case 'm':
    case 's': return true;
    default: return false;
    }
}

std::vector<Token> tokenize(std::string_view pattern) {
    std::vector<Token> tokens;
    auto literal = [&](char c) {
        if (tokens.empty() || tokens.back().letter != 0) tokens.push_back({});
        tokens.back().literal += c;
    };
    for (size_t i = 0; i < pattern.size();) {
        char c = pattern[i];
        if (c == '\'') {
            // '' is a quote; 'text' is literal text.
            if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
                literal('\'');
                i += 2;
                continue;
            }
            ++i;
            while (i < pattern.size()) {
                if (pattern[i] == '\'') {
                    if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
                        literal('\'');
                        i += 2;
                        continue;
                    }
                    break;
                }
                literal(pattern[i++]);
            }
            ++i;  // closing quote (or end)
            continue;
        }
        if (isPatternLetter(c)) {
            size_t j = i;
            while (j < pattern.size() && pattern[j] == c) ++j;
            tokens.push_back({c, static_cast<int>(j - i), {}});
            i = j;
            continue;
        }
        literal(c);
        ++i;
    }
    return tokens;
}

void appendNumber(std::string& out, long long n, int width) {
    if (n < 0) {
        out += '-';
        n = -n;
    }
    std::string digits = std::to_string(n);
    if (static_cast<int>(digits.size()) < width) out.append(static_cast<size_t>(width) - digits.size(), '0');
    out += digits;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithNoCase(std::string_view text, size_t at, std::string_view word) {
    if (text.size() - at < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (lower(text[at + i]) != lower(word[i])) return false;
    return true;
}

// Index of the longest name found at text[at], or -1.
int matchName(std::string_view text, size_t& at, const char* const* names, const char* const* longNames, int n) {
    for (int pass = 0; pass < 2; ++pass) {
        const char* const* list = pass == 0 ? longNames : names;
        for (int i = 0; i < n; ++i) {
            std::string_view w(list[i]);
            if (startsWithNoCase(text, at, w)) {
                at += w.size();
                return i;
            }
        }
    }
    return -1;
}

bool isNumericToken(const Token& t) { return t.letter != 0 && t.letter != 'E' && !(t.letter == 'M' && t.count >= 3); }

}  // namespace

Date Date::now() { return Date{Clock::current().absoluteTime()}; }

double Date::timeIntervalSinceNow() const { return secondsSinceReference - Clock::current().absoluteTime(); }

std::string formatDate(Date date, std::string_view pattern, TimeZone zone) {
    Fields f;
    if (!fieldsOf(date.unixTime(), zone, f)) return std::string();
    std::string out;
    for (const Token& t : tokenize(pattern)) {
        switch (t.letter) {
        case 0: out += t.literal; break;
        case 'E': out += t.count >= 4 ? kDayLong[f.weekday] : kDayShort[f.weekday]; break;
        case 'd': appendNumber(out, f.day, t.count); break;
        case 'M':
            if (t.count >= 4) out += kMonthLong[f.month - 1];
            else if (t.count == 3) out += kMonthShort[f.month - 1];
            else appendNumber(out, f.month, t.count);
            break;
        case 'y':
            if (t.count == 2) appendNumber(out, ((f.year % 100) + 100) % 100, 2);
            else appendNumber(out, f.year, t.count);
            break;
        case 'H': appendNumber(out, f.hour, t.count); break;
        case 'm': appendNumber(out, f.minute, t.count); break;
        case 's': appendNumber(out, f.second, t.count); break;
        }
    }
    return out;
}

std::optional<Date> parseDate(std::string_view text, std::string_view pattern, TimeZone zone) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);

    const std::vector<Token> tokens = tokenize(pattern);
    Fields f;
    size_t at = 0;
    for (size_t k = 0; k < tokens.size(); ++k) {
        const Token& t = tokens[k];
        if (t.letter == 0) {
            if (text.substr(at, t.literal.size()) != t.literal) return std::nullopt;
            at += t.literal.size();
            continue;
        }
        if (t.letter == 'E') {
            if (matchName(text, at, kDayShort, kDayLong, 7) < 0) return std::nullopt;
            continue;
        }
        if (t.letter == 'M' && t.count >= 3) {
            int m = matchName(text, at, kMonthShort, kMonthLong, 12);
            if (m < 0) return std::nullopt;
            f.month = m + 1;
            continue;
        }
        // Numbers: a field that runs into another number ("yyyyMMdd") takes
        // exactly its width; otherwise one or two digits ("d", "M") or the
        // written width, up to a sane limit for years.
        const bool abutting = k + 1 < tokens.size() && isNumericToken(tokens[k + 1]);
        size_t minDigits = 1, maxDigits = 2;
        if (t.letter == 'y') {
            minDigits = t.count == 2 ? 2 : 1;
            maxDigits = t.count == 2 ? 2 : 6;
        }
        if (abutting || (t.count >= 2 && t.letter != 'y')) {
            minDigits = maxDigits = static_cast<size_t>(t.count);
        }
        size_t n = 0;
        long long value = 0;
        while (n < maxDigits && at + n < text.size() && isDigit(text[at + n])) {
            value = value * 10 + (text[at + n] - '0');
            ++n;
        }
        if (n < minDigits) return std::nullopt;
        if (!abutting && at + n < text.size() && isDigit(text[at + n])) return std::nullopt;  // too many digits
        at += n;
        switch (t.letter) {
        case 'y':
            // Two-digit years pivot like POSIX: 69..99 are 19xx, 00..68 are 20xx.
            f.year = t.count == 2 ? (value >= 69 ? 1900 + value : 2000 + value) : value;
            break;
        case 'M': f.month = static_cast<int>(value); break;
        case 'd': f.day = static_cast<int>(value); break;
        case 'H': f.hour = static_cast<int>(value); break;
        case 'm': f.minute = static_cast<int>(value); break;
        case 's': f.second = static_cast<int>(value); break;
        }
    }
    if (at != text.size()) return std::nullopt;
    auto unix = unixOf(f, zone);
    // A date that formatDate could not write back (years past ~285000) is no date.
    if (!unix || std::fabs(*unix) > kMaxUnix) return std::nullopt;
    return Date::fromUnixTime(*unix);
}

std::optional<Date> dateFromGregorian(int year, int month, int day, TimeZone zone) {
    Fields f;
    f.year = year;
    f.month = month;
    f.day = day;
    auto unix = unixOf(f, zone);
    if (!unix) return std::nullopt;
    return Date::fromUnixTime(*unix);
}

}  // namespace platform
