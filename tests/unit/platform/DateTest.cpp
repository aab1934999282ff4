#include <gtest/gtest.h>

#include <ctime>

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
    EXPECT_TRUE(parseDate("  Tue, 15 Nov 1994 12:45:26 ", kHTTP, TimeZone::GMT));
    EXPECT_TRUE(parseDate("tue, 15 nov 1994 12:45:26", kHTTP, TimeZone::GMT)) << "names match without case";
    for (const char* bad : {"Tue, 15 Nov 1994 12:45", "Tue, 15 Nov 1994 12:45:26 extra", "Tue, 31 Feb 1994 12:45:26",
                            "Tue, 15 Foo 1994 12:45:26", "Tue, 15 Nov 1994 24:00:00", "Tue, 15 Nov 1994 12:60:00",
                            "Xyz, 15 Nov 1994 12:45:26", "Tue, 5 Nov 1994 12:45:26", "", "Tue, 15 Nov 19x4 12:45:26"}) {
        EXPECT_FALSE(parseDate(bad, kHTTP, TimeZone::GMT)) << bad;
    }
    EXPECT_TRUE(parseDate("Thu, 29 Feb 2024 00:00:00", kHTTP, TimeZone::GMT));
    EXPECT_FALSE(parseDate("Fri, 29 Feb 2023 00:00:00", kHTTP, TimeZone::GMT));
    EXPECT_FALSE(parseDate("Fri, 29 Feb 1900 00:00:00", kHTTP, TimeZone::GMT));
}

TEST(Date, CompactLocalDates) {
    auto d = parseDate("19870304", "yyyyMMdd", TimeZone::Local);
    ASSERT_TRUE(d);
    std::time_t t = static_cast<std::time_t>(d->unixTime());
    std::tm tm{};
    localtime_r(&t, &tm);
    EXPECT_EQ(tm.tm_year, 87);
    EXPECT_EQ(tm.tm_mon, 2);
    EXPECT_EQ(tm.tm_mday, 4);
    EXPECT_EQ(tm.tm_hour, 0);
    EXPECT_EQ(formatDate(*d, "yyyyMMdd", TimeZone::Local), "19870304");
    EXPECT_FALSE(parseDate("1987034", "yyyyMMdd", TimeZone::Local));
    EXPECT_FALSE(parseDate("198703041", "yyyyMMdd", TimeZone::Local));
    EXPECT_FALSE(parseDate("19871304", "yyyyMMdd", TimeZone::Local));
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
