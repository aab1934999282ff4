// What the toolkit reads to assistive technology and where the keys go: the
// roles and labels the views carry, the key commands a window hands to the
// screen the user sees, and the modality of a presented screen. (How GTK
// turns them into widgets is the accessibility end-to-end test's.)
#include "platform/ActivityIndicatorView.h"
#include "platform/MailComposeViewController.h"
#include "platform/TabBarController.h"
#include "platform/Toolbar.h"
#include "platform/Window.h"
#include "platform/sim/SimViews.h"
#include "unit/support/SimTest.h"

namespace {

using namespace platform;

class KeyboardAccessTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        window = std::make_shared<Window>(Rect(0, 0, 320, 480));
        std::vector<std::shared_ptr<ViewController>> screens;
        for (const char* title : {"Uno", "Dos", "Tres"}) {
            screens.push_back(std::make_shared<ViewController>());
            screens.back()->setTitle(title);
        }
        tabs->setViewControllers(screens);
        window->setRootViewController(tabs);
        window->makeKeyAndVisible();
    }
    void TearDown() override {
        tabs->dismissModalViewControllerAnimated(false);
        window.reset();
        SimTest::TearDown();
    }
    // Sends the command where the window sends it; false when nobody took it.
    bool press(KeyCommand command) {
        auto target = window->keyCommandTarget(command);
        if (target) target->performKeyCommand(command);
        return target != nullptr;
    }
    std::shared_ptr<Window> window;
    std::shared_ptr<TabBarController> tabs = std::make_shared<TabBarController>();
};

TEST_F(KeyboardAccessTest, TabsSwitchRoundTheEndsWithTheFocusOnTheTabChosen) {
    const auto& buttons = tabs->tabBar()->buttons();
    ASSERT_EQ(buttons.size(), 3u);
    EXPECT_EQ(tabs->tabBar()->accessibilityRole(), AccessibilityRole::TabList);
    for (size_t i = 0; i < buttons.size(); ++i) {
        EXPECT_EQ(buttons[i]->accessibilityRole(), AccessibilityRole::Tab);
        EXPECT_EQ(buttons[i]->accessibilityLabel(), tabs->viewControllers()[i]->title());
    }
    const std::pair<KeyCommand, size_t> steps[] = {
        {KeyCommand::PreviousTab, 2}, {KeyCommand::NextTab, 0}, {KeyCommand::NextTab, 1}, {KeyCommand::PreviousTab, 0}};
    for (const auto& [command, selected] : steps) {
        const int focusBefore = sim::SimViewPeer::of(*buttons[selected])->focusRequests;
        ASSERT_TRUE(press(command));
        EXPECT_EQ(tabs->selectedIndex(), selected);
        EXPECT_TRUE(buttons[selected]->isSelected());
        EXPECT_EQ(sim::SimViewPeer::of(*buttons[selected])->focusRequests, focusBefore + 1);
    }
    EXPECT_FALSE(press(KeyCommand::Cancel)) << "the tabs have nothing to close";
}

// A screen over the tabs takes the keys: the tabs under it do not switch, and
// only a screen with a Cancel takes Escape, once.
TEST_F(KeyboardAccessTest, AScreenOverTheTabsIsModalAndTakesEscapeOnlyWhenItCanClose) {
    auto plain = std::make_shared<ViewController>();
    tabs->presentModalViewController(plain, false);
    EXPECT_TRUE(plain->view()->accessibilityViewIsModal());
    EXPECT_FALSE(press(KeyCommand::NextTab));
    EXPECT_EQ(tabs->selectedIndex(), 0u);
    EXPECT_FALSE(press(KeyCommand::Cancel));
    tabs->dismissModalViewControllerAnimated(false);

    auto composer = std::make_shared<MailComposeViewController>();
    tabs->presentModalViewController(composer, false);
    ASSERT_TRUE(press(KeyCommand::Cancel));
    sim().advance(1);
    EXPECT_EQ(tabs->modalViewController(), nullptr) << "Escape is the composer's Cancel";
    EXPECT_FALSE(composer->canPerformKeyCommand(KeyCommand::Cancel)) << "a finished composer takes no second Escape";
}

// Every control is read by a name; layout boxes by none; a spinner says what
// it is doing.
TEST_F(KeyboardAccessTest, ControlsCarryTheirRoleAndAName) {
    auto toolbar = std::make_shared<Toolbar>(Rect(0, 0, 320, 44));
    auto spinner = std::make_shared<ActivityIndicatorView>(ActivityIndicatorStyle::White);
    auto holder = BarButtonItem::withCustomView(spinner);
    holder->setAccessibilityLabel("Working");
    auto done = BarButtonItem::systemItem(BarButtonSystemItem::Done);
    auto labelled = BarButtonItem::withTitle("<", BarButtonItemStyle::Plain, {});
    labelled->setAccessibilityLabel("Back");
    toolbar->setItems({labelled, holder, done});
    auto button = [](const std::shared_ptr<BarButtonItem>& item) { return item->representedView(); };
    // Done is read by its title.
    // clang-format off
    const std::tuple<std::shared_ptr<View>, AccessibilityRole, std::string> expected[] = {
        {toolbar, AccessibilityRole::Toolbar, ""}, {button(labelled), AccessibilityRole::Button, "Back"},
        {button(done), AccessibilityRole::Button, ""}, {spinner, AccessibilityRole::ProgressIndicator, "Working"},
        {std::make_shared<ActivityIndicatorView>(), AccessibilityRole::ProgressIndicator, "Loading"},
        {std::make_shared<View>(), AccessibilityRole::None, ""},
    };
    // clang-format on
    for (const auto& [view, role, label] : expected) {
        ASSERT_TRUE(view);
        EXPECT_EQ(view->accessibilityRole(), role) << label;
        EXPECT_EQ(view->accessibilityLabel(), label);
    }
    EXPECT_EQ(std::dynamic_pointer_cast<Button>(button(done))->title(), "Done");
}

}  // namespace
