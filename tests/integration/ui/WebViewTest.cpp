// What only WebKitGTK shows: navigation types of real links, forms, history
// and reloads. The web view's contract is in
// GtkContractTest; refused navigations of a page's frames carry every real
// ad of the banner tests.
#include <gtest/gtest.h>

#include "contract/WebViewContract.h"
#include "integration/support/GtkDriver.h"

namespace {

using nimbra::test::GtkDriver;
using platform::NavigationType;

class WebViewTest : public nimbra::contract::WebViewContract<GtkDriver> {
protected:
    bool waitForFinishes(int n) { return driver.runUntil([&] { return recorder->finishes >= n; }, 20); }
};

TEST_F(WebViewTest, NavigationTypesReachTheDelegate) {
    driver.html("/one", "<html><body><a id='l' href='/two'>two</a>"
                        "<form id='f' action='/three' method='get'><input name='q' value='1'></form></body></html>");
    driver.page("/two");
    driver.page("/three");
    const std::vector<std::tuple<std::function<void()>, NavigationType, const char*>> steps = {
        {[&] { load(driver.url("/one")); }, NavigationType::Other, "/one"},
        {[&] { web->evaluateJavaScript("document.getElementById('l').click()"); }, NavigationType::LinkClicked, "/two"},
        {[&] { web->goBack(); }, NavigationType::BackForward, "/one"},
        {[&] { web->evaluateJavaScript("document.getElementById('f').submit()"); }, NavigationType::FormSubmitted, "/three?q=1"},
        {[&] { web->reload(); }, NavigationType::Reload, "/three?q=1"},
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        const auto& [act, type, url] = steps[i];
        SCOPED_TRACE(url);
        act();
        ASSERT_TRUE(waitForFinishes(static_cast<int>(i) + 1));
        EXPECT_EQ(recorder->offers.back().type, type);
        EXPECT_NE(recorder->offers.back().url.find(url), std::string::npos);
    }
    EXPECT_TRUE(recorder->fails.empty());
}

}  // namespace
