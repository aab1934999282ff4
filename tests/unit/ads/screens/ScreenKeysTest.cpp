// The component's screens by keyboard and screen reader: Escape closes the
// browser and the web-app screen as Done and the close button do, and what
// their controls and the banner are read as.

#include "unit/ads/screens/ScreensFixture.h"

#include "Browser/ZELBrowserController.h"
#include "View/ZELBannerView.h"
#include "WebApp/ZELWebAppViewController.h"

namespace {

// Escape where the window sends it; false when nobody took it.
bool pressEscape(const platform::Window& window) {
    auto target = window.keyCommandTarget(platform::KeyCommand::Cancel);
    if (target) target->performKeyCommand(platform::KeyCommand::Cancel);
    return target != nullptr;
}

}  // namespace

TEST_F(ScreensTest, EscapeClosesTheBrowserAndTheWebAppScreenOnceAsTheirCloseWould) {
    const std::function<std::shared_ptr<ZELViewController>()> screens[] = {
        [this] { return newScreen<ZELBrowserController>(); }, [this] { return newScreen<ZELWebAppViewController>(); }};
    for (const auto& make : screens) {
        std::weak_ptr<ZELViewController> gone;
        {
            auto screen = make();
            gone = screen;
            screen->presentFromViewController(root);
            settle();
            EXPECT_TRUE(screen->view()->accessibilityViewIsModal());
            EXPECT_FALSE(window->keyCommandTarget(platform::KeyCommand::NextTab));
            ASSERT_TRUE(pressEscape(*window));
            EXPECT_FALSE(pressEscape(*window)) << "a screen on its way out takes no second Escape";
        }
        settle();
        EXPECT_TRUE(gone.expired());
    }
    EXPECT_EQ(didRelinquish, 2);
    EXPECT_EQ(events->events, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss", "willPresent",
                                                        "willDismiss", "didDismiss"}));
}

// The unit tests run in the C locale: the English texts.
TEST_F(ScreensTest, ControlsAndTheBannerAreReadByWhatTheyDo) {
    auto browser = ZELBrowserController::init();
    browser->presentFromViewController(root);
    settle();
    std::vector<std::string> labels;
    for (const auto& item : browser->toolbar()->items())
        if (!item->isSpace()) labels.push_back(item->accessibilityLabel());
    EXPECT_EQ(labels, (std::vector<std::string>{"Back", "Forward", "Reload", "Open in Browser", "Done"}));
    browser->relinquishScreen();

    auto webApp = ZELWebAppViewController::init();
    webApp->presentFromViewController(root);
    settle();
    std::vector<std::string> buttons;
    for (const auto& view : webApp->view()->subviews())
        if (view->accessibilityRole() == platform::AccessibilityRole::Button)
            buttons.push_back(view->accessibilityLabel());
    EXPECT_EQ(buttons, std::vector<std::string>{"Close"});
    webApp->relinquishScreen();

    auto banner = ZELBannerView::initWithFrame(platform::Rect(0, 361, 320, 50));
    EXPECT_EQ(banner->accessibilityRole(), platform::AccessibilityRole::Advertisement);
    EXPECT_EQ(banner->accessibilityLabel(), "Advertisement");
}
