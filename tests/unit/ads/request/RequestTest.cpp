#include <iostream>
#include <set>

#include "unit/ads/statistics/StatisticsTestSupport.h"
#include "Network/ZELNetworkChecker.h"
#include "Request/ZELRequestParameters.h"
#include "Request/ZELRequestPrivate.h"
#include "Utility/ZELIdentifierUtilities.h"
#include "Utility/ZELLocation.h"

namespace {

std::set<std::string> keysOf(const platform::Dictionary& d) {
    std::set<std::string> keys;
    for (const auto& [key, value] : d) keys.insert(key);
    return keys;
}

class RequestTest : public StatisticsFixture {
protected:
    void SetUp() override {
        StatisticsFixture::SetUp();
        ZELNetworkChecker::sharedChecker().setNetworkTypeFromFlags(platform::kReachabilityFlagReachable);
    }

    static std::shared_ptr<ZELRequestPrivate> privateRequest() {
        return std::dynamic_pointer_cast<ZELRequestPrivate>(ZELRequest::request());
    }
};

TEST_F(RequestTest, FreshRequestCarriesDeviceVersionNetworkStatisticsAndCounterOnly) {
    std::shared_ptr<ZELRequest> request = ZELRequest::request();
    auto working = std::dynamic_pointer_cast<ZELRequestPrivate>(request);
    ASSERT_TRUE(working);

    platform::Dictionary device = ZELIdentifierUtilities::sharedInstance().parameters();
    platform::Dictionary p = working->parameters();

    std::set<std::string> expected = keysOf(device);
    expected.insert({"js", "net", "session_id", "preqs"});
    EXPECT_EQ(keysOf(p), expected);
    EXPECT_EQ(p["js"], platform::Value("ruma-sdk-i-v4.1.1"));
    EXPECT_EQ(p["net"], platform::Value("wi"));
    EXPECT_EQ(p["preqs"], platform::Value(0));
    for (const auto& [key, value] : device) EXPECT_EQ(p[key], value) << key;

    std::cout << "Parameters of a fresh ZELRequest:\n" << platform::Value(p).description() << "\n";
}

TEST_F(RequestTest, NoNetworkTypeMeansNoNetParameter) {
    ZELNetworkChecker::sharedChecker().setNetworkTypeFromFlags(0);
    EXPECT_EQ(privateRequest()->parameters().count("net"), 0u);
    ZELNetworkChecker::sharedChecker().setNetworkTypeFromFlags(platform::kReachabilityFlagReachable |
                                                               platform::kReachabilityFlagIsWWAN);
    EXPECT_EQ(privateRequest()->parameters()["net"], platform::Value("ed"));
}

TEST_F(RequestTest, TargetingBecomesTypedParameters) {
    auto request = privateRequest();
    request->setGender(ZELRequest::kGenderFemale);
    request->setBirthdayWithMonth(2, 29, 2000);
    request->addKeyword("a");
    request->addKeyword("");
    request->addKeyword("a");
    request->setAdditionalParameters(platform::Dictionary{{"color", "red"}, {"n", 2}});
    request->setLocationWithDescription("Plaza \"Mayor\"");

    platform::Dictionary p = request->parameters();
    EXPECT_EQ(p["cust_gender"], platform::Value("f"));
    EXPECT_EQ(p["cust_age"], platform::Value("20000229"));
    EXPECT_EQ(p["kw"], platform::Value(platform::Array{"a", "a"}));
    EXPECT_EQ(p["extras"], platform::Value(platform::Dictionary{{"color", "red"}, {"n", 2}}));
    ASSERT_TRUE(p["uule"].asString());
    EXPECT_EQ(p["uule"].asString()->rfind("a+", 0), 0u);

    request->setLocationWithLatitude(45.5, -73.25, 12.5);
    ASSERT_TRUE(request->parameters()["uule"].asString());
    EXPECT_EQ(request->parameters()["uule"].asString()->rfind("e1+", 0), 0u);
}

TEST_F(RequestTest, GenderOutsideMaleAndFemaleIsLeftOut) {
    auto request = privateRequest();
    for (int gender : {0, 3, -1}) {
        request->setGender(gender);
        EXPECT_EQ(request->parameters().count("cust_gender"), 0u) << gender;
    }
    request->setGender(ZELRequest::kGenderMale);
    EXPECT_EQ(request->genderString(), "m");
}

TEST_F(RequestTest, InvalidBirthdayOrLocationKeepsWhatWasSet) {
    auto request = privateRequest();
    request->setBirthdayWithMonth(12, 31, 1999);
    request->setBirthdayWithMonth(2, 30, 2001);
    request->setBirthdayWithMonth(13, 1, 2001);
    EXPECT_EQ(request->birthdayString(), "19991231");

    request->setLocationWithLatitude(10, 20, 5);
    auto location = request->location();
    request->setLocationWithLatitude(0, 20, 5);
    request->setLocationWithLatitude(90.5, 20, 5);
    request->setLocationWithDescription("");
    EXPECT_EQ(request->location(), location);
}

TEST_F(RequestTest, TestModeOnlyForThisDevice) {
    auto request = privateRequest();
    request->setTestDevices(std::vector<std::string>{});
    EXPECT_EQ(request->parameters().count("adtest"), 0u);
    request->setTestDevices(std::vector<std::string>{"someone-else"});
    EXPECT_EQ(request->parameters().count("adtest"), 0u);
    sim().device().setUniqueIdentifier("my-device");
    request->setTestDevices(std::vector<std::string>{"someone-else", "my-device"});
    EXPECT_EQ(request->parameters()["adtest"], platform::Value("on"));
}

TEST_F(RequestTest, DeprecatedTestingSwitchStillWorksAndWarnsEachTime) {
    auto request = privateRequest();
    request->setTesting(true);
    EXPECT_EQ(request->parameters()["testing"], platform::Value("1"));
    request->parameters();
    int warnings = 0;
    for (const std::string& line : sim().logLines()) {
        if (line.find("<Nimbra> \"testing\" property has been deprecated.  Use \"testDevices\" instead.") !=
            std::string::npos) {
            ++warnings;
        }
    }
    EXPECT_EQ(warnings, 2);
}

TEST_F(RequestTest, CounterIsTheReportedRequestCount) {
    stats()->setAdRequestCount(12);
    auto request = privateRequest();
    request->setCounter(5);
    EXPECT_EQ(request->parameters()["preqs"], platform::Value(5));
}

TEST_F(RequestTest, ParametersUseUpTheStatisticsButPeekingDoesNot) {
    stats()->incrementClickCount();
    auto request = privateRequest();
    EXPECT_EQ(request->peekParameters()["pcc"], platform::Value(1));
    EXPECT_EQ(request->parameters()["pcc"], platform::Value(1));
    EXPECT_EQ(request->parameters().count("pcc"), 0u);
}

TEST_F(RequestTest, CopyIsANewWorkingRequestWithSettingsButCounterZero) {
    auto original = privateRequest();
    original->setGender(ZELRequest::kGenderMale);
    original->addKeyword("k");
    original->setTestDevices(std::vector<std::string>{"d"});
    original->setTesting(true);
    original->setBirthdayWithMonth(1, 2, 1990);
    original->setLocationWithDescription("Lima");
    original->setAdditionalParameters(platform::Dictionary{{"x", "y"}});
    original->setInterstitialAd(true);
    original->setCounter(9);

    auto copy = std::dynamic_pointer_cast<ZELRequestPrivate>(original->copy());
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.get(), original.get());
    EXPECT_EQ(copy->gender(), ZELRequest::kGenderMale);
    EXPECT_EQ(copy->keywords(), original->keywords());
    EXPECT_EQ(copy->testDevices(), original->testDevices());
    EXPECT_TRUE(copy->isTesting());
    EXPECT_EQ(copy->birthday(), original->birthday());
    EXPECT_EQ(copy->location(), original->location());
    EXPECT_EQ(copy->additionalParameters(), original->additionalParameters());
    EXPECT_TRUE(copy->isInterstitialAd());
    EXPECT_EQ(copy->counter(), 0);

