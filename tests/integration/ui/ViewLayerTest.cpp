// Views on GTK: widgets sit at their views' frames, follow moves, hiding and
// interaction, and the window takes the screen's shape when the interface turns.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "integration/support/GtkTestEnvironment.h"
#include "platform/Application.h"
#include "platform/Button.h"
#include "platform/ViewController.h"
#include "platform/Window.h"
#include "platform/gtk/GtkViews.h"

namespace {

using nimbra::test::spinFor;
using nimbra::test::spinUntil;
using platform::Rect;

class AnyOrientation : public platform::ViewController {
public:
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation) override { return true; }
};

class ViewLayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        nimbra::test::gtkBackend();
        window = std::make_shared<platform::Window>(Rect(0, 0, 320, 480));
        root = std::make_shared<AnyOrientation>();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        gtkWindow = platform::gtk::widgetForView(*window);
        ASSERT_TRUE(gtkWindow);
    }
    void TearDown() override {
        platform::Application::shared().setStatusBarOrientation(platform::InterfaceOrientation::Portrait);
    }
    // The widget under a point of the window's coordinates (in points).
    GtkWidget* pick(double x, double y) {
        GtkWidget* rootFrame = platform::gtk::widgetForView(*root->view());
        double wx = 0, wy = 0;
        // From the root view's coordinates (below the status bar) to the window's.
        gtk_widget_translate_coordinates(rootFrame, gtkWindow, x, y - 20, &wx, &wy);
        return gtk_widget_pick(gtkWindow, wx, wy, GTK_PICK_DEFAULT);
    }
    bool inside(GtkWidget* w, const platform::View& v) {
        GtkWidget* target = platform::gtk::widgetForView(v);
        return w && (w == target || gtk_widget_is_ancestor(w, target));
    }

    std::shared_ptr<platform::Window> window;
    std::shared_ptr<AnyOrientation> root;
    GtkWidget* gtkWindow = nullptr;
};

TEST_F(ViewLayerTest, WidgetsSitAtTheirFramesAndFollowChanges) {
    auto button = std::make_shared<platform::Button>(platform::ButtonType::RoundedRect, Rect(100, 100, 50, 50));
    button->setTitle("OK");
    root->view()->addSubview(button);
    ASSERT_TRUE(spinUntil([&] { return inside(pick(110, 130), *button); }));
    EXPECT_FALSE(inside(pick(95, 130), *button));
    EXPECT_FALSE(inside(pick(110, 175), *button));

    button->setFrame(Rect(200, 300, 60, 40));
    ASSERT_TRUE(spinUntil([&] { return inside(pick(255, 335), *button); }));
    EXPECT_FALSE(inside(pick(110, 130), *button));

    button->setUserInteractionEnabled(false);
    ASSERT_TRUE(spinUntil([&] { return !inside(pick(255, 335), *button); }));
    button->setUserInteractionEnabled(true);
    button->setHidden(true);
    ASSERT_TRUE(spinUntil([&] { return !inside(pick(255, 335), *button); }));
    button->setHidden(false);
    button->removeFromSuperview();
    spinFor(0.2);
    EXPECT_FALSE(inside(pick(255, 335), *button));
    EXPECT_EQ(gtk_widget_get_parent(platform::gtk::widgetForView(*button)), nullptr);
}

TEST_F(ViewLayerTest, WindowTakesTheScreensShapeWhenTheInterfaceTurns) {
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_width(gtkWindow) == 320; }));
    EXPECT_EQ(gtk_widget_get_height(gtkWindow), 480);
    ASSERT_TRUE(window->deviceDidRotate(platform::InterfaceOrientation::LandscapeLeft));
    EXPECT_EQ(platform::Screen::main().bounds(), Rect(0, 0, 480, 320));
    EXPECT_EQ(platform::Screen::main().applicationFrame(), Rect(0, 20, 480, 300));
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_width(gtkWindow) == 480 && gtk_widget_get_height(gtkWindow) == 320; }));
    ASSERT_TRUE(window->deviceDidRotate(platform::InterfaceOrientation::Portrait));
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_width(gtkWindow) == 320 && gtk_widget_get_height(gtkWindow) == 480; }));
}

}  // namespace

namespace {

std::string fileText(const char* path) {
    std::string text;
    if (FILE* f = std::fopen(path, "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
        std::fclose(f);
    }
    return text;
}

TEST(GtkDeviceTest, DeviceAndApplicationAnswerFromTheSystem) {
    nimbra::test::gtkBackend();
    auto& device = platform::Device::current();
    std::string osRelease = fileText("/etc/os-release");
    auto at = osRelease.find("\nVERSION_ID=");
    if (at != std::string::npos) {
        std::string line = osRelease.substr(at + 12, osRelease.find('\n', at + 1) - at - 12);
        std::erase(line, '"');
        EXPECT_EQ(device.systemVersion(), line);
    }
    std::string machineId = fileText("/etc/machine-id");
    std::erase(machineId, '\n');
    if (!machineId.empty()) {
        EXPECT_EQ(device.uniqueIdentifier(), machineId);
    }
    EXPECT_EQ(device.userInterfaceIdiom(), platform::UserInterfaceIdiom::Phone);
    EXPECT_FALSE(device.model().empty());

    auto& app = platform::Application::shared();
    EXPECT_FALSE(app.canOpenURL(*platform::URL::parse("nimbra-no-such-scheme:x")));
    EXPECT_FALSE(app.openURL(*platform::URL::parse("nimbra-no-such-scheme:x")));
    EXPECT_FALSE(app.supportsBackgroundTasks());
    app.setStatusBarHidden(true, false);
    EXPECT_EQ(app.statusBarFrame(), Rect());
    EXPECT_EQ(platform::Screen::main().applicationFrame(), Rect(0, 0, 320, 480));
    app.setStatusBarHidden(false, false);
    EXPECT_EQ(app.statusBarFrame(), Rect(0, 0, 320, 20));
    EXPECT_GE(platform::Screen::main().scale(), 1.0);
}

}  // namespace
