#pragma once
// Dates are absolute instants: seconds since 2001-01-01 00:00:00 GMT (the
// platform's reference date). Formatting uses a fixed English locale.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Seconds between the Unix epoch and the reference date.
inline constexpr double kUnixToReferenceOffset = 978307200.0;

struct Date {
    double secondsSinceReference = 0;

    static Date now();  // from the installed clock
    static Date fromUnixTime(double t) { return {t - kUnixToReferenceOffset}; }
    double unixTime() const { return secondsSinceReference + kUnixToReferenceOffset; }
    double timeIntervalSinceNow() const;
    Date addingSeconds(double s) const { return {secondsSinceReference + s}; }

    auto operator<=>(const Date&) const = default;
};

enum class TimeZone { GMT, Local };

// Patterns use the usual letters: EEE (Mon), dd, d, MMM (Jan), MM, M, yyyy,
// yy, HH, mm, ss; anything else (blanks, commas, colons, quoted text) is literal.
std::string formatDate(Date date, std::string_view pattern, TimeZone zone);
// Strict parse of exactly the pattern (leading/trailing blanks ignored).
std::optional<Date> parseDate(std::string_view text, std::string_view pattern, TimeZone zone);
// Midnight of a Gregorian calendar day in the given zone; no value when the
// day does not exist.
std::optional<Date> dateFromGregorian(int year, int month, int day, TimeZone zone = TimeZone::Local);

}  // namespace platform
