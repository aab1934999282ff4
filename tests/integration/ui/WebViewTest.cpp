// What only WebKitGTK shows: navigation types of real links, forms, history
// and reloads; zooming wide pages. The web view's contract is in
// GtkContractTest; refused navigations of a page's frames carry every real
// ad of the banner tests.
#include <gtest/gtest.h>

#include "contract/WebViewContract.h"
#include "integration/support/GtkDriver.h"
#include "platform/Window.h"

namespace {

using nimbra::test::GtkDriver;
using nimbra::test::spinUntil;
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

TEST_F(WebViewTest, PagesWiderThanTheViewAreZoomedOutOnlyWhenAskedTo) {
    auto window = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
    web->setFrame(platform::Rect(0, 0, 320, 400));
    web->setHidden(false);
    window->addSubview(web);
    window->makeKeyAndVisible();
    load(driver.html("/wide", "<html><body style='margin:0'><div style='width:960px;height:10px'></div></body></html>"));
    ASSERT_TRUE(waitForFinishes(1));
    auto innerWidth = [&] { return std::atof(evaluate("window.innerWidth").value_or("0").c_str()); };
    ASSERT_TRUE(spinUntil([&] { return innerWidth() == 320; }, 5));
    web->setScalesPageToFit(true);
    web->reload();
    ASSERT_TRUE(waitForFinishes(2));
    ASSERT_TRUE(spinUntil([&] { return innerWidth() > 900; }, 5));
    EXPECT_NEAR(innerWidth(), 960, 10);
    web->removeFromSuperview();
}

}  // namespace
