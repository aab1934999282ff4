#pragma once
// The application's chrome lays screens out the same way on every backend:
// the status bar's strip, the application frame under it, the key window's
// screens following it as it hides and shows, and the interface turning.

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "contract/Driver.h"
#include "platform/Application.h"
#include "platform/ViewController.h"
#include "platform/Window.h"

namespace nimbra::contract {

class AnyOrientation : public platform::ViewController {
public:
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation) override { return true; }
    void didRotateFromInterfaceOrientation(platform::InterfaceOrientation from) override { turnedFrom.push_back(from); }
    std::vector<platform::InterfaceOrientation> turnedFrom;
};

template <typename Driver>
class ChromeContract : public ::testing::Test {
protected:
    void SetUp() override {
        window->setRootViewController(root);
        window->makeKeyAndVisible();
    }
    void TearDown() override {
        // The chrome is the process's: leave it as the next test expects it.
        window->deviceDidRotate(platform::InterfaceOrientation::Portrait);
        app.setStatusBarHidden(false, false);
        app.setNetworkActivityIndicatorVisible(false);
    }
    // The status bar's strip, the application frame, the root screen's frame
    // and whether the bar is drawn.
    std::tuple<platform::Rect, platform::Rect, platform::Rect, bool> chrome() {
        return {app.statusBarFrame(), platform::Screen::main().applicationFrame(), root->view()->frame(),
                driver.drawn(*window).statusBar};
    }
    Driver driver;
    platform::Application& app = platform::Application::shared();
    std::shared_ptr<platform::Window> window = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
    std::shared_ptr<AnyOrientation> root = std::make_shared<AnyOrientation>();
};
TYPED_TEST_SUITE_P(ChromeContract);

using platform::Rect;

TYPED_TEST_P(ChromeContract, TheStatusBarsStripGoesToTheScreensWhenHidden) {
    auto& app = this->app;
    ASSERT_EQ(app.keyWindow(), this->window);
    const Rect strip(0, 0, 320, platform::kStatusBarHeight), under(0, 20, 320, 460), whole(0, 0, 320, 480);
    EXPECT_EQ(this->chrome(), std::tuple(strip, under, under, true));
    app.setStatusBarHidden(true, false);
    EXPECT_EQ(this->chrome(), std::tuple(Rect(), whole, whole, false));
    app.setStatusBarHidden(false, true);
    EXPECT_EQ(this->root->view()->frame(), Rect(0, 20, 320, 460));
    EXPECT_TRUE(this->driver.drawn(*this->window).statusBar);
}

TYPED_TEST_P(ChromeContract, TheNetworkIndicatorShowsWhenAsked) {
    EXPECT_FALSE(this->driver.drawn(*this->window).networkSpinner);
    this->app.setNetworkActivityIndicatorVisible(true);
    EXPECT_TRUE(this->driver.drawn(*this->window).networkSpinner);
}

// The screen and the status bar go with the interface, also full screen.
TYPED_TEST_P(ChromeContract, TheChromeTurnsWithTheInterface) {
    auto& app = this->app;
    ASSERT_TRUE(this->window->deviceDidRotate(platform::InterfaceOrientation::LandscapeRight));
    EXPECT_EQ(this->root->turnedFrom, std::vector{platform::InterfaceOrientation::Portrait});
    EXPECT_EQ(app.statusBarOrientation(), platform::InterfaceOrientation::LandscapeRight);
    EXPECT_EQ(this->chrome(), std::tuple(Rect(0, 0, 480, 20), Rect(0, 20, 480, 300), Rect(0, 20, 480, 300), true));
    app.setStatusBarHidden(true, false);
    EXPECT_EQ(this->root->view()->frame(), Rect(0, 0, 480, 320));
}

REGISTER_TYPED_TEST_SUITE_P(ChromeContract, TheStatusBarsStripGoesToTheScreensWhenHidden,
                            TheNetworkIndicatorShowsWhenAsked, TheChromeTurnsWithTheInterface);

}  // namespace nimbra::contract