    // Independent from then on.
    copy->addKeyword("more");
    EXPECT_EQ(original->keywords()->size(), 1u);
    ZELRequestPrivate direct(*original);
    EXPECT_EQ(direct.counter(), 0);
}

TEST_F(RequestTest, DescriptionListsWhatIsSet) {
    auto request = privateRequest();
    EXPECT_EQ(request->description().rfind("ZELRequest<", 0), 0u);
    EXPECT_EQ(request->description().find('\n'), std::string::npos);
    request->setGender(ZELRequest::kGenderFemale);
    request->addKeyword("kw1");
    request->setLocationWithDescription("Quito");
    const std::string text = request->description();
    EXPECT_NE(text.find("\ngender:Female"), std::string::npos);
    EXPECT_NE(text.find("\nlocation:Quito"), std::string::npos);
    EXPECT_NE(text.find("\nkeywords:"), std::string::npos);
    EXPECT_NE(text.find("kw1"), std::string::npos);
    EXPECT_EQ(text.find("birthday"), std::string::npos);
}

TEST_F(RequestTest, SignalsSplitIntoOneKeyAndValue) {
    EXPECT_TRUE(ZELRequestPrivate::spamSignals().empty());  // the library gave nothing
    struct Case {
        const char* text;
        platform::Dictionary expected;
    };
    for (const Case& c : std::vector<Case>{
             {"key=value=rest", {{"key", "value"}}},
             {"ms=abc", {{"ms", "abc"}}},
             {"ms=", {}},
             {"ms==x", {}},
             {"nothing", {}},
             {"", {}},
         }) {
        signals.requestSignals = c.text;
        EXPECT_EQ(ZELRequestPrivate::spamSignals(), c.expected) << c.text;
    }
}

TEST_F(RequestTest, RequestTypesAreExactNames) {
    EXPECT_EQ(ZELRequestPrivate::requestTypeFromString("pexmark"), 1);
    EXPECT_EQ(ZELRequestPrivate::requestTypeFromString("orvik"), 4);
    EXPECT_EQ(ZELRequestPrivate::requestTypeFromString("qtr"), 5);
    EXPECT_EQ(ZELRequestPrivate::requestTypeFromString("QTR"), 0);
    EXPECT_EQ(ZELRequestPrivate::requestTypeFromString("pexmark "), 0);
    EXPECT_EQ(ZELRequestPrivate::requestTypeFromString(std::nullopt), 0);
}

TEST_F(RequestTest, MinimumOSVersionComparesMajorThenMinor) {
    sim().device().setSystemVersion("2.2.1");
    EXPECT_FALSE(ZELRequestPrivate::deviceAtLeastMinimumOSMajorVersion(3, 0));
    sim().device().setSystemVersion("3.0");
    EXPECT_TRUE(ZELRequestPrivate::deviceAtLeastMinimumOSMajorVersion(3, 0));
    sim().device().setSystemVersion("4.3");
    EXPECT_TRUE(ZELRequestPrivate::deviceAtLeastMinimumOSMajorVersion(3, 0));
    EXPECT_FALSE(ZELRequestPrivate::deviceAtLeastMinimumOSMajorVersion(4, 4));
    sim().device().setSystemVersion("3.1.9");
    EXPECT_FALSE(ZELRequestPrivate::deviceAtLeastMinimumOSMajorVersion(3, 2));
}

}  // namespace
