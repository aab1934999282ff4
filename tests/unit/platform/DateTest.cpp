// Dates in the patterns the tree writes and reads. Parsing stops at years
// formatting can write, so nothing absurd is ever formatted.
#include <gtest/gtest.h>

#include "platform/Date.h"

using namespace platform;

namespace {
constexpr const char* kHTTP = "EEE, dd MMM yyyy HH:mm:ss";
}

TEST(Date, ParsingIsStrict) {
    for (const char* good : {"  Tue, 15 Nov 1994 12:45:26 ", "tue, 15 nov 1994 12:45:26", "Thu, 29 Feb 2024 00:00:00"})
        EXPECT_TRUE(parseDate(good, kHTTP, TimeZone::GMT)) << good;
    for (const char* bad : {"Tue, 15 Nov 1994 12:45", "Tue, 15 Nov 1994 12:45:26 extra", "Tue, 31 Feb 1994 12:45:26",
                            "Tue, 15 Foo 1994 12:45:26", "Tue, 15 Nov 1994 24:00:00", "Tue, 15 Nov 1994 12:60:00",
                            "Xyz, 15 Nov 1994 12:45:26", "Tue, 5 Nov 1994 12:45:26", "", "Tue, 15 Nov 19x4 12:45:26",
                            "Fri, 29 Feb 2023 00:00:00", "Fri, 29 Feb 1900 00:00:00",
                            "Tue, 15 Nov 303988 12:45:26"})  // a year formatDate cannot write back
        EXPECT_FALSE(parseDate(bad, kHTTP, TimeZone::GMT)) << bad;
}

// A server's date before 1970 comes back as it was, for the next validation.
TEST(Date, AnEarlyDateFormatsBackAsItWasRead) {
    const char* early = "Wed, 31 Dec 1969 23:59:59";
    EXPECT_EQ(formatDate(parseDate(early, kHTTP, TimeZone::GMT).value(), kHTTP, TimeZone::GMT), early);
}
