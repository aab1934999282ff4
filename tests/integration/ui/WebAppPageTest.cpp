// What a person sees of a page in the web-app screen, read back from a
// screenshot of the virtual display: a page that sets no background is on
// white, one that sets its own (transparent included) keeps it.
#include <gtest/gtest.h>

#include "WebApp/ZELWebAppViewController.h"
#include "WebView/ZELWebView.h"
#include "integration/support/Phone.h"
#include "integration/support/XInput.h"

namespace {

using namespace nimbra::test;

TEST(WebAppPage, IsDrawnOnWhiteUnlessItSetsABackground) {
    auto window = shownWindow();
    auto root = window->rootViewController();
    XInput input;
    if (!input.available() || !installed("import")) GTEST_SKIP() << "needs an X display and ImageMagick's import";

    // clang-format off
    const struct {
        const char* name;
        const char* html;
        Rgb expected;
    } rows[] = {
        {"no background", "<html><body><p>Black text, nothing else</p></body></html>", {255, 255, 255}},
        {"a dark background of its own", "<html><body style='background:#1b2330;color:#fff'><p>White text on dark</p></body></html>", {0x1b, 0x23, 0x30}},
        {"an explicitly transparent one, over the screen's black", "<html><head><style>html,body{background:transparent}</style></head><body><p>On black</p></body></html>", {0, 0, 0}},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto screen = ZELWebAppViewController::init();
        screen->loadHTML(std::string(row.html), std::nullopt);
        screen->presentFromViewController(root);
        ASSERT_TRUE(spinUntil(
            [&] { return screen->isAppeared() && screen->webView() && !screen->webView()->isLoading(); }, 20));
        const auto& page = *screen->webView();
        // Below the text, away from the close button, in a picture of the window.
        const auto at = input.place(page, page.bounds().width() / 2, page.bounds().height() * 0.75);
        ASSERT_TRUE(at);
        const auto [window, x, y] = *at;
        Rgb seen{-1, -1, -1};
        spinUntil(
            [&] {
                const auto shot = screenshotBy({"import", "-window", std::to_string(window)}, {},
                                               fs::path(g_get_tmp_dir()) / "webapp-page.png");
                if (shot && x < shot->width && y < shot->height) seen = shot->at(x, y);
                return seen.near(row.expected, 8);
            },
            10);
        EXPECT_TRUE(seen.near(row.expected, 8)) << "drawn " << describe(seen) << ", wanted " << describe(row.expected);
        screen->relinquishScreen();
        ASSERT_TRUE(spinUntil([&] { return !root->modalViewController(); }, 10));
    }
}

}  // namespace
