#pragma once

#include <memory>

#include "platform/ApplicationLifecycle.h"
#include "platform/TabBarController.h"
#include "platform/Window.h"

class TabBarAppDelegate : public platform::ApplicationDelegate {
public:
    TabBarAppDelegate();
    ~TabBarAppDelegate() override;

    void applicationDidFinishLaunching(platform::Application& application) override;

    std::shared_ptr<platform::Window> window() const { return window_; }
    void setWindow(std::shared_ptr<platform::Window> window) { window_ = std::move(window); }
    std::shared_ptr<platform::TabBarController> tabBarController() const { return tabBarController_; }
    void setTabBarController(std::shared_ptr<platform::TabBarController> c) { tabBarController_ = std::move(c); }

private:
    std::shared_ptr<platform::Window> window_;
    std::shared_ptr<platform::TabBarController> tabBarController_;
};
