#include <gtest/gtest.h>

#include "platform/Date.h"

using namespace platform;

namespace {
constexpr const char* kHTTP = "EEE, dd MMM yyyy HH:mm:ss";
}

TEST(Date, FormatsAndParsesEveryFieldWithEnglishNames) {
    auto d = parseDate("Tue, 15 Nov 1994 12:45:26", kHTTP, TimeZone::GMT);
    ASSERT_TRUE(d);
    EXPECT_DOUBLE_EQ(d->unixTime(), 784903526.0);
    // The zone name after the pattern is literal text in the caller's pattern.
    const char* zoned = "EEE, dd MMM yyyy HH:mm:ss 'GMT'";
    EXPECT_EQ(parseDate("Tue, 15 Nov 1994 12:45:26 GMT", zoned, TimeZone::GMT), d);
    EXPECT_EQ(formatDate(*d, zoned, TimeZone::GMT), "Tue, 15 Nov 1994 12:45:26 GMT");
    Date leap = Date::fromUnixTime(951782400 + 3 * 3600 + 4 * 60 + 5);  // 2000-02-29 03:04:05 GMT, a Tuesday
    EXPECT_EQ(formatDate(leap, "EEEE d M yy H:m:s", TimeZone::GMT), "Tuesday 29 2 00 3:4:5");
    EXPECT_EQ(formatDate(leap, "MMMM MMM MM dd HH", TimeZone::GMT), "February Feb 02 29 03");
    EXPECT_EQ(formatDate(leap, "'it''s' yyyy", TimeZone::GMT), "it's 2000");
    EXPECT_EQ(formatDate(Date::fromUnixTime(-1), "yyyy-MM-dd HH:mm:ss", TimeZone::GMT), "1969-12-31 23:59:59");
    EXPECT_EQ(formatDate(Date{}, "yyyy-MM-dd", TimeZone::GMT), "2001-01-01");
    EXPECT_EQ(formatDate(Date{1e300}, "yyyy", TimeZone::GMT), "") << "absurd instants must not overflow";
}

TEST(Date, ParseIsStrict) {
    for (const char* good : {"  Tue, 15 Nov 1994 12:45:26 ", "tue, 15 nov 1994 12:45:26", "Thu, 29 Feb 2024 00:00:00"})
        EXPECT_TRUE(parseDate(good, kHTTP, TimeZone::GMT)) << good;
    for (const char* bad : {"Tue, 15 Nov 1994 12:45", "Tue, 15 Nov 1994 12:45:26 extra", "Tue, 31 Feb 1994 12:45:26",
                            "Tue, 15 Foo 1994 12:45:26", "Tue, 15 Nov 1994 24:00:00", "Tue, 15 Nov 1994 12:60:00",
                            "Xyz, 15 Nov 1994 12:45:26", "Tue, 5 Nov 1994 12:45:26", "", "Tue, 15 Nov 19x4 12:45:26",
                            "Fri, 29 Feb 2023 00:00:00", "Fri, 29 Feb 1900 00:00:00",
                            "Tue, 15 Nov 303988 12:45:26"})  // a year formatDate cannot write back
        EXPECT_FALSE(parseDate(bad, kHTTP, TimeZone::GMT)) << bad;
    for (const char* bad : {"1987034", "198703041", "19871304"}) EXPECT_FALSE(parseDate(bad, "yyyyMMdd", TimeZone::Local)) << bad;
}

TEST(Date, LocalAndGregorianDays) {
    auto d = parseDate("19870304", "yyyyMMdd", TimeZone::Local);
    ASSERT_TRUE(d);
    const std::time_t t = static_cast<std::time_t>(d->unixTime());
    std::tm tm{};
    localtime_r(&t, &tm);
    EXPECT_EQ(std::make_tuple(tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour), std::make_tuple(87, 2, 4, 0));
    EXPECT_EQ(formatDate(*d, "yyyyMMdd", TimeZone::Local), "19870304");
    EXPECT_DOUBLE_EQ(dateFromGregorian(1994, 11, 15, TimeZone::GMT)->unixTime(), 784857600.0);
    EXPECT_EQ(formatDate(*dateFromGregorian(2020, 6, 1), "yyyy-MM-dd HH:mm:ss", TimeZone::Local), "2020-06-01 00:00:00");
    for (auto [year, month, day] : {std::tuple{2023, 2, 29}, {2023, 13, 1}, {2023, 0, 1}})
        EXPECT_FALSE(dateFromGregorian(year, month, day, TimeZone::GMT)) << year << "-" << month << "-" << day;
}
