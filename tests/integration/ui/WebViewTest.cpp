// What only WebKitGTK shows: navigation types of real links, forms, history
// and reloads; pages zoomed out to fit the view.
#include <gtest/gtest.h>

#include <webkit/webkit.h>

#include "contract/WebViewContract.h"
#include "integration/support/GtkDriver.h"
#include "platform/gtk/GtkViews.h"

namespace {

using nimbra::test::GtkDriver;
using platform::NavigationType;

class WebViewTest : public nimbra::contract::WebViewContract<GtkDriver> {
protected:
    bool waitForFinishes(int n) {
        return driver.runUntil([&] { return recorder->finishes >= n; }, 20);
    }
};

TEST_F(WebViewTest, NavigationTypesReachTheDelegate) {
    driver.html("/one",
                "<html><body><a id='l' href='/two'>two</a>"
                "<form id='f' action='/three' method='get'><input name='q' value='1'></form></body></html>");
    driver.page("/two");
    driver.page("/three");
    const std::vector<std::tuple<std::function<void()>, NavigationType, const char*>> steps = {
        {[&] { load(driver.url("/one")); }, NavigationType::Other, "/one"},
        {[&] { web->evaluateJavaScript("document.getElementById('l').click()"); }, NavigationType::LinkClicked, "/two"},
        {[&] { web->goBack(); }, NavigationType::BackForward, "/one"},
        {[&] { web->evaluateJavaScript("document.getElementById('f').submit()"); }, NavigationType::FormSubmitted,
         "/three?q=1"},
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

// A page wider than the view is zoomed out to fit across (to a quarter at
// most); a narrower page, or a view that does not scale pages, keeps its size.
TEST_F(WebViewTest, APageWiderThanTheViewIsZoomedOutToFit) {
    auto window = nimbra::test::shownWindow();
    window->rootViewController()->view()->addSubview(web);
    web->setFrame(platform::Rect(0, 0, 320, 100));
    web->setHidden(false);
    auto* engine = WEBKIT_WEB_VIEW(nimbra::test::findWidget(platform::gtk::widgetForView(*web),
                                                            [](GtkWidget* w) { return WEBKIT_IS_WEB_VIEW(w); }));
    ASSERT_TRUE(engine);
    const struct {
        int pageWidth;
        bool scales;
        double zoom;
    } cases[] = {{640, true, 0.5}, {4000, true, 0.25}, {200, true, 1.0}, {640, false, 1.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.pageWidth) + (c.scales ? " px, scaled" : " px"));
        webkit_web_view_set_zoom_level(engine, 1.0);
        web->setScalesPageToFit(c.scales);
        const std::string width = std::to_string(c.pageWidth);
        web->loadHTMLString("<body style='margin:0'><div style='width:" + width + "px;height:9px'></div></body>", {});
        ASSERT_TRUE(waitForFinishes(recorder->finishes + 1));
        evaluate("0");  // answered after the page's width was
        EXPECT_NEAR(webkit_web_view_get_zoom_level(engine), c.zoom, 0.01);
    }
}

}  // namespace
