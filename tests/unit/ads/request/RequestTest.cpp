#include "Network/ZELNetworkChecker.h"
#include "Request/ZELRequestError.h"
#include "Request/ZELRequestPrivate.h"
#include "Utility/ZELIdentifierUtilities.h"
#include "unit/ads/statistics/StatisticsTestSupport.h"

namespace {

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
    auto request = privateRequest();
    platform::Dictionary expected = ZELIdentifierUtilities::sharedInstance().parameters();
    expected["js"] = "ruma-sdk-i-v4.1.1";
    expected["net"] = "wi";
    expected["session_id"] = stats()->sessionId();
    expected["preqs"] = 0;
    EXPECT_EQ(request->parameters(), expected);
    // The request's own counter wins over the statistics' total.
    stats()->setAdRequestCount(12);
    request->setCounter(5);
    EXPECT_EQ(request->parameters()["preqs"], platform::Value(5));
}

// An invalid birthday or place keeps what was set before it.
TEST_F(RequestTest, TargetingBecomesTypedParameters) {
    auto request = privateRequest();
    request->setGender(3);
    EXPECT_EQ(request->parameters().count("cust_gender"), 0u);
    request->setGender(ZELRequest::kGenderFemale);
    request->setBirthdayWithMonth(2, 29, 2000);
    request->setBirthdayWithMonth(2, 30, 2001);
    request->setBirthdayWithMonth(13, 1, 2001);
    request->addKeyword("a");
    request->addKeyword("");
    request->addKeyword("a");
    request->setAdditionalParameters(platform::Dictionary{{"color", "red"}, {"n", 2}});
    request->setLocationWithDescription("Plaza \"Mayor\"");
    request->setLocationWithLatitude(0, 20, 5);
    request->setLocationWithLatitude(90.5, 20, 5);
    request->setLocationWithDescription("");
    platform::Dictionary p = request->parameters();
    EXPECT_EQ(p["cust_gender"], platform::Value("f"));
    EXPECT_EQ(p["cust_age"], platform::Value("20000229"));
    EXPECT_EQ(p["kw"], platform::Value(platform::Array{"a", "a"}));
    EXPECT_EQ(p["extras"], platform::Value(platform::Dictionary{{"color", "red"}, {"n", 2}}));
    ASSERT_TRUE(p["uule"].asString());
    EXPECT_EQ(p["uule"].asString()->rfind("a+", 0), 0u);
    request->setLocationWithLatitude(45.5, -73.25, 12.5);
    EXPECT_EQ(request->parameters()["uule"].asString()->rfind("e1+", 0), 0u);
}

TEST_F(RequestTest, TestModeOnlyForThisDevice) {
    auto request = privateRequest();
    sim().device().setUniqueIdentifier("my-device");
    request->setTestDevices(std::vector<std::string>{"someone-else"});
    EXPECT_EQ(request->parameters().count("adtest"), 0u);
    request->setTestDevices(std::vector<std::string>{"someone-else", "my-device"});
    EXPECT_EQ(request->parameters()["adtest"], platform::Value("on"));
    request->setTesting(true);
    EXPECT_EQ(request->parameters()["testing"], platform::Value("1"));
}

TEST_F(RequestTest, CopyIsANewWorkingRequestWithSettingsButCounterZero) {
    auto original = privateRequest();
    original->setGender(ZELRequest::kGenderMale);
    original->addKeyword("k");
    original->setLocationWithDescription("Lima");
    original->setAdditionalParameters(platform::Dictionary{{"x", "y"}});
    original->setInterstitialAd(true);
    original->setCounter(9);
    auto copy = std::dynamic_pointer_cast<ZELRequestPrivate>(original->copy());
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->isInterstitialAd());
    EXPECT_EQ(copy->counter(), 0);
    EXPECT_EQ(ZELRequestPrivate(*original).counter(), 0);
    platform::Dictionary expected = original->peekParameters();
    expected["preqs"] = 0;
    EXPECT_EQ(copy->peekParameters(), expected);
    copy->addKeyword("more");
    EXPECT_EQ(original->keywords()->size(), 1u);
}

TEST_F(RequestTest, SignalsSplitIntoOneKeyAndValue) {
    EXPECT_TRUE(ZELRequestPrivate::spamSignals().empty());  // the library gave nothing
    const std::pair<const char*, platform::Dictionary> cases[] = {
        {"key=value=rest", {{"key", "value"}}}, {"ms=abc", {{"ms", "abc"}}}, {"ms=", {}},
        {"ms==x", {}}, {"nothing", {}}, {"", {}},
    };
    for (const auto& [text, expected] : cases) {
        signals.requestSignals = text;
        EXPECT_EQ(ZELRequestPrivate::spamSignals(), expected) << text;
    }
}

// The fixed texts are the code's own table; the one made from the device and
// the codes outside the table are not.
TEST_F(RequestTest, ErrorMessagesForTheDeviceAndUnknownCodes) {
    sim().device().setSystemVersion("2.2.1");
    const std::string invalid = "Request Error: Invalid ad request parameter(s).  Check the Xcode console for details.";
    const std::pair<long, std::string> cases[] = {
        {4, "Request Error: This device's OS is 2.2.1.  It is below the minimum of 3.0."}, {6, invalid}, {-1, invalid}};
    for (const auto& [code, message] : cases) {
        ZELRequestError error = ZELRequestError::errorWithCode(code, nullptr);
        EXPECT_EQ(error.localizedDescription(), message) << code;
        EXPECT_EQ(error.localizedFailureReason(), message) << code;
    }
}

// Only an invalid request carries its parameters, read without using up the
// statistics the next request reports.
TEST_F(RequestTest, InvalidRequestErrorCarriesTheParametersAndLeavesTheStatistics) {
    stats()->incrementClickCount();
    stats()->setBreakOutToSafari();
    stats()->startTimingNamed("prl");
    stats()->endTimingNamed("prl");
    auto request = privateRequest();
    request->addKeyword("shoes");
    request->setCounter(3);
    EXPECT_EQ(ZELRequestError::errorWithCode(7, request.get()).userInfo().count("kw"), 0u);
    ZELRequestError invalid = ZELRequestError::errorWithCode(ZELErrorInvalidRequest, request.get());
    platform::Dictionary expected = request->peekParameters();
    expected[kZELLocalizedDescriptionKey] = expected[kZELLocalizedFailureReasonErrorKey] = invalid.localizedDescription();
    EXPECT_EQ(invalid.userInfo(), expected);
    EXPECT_EQ(invalid.userInfo().at("kw"), platform::Value(platform::Array{"shoes"}));
    EXPECT_EQ(invalid.userInfo().at("pcc"), platform::Value(1));
    platform::Dictionary next = request->parameters();
    EXPECT_EQ(std::tuple(next["pcc"], next["pcbo"], next.count("prl")), std::tuple(platform::Value(1), platform::Value(1), 1u));
}

}  // namespace
