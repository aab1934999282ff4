// Views on GTK: widgets sit at their views' frames, follow moves, hiding and
// interaction; the window's visibility drives the application's life.
#include <gtest/gtest.h>

#include "integration/support/GtkTestEnvironment.h"
#include "platform/ApplicationLifecycle.h"
#include "platform/Button.h"
#include "platform/NotificationCenter.h"
#include "platform/ViewController.h"
#include "platform/Window.h"
#include "platform/gtk/GtkViews.h"

namespace {

using nimbra::test::spinUntil;
using platform::Rect;

class ViewLayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        life.reset();
        life.finishLaunching();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
    }
    void TearDown() override {
        window->setHidden(true);
        life.reset();
    }
    platform::gtk::GtkBackend& backend = nimbra::test::gtkBackend();  // before the views
    platform::ApplicationLifecycle& life = platform::ApplicationLifecycle::shared();
    std::shared_ptr<platform::Window> window = std::make_shared<platform::Window>(Rect(0, 0, 320, 480));
    std::shared_ptr<platform::ViewController> root = std::make_shared<platform::ViewController>();
};

// They follow moves, interaction, hiding and removal.
TEST_F(ViewLayerTest, WidgetsSitAtTheirViewsFrames) {
    GtkWidget* gtkWindow = platform::gtk::widgetForView(*window);
    auto button = std::make_shared<platform::Button>(platform::ButtonType::RoundedRect, Rect(100, 100, 50, 50));
    root->view()->addSubview(button);
    // Whether the widget under a point of the root view is the button's.
    const auto picks = [&](double x, double y) {
        double wx = 0, wy = 0;
        gtk_widget_translate_coordinates(platform::gtk::widgetForView(*root->view()), gtkWindow, x, y, &wx, &wy);
        GtkWidget* w = gtk_widget_pick(gtkWindow, wx, wy, GTK_PICK_DEFAULT);
        GtkWidget* target = platform::gtk::widgetForView(*button);
        return w && (w == target || gtk_widget_is_ancestor(w, target));
    };
    ASSERT_TRUE(spinUntil([&] { return picks(110, 110); }));
    EXPECT_FALSE(picks(95, 110) || picks(110, 155));
    button->setFrame(Rect(200, 300, 60, 40));
    ASSERT_TRUE(spinUntil([&] { return picks(255, 315); }));
    EXPECT_FALSE(picks(110, 110));
    button->setUserInteractionEnabled(false);
    ASSERT_TRUE(spinUntil([&] { return !picks(255, 315); }));
    button->setUserInteractionEnabled(true);
    button->setHidden(true);
    ASSERT_TRUE(spinUntil([&] { return !picks(255, 315); }));
    button->removeFromSuperview();
    EXPECT_EQ(gtk_widget_get_parent(platform::gtk::widgetForView(*button)), nullptr);
}

// Hidden, the application goes to the background; shown again, it comes back.
TEST_F(ViewLayerTest, TheWindowsVisibilityDrivesTheApplication) {
    std::vector<std::string> names;
    auto observation =
        platform::NotificationCenter::defaultCenter().observe("", nullptr, [&](const platform::Notification& n) {
            if (n.name.starts_with("UIApplication")) names.push_back(n.name.substr(13));
        });
    for (bool hidden : {false, true, false}) {
        window->setHidden(hidden);
        const auto state = hidden ? platform::ApplicationState::Background : platform::ApplicationState::Active;
        ASSERT_TRUE(spinUntil([&] { return life.state() == state; })) << hidden;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"DidBecomeActiveNotification", "WillResignActiveNotification",
                                               "DidEnterBackgroundNotification", "WillEnterForegroundNotification",
                                               "DidBecomeActiveNotification"}));
}

}  // namespace
