#include "unit/ads/statistics/StatisticsTestSupport.h"
#include "Request/ZELRequestError.h"
#include "Request/ZELRequestPrivate.h"

namespace {

class RequestErrorTest : public StatisticsFixture {};

TEST_F(RequestErrorTest, EveryCodeHasItsExactMessage) {
    sim().device().setSystemVersion("2.2.1");
    const std::pair<long, const char*> cases[] = {
        {0, "Request Error: Invalid ad request parameter(s).  Check the Xcode console for details."},
        {1, "Request Error: No ad to show."},
        {2, "Request Error: A network error occurred."},
        {3, "Request Error: Server error processing the request."},
        {4, "Request Error: This device's OS is 2.2.1.  It is below the minimum of 3.0."},
        {5, "Request Error: The Nimbra Ad request was unable to be fulfilled before a timeout occurred."},
        {6, "Request Error: Invalid ad request parameter(s).  Check the Xcode console for details."},
        {-1, "Request Error: Invalid ad request parameter(s).  Check the Xcode console for details."},
    };
    for (const auto& [code, message] : cases) {
        ZELRequestError error = ZELRequestError::errorWithCode(code, nullptr);
        EXPECT_EQ(error.domain, kZELErrorDomain);
        EXPECT_EQ(error.localizedDescription(), message) << code;
        EXPECT_EQ(error.localizedFailureReason(), message) << code;
        EXPECT_EQ(error.userInfo().size(), 2u) << code;
    }
}

// Only an invalid request carries its parameters, read without using up the
// statistics the next request reports.
TEST_F(RequestErrorTest, InvalidRequestCarriesTheParametersAndLeavesTheStatistics) {
    stats()->incrementClickCount();
    stats()->setBreakOutToSafari();
    stats()->startTimingNamed("prl");
    stats()->endTimingNamed("prl");
    auto request = std::dynamic_pointer_cast<ZELRequestPrivate>(ZELRequest::request());
    request->addKeyword("shoes");
    request->setCounter(3);
    EXPECT_EQ(ZELRequestError::errorWithCode(7, request.get()).userInfo().count("kw"), 0u);
    ZELRequestError invalid = ZELRequestError::errorWithCode(ZELErrorInvalidRequest, request.get());
    platform::Dictionary expected = request->peekParameters();
    expected[kZELLocalizedDescriptionKey] = invalid.localizedDescription();
    expected[kZELLocalizedFailureReasonErrorKey] = invalid.localizedDescription();
    EXPECT_EQ(invalid.userInfo(), expected);
    EXPECT_EQ(invalid.userInfo().at("kw"), platform::Value(platform::Array{"shoes"}));
    EXPECT_EQ(invalid.userInfo().at("pcc"), platform::Value(1));
    platform::Dictionary next = request->parameters();
    EXPECT_EQ(next["pcc"], platform::Value(1));
    EXPECT_EQ(next["pcbo"], platform::Value(1));
    EXPECT_EQ(next.count("prl"), 1u);
}

}  // namespace
