#include "TabBarAppDelegate.h"

TabBarAppDelegate::TabBarAppDelegate() {
    outlets().add("window", window_);
    outlets().add("tabBarController", tabBarController_);
}

TabBarAppDelegate::~TabBarAppDelegate() {
    tabBarController_.reset();
    window_.reset();
}

void TabBarAppDelegate::applicationDidFinishLaunching(platform::Application&) {
    if (window_ && tabBarController_) window_->addSubview(tabBarController_->view());
}
