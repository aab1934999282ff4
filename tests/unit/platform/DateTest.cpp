#include <gtest/gtest.h>

#include <ctime>
#include <tuple>

#include "platform/Date.h"

using namespace platform;

namespace {
constexpr const char* kHTTP = "EEE, dd MMM yyyy HH:mm:ss";
}

TEST(Date, HttpDateRoundTrip) {
    auto d = parseDate("Tue, 15 Nov 1994 12:45:26", kHTTP, TimeZone::GMT);
    ASSERT_TRUE(d);
    EXPECT_DOUBLE_EQ(d->unixTime(), 784903526.0);
    EXPECT_EQ(formatDate(*d, kHTTP, TimeZone::GMT), "Tue, 15 Nov 1994 12:45:26");
    // The zone name after the pattern is literal text in the caller's pattern.
    auto withZone = parseDate("Tue, 15 Nov 1994 12:45:26 GMT", "EEE, dd MMM yyyy HH:mm:ss 'GMT'", TimeZone::GMT);
    ASSERT_TRUE(withZone);
    EXPECT_EQ(*withZone, *d);
    EXPECT_EQ(formatDate(*d, "EEE, dd MMM yyyy HH:mm:ss 'GMT'", TimeZone::GMT), "Tue, 15 Nov 1994 12:45:26 GMT");
}

TEST(Date, FormatsEveryFieldWithEnglishNames) {
    Date d = Date::fromUnixTime(951782400 + 3 * 3600 + 4 * 60 + 5);  // 2000-02-29 03:04:05 GMT, a Tuesday
    EXPECT_EQ(formatDate(d, "EEEE d M yy H:m:s", TimeZone::GMT), "Tuesday 29 2 00 3:4:5");
    EXPECT_EQ(formatDate(d, "MMMM MMM MM dd HH", TimeZone::GMT), "February Feb 02 29 03");
    EXPECT_EQ(formatDate(d, "'it''s' yyyy", TimeZone::GMT), "it's 2000");
    EXPECT_EQ(formatDate(Date::fromUnixTime(-1), "yyyy-MM-dd HH:mm:ss", TimeZone::GMT), "1969-12-31 23:59:59");
    EXPECT_EQ(formatDate(Date{}, "yyyy-MM-dd", TimeZone::GMT), "2001-01-01");
    EXPECT_EQ(formatDate(Date{1e300}, "yyyy", TimeZone::GMT), "") << "absurd instants must not overflow";
}

TEST(Date, ParseIsStrict) {
    for (const char* good : {"  Tue, 15 Nov 1994 12:45:26 ", "tue, 15 nov 1994 12:45:26", "Thu, 29 Feb 2024 00:00:00"}) {
        EXPECT_TRUE(parseDate(good, kHTTP, TimeZone::GMT)) << good;
    }
    for (const char* bad : {"Tue, 15 Nov 1994 12:45", "Tue, 15 Nov 1994 12:45:26 extra", "Tue, 31 Feb 1994 12:45:26",
                            "Tue, 15 Foo 1994 12:45:26", "Tue, 15 Nov 1994 24:00:00", "Tue, 15 Nov 1994 12:60:00",
                            "Xyz, 15 Nov 1994 12:45:26", "Tue, 5 Nov 1994 12:45:26", "", "Tue, 15 Nov 19x4 12:45:26",
                            "Fri, 29 Feb 2023 00:00:00", "Fri, 29 Feb 1900 00:00:00"}) {
        EXPECT_FALSE(parseDate(bad, kHTTP, TimeZone::GMT)) << bad;
    }
}

TEST(Date, CompactLocalDates) {
    auto d = parseDate("19870304", "yyyyMMdd", TimeZone::Local);
    ASSERT_TRUE(d);
    std::time_t t = static_cast<std::time_t>(d->unixTime());
    std::tm tm{};
    localtime_r(&t, &tm);
    EXPECT_EQ(std::make_tuple(tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour), std::make_tuple(87, 2, 4, 0));
    EXPECT_EQ(formatDate(*d, "yyyyMMdd", TimeZone::Local), "19870304");
    for (const char* bad : {"1987034", "198703041", "19871304"}) {
        EXPECT_FALSE(parseDate(bad, "yyyyMMdd", TimeZone::Local)) << bad;
    }
}

TEST(Date, GregorianDays) {
    auto d = dateFromGregorian(1994, 11, 15, TimeZone::GMT);
    ASSERT_TRUE(d);
    EXPECT_DOUBLE_EQ(d->unixTime(), 784857600.0);
    EXPECT_FALSE(dateFromGregorian(2023, 2, 29, TimeZone::GMT));
    EXPECT_FALSE(dateFromGregorian(2023, 13, 1, TimeZone::GMT));
    EXPECT_FALSE(dateFromGregorian(2023, 0, 1, TimeZone::GMT));
    auto local = dateFromGregorian(2020, 6, 1);
    ASSERT_TRUE(local);
    EXPECT_EQ(formatDate(*local, "yyyy-MM-dd HH:mm:ss", TimeZone::Local), "2020-06-01 00:00:00");
}
