#pragma once
// An application window with a root controller on the sim backend, a listener
// for the screen callbacks, and a count of the full-screen notifications.

#include "Delegate/ZELBannerViewDelegate.h"
#include "Delegate/ZELDelegateManager.h"
#include "Object/ZELObjectPrivate.h"
#include "ViewController/ZELFullScreenAdScreen.h"
#include "platform/NotificationCenter.h"
#include "platform/ViewController.h"
#include "platform/Window.h"
#include "unit/support/SimTest.h"

class ScreenEvents : public ZELBannerViewDelegate {
public:
    void adViewWillPresentScreen(const std::shared_ptr<ZELBannerView>&) override { events.push_back("willPresent"); }
    void adViewWillDismissScreen(const std::shared_ptr<ZELBannerView>&) override { events.push_back("willDismiss"); }
    void adViewDidDismissScreen(const std::shared_ptr<ZELBannerView>&) override { events.push_back("didDismiss"); }
    void adViewWillLeaveApplication(const std::shared_ptr<ZELBannerView>&) override { events.push_back("willLeave"); }
    std::vector<std::string> events;
};

class ScreensTest : public SimTest {
protected:
    void SetUp() override {
        ZELObjectPrivate::resetProcessState();
        SimTest::SetUp();
        window = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
        root = std::make_shared<platform::ViewController>();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        manager->setBannerDelegate(events);
        auto& center = platform::NotificationCenter::defaultCenter();
        covers.push_back(center.observe(ZELViewControllerWillPresentFullScreen, nullptr,
                                        [this](const platform::Notification&) { ++willPresent; }));
        covers.push_back(center.observe(ZELViewControllerDidRelinquishFullScreen, nullptr,
                                        [this](const platform::Notification&) { ++didRelinquish; }));
    }
    void TearDown() override {
        root->dismissModalViewControllerAnimated(false);
        window.reset();
        root.reset();
        sim().runUntilIdle();
        ZELObjectPrivate::resetProcessState();
        SimTest::TearDown();
    }
    // The topmost screen over the root, if it is of the kind asked for.
    template <typename T>
    std::shared_ptr<T> shown() const {
        auto top = root->modalViewController();
        while (top && top->modalViewController()) top = top->modalViewController();
        return std::dynamic_pointer_cast<T>(top);
    }
    // A screen of kind T whose callbacks reach this fixture's listener.
    template <typename T>
    std::shared_ptr<T> newScreen() const {
        auto made = T::init();
        made->setDelegateManager(manager);
        return made;
    }
    // Lets presentations and dismissals run to their end.
    void settle() { sim().advance(1); }

    std::shared_ptr<platform::Window> window;
    std::shared_ptr<platform::ViewController> root;
    std::shared_ptr<ScreenEvents> events = std::make_shared<ScreenEvents>();
    std::shared_ptr<ZELDelegateManager> manager = ZELDelegateManager::create();
    std::vector<platform::Observation> covers;
    int willPresent = 0, didRelinquish = 0;
};
