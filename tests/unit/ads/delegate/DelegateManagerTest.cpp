#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Delegate/ZELDelegateManager.h"
#include "unit/support/SimTest.h"

namespace {

using Log = std::vector<std::string>;

class BannerListener : public ZELBannerViewDelegate {
public:
    explicit BannerListener(Log* log) : log_(log) {}
    void adViewDidReceiveAd(const std::shared_ptr<ZELBannerView>&) override {
        log_->push_back("banner.receive");
        if (onReceive) onReceive();
    }
    void adViewDidFailToReceiveAdWithError(const std::shared_ptr<ZELBannerView>&, const ZELRequestError& e) override {
        log_->push_back("banner.fail:" + e.localizedDescription());
        failThread = std::this_thread::get_id();
        if (onFail) onFail();
    }
    void adViewWillPresentScreen(const std::shared_ptr<ZELBannerView>&) override { log_->push_back("banner.present"); }
    void adViewWillDismissScreen(const std::shared_ptr<ZELBannerView>&) override { log_->push_back("banner.dismiss"); }
    void adViewDidDismissScreen(const std::shared_ptr<ZELBannerView>&) override { log_->push_back("banner.dismissed"); }
    void adViewWillLeaveApplication(const std::shared_ptr<ZELBannerView>&) override { log_->push_back("banner.leave"); }

    std::function<void()> onReceive, onFail;
    std::thread::id failThread;

private:
    Log* log_;
};

// Implements two operations only.
class InterstitialListener : public ZELInterstitialDelegate {
public:
    InterstitialListener(std::string name, Log* log) : name_(std::move(name)), log_(log) {}
    void interstitialDidReceiveAd(const std::shared_ptr<ZELInterstitial>&) override {
        log_->push_back(name_ + ".receive");
    }
    void interstitialDidFailToReceiveAdWithError(const std::shared_ptr<ZELInterstitial>&,
                                                 const ZELRequestError& e) override {
        log_->push_back(name_ + ".fail:" + std::to_string(e.code));
    }

private:
    std::string name_;
    Log* log_;
};

void raiseAll(ZELDelegateManager& manager) {
    manager.didReceiveAd();
    manager.didFailToReceiveAdWithError(ZELRequestError(ZELErrorNoAd, nullptr));
    manager.willPresentScreen();
    manager.willDismissScreen();
    manager.didDismissScreen();
    manager.willLeaveApplication();
}

class DelegateManagerTest : public SimTest {};

TEST_F(DelegateManagerTest, EventsReachEachListenerThatImplementsThemInFixedOrder) {
    Log log;
    auto banner = std::make_shared<BannerListener>(&log);
    auto sdk = std::make_shared<InterstitialListener>("sdk", &log);
    auto app = std::make_shared<InterstitialListener>("app", &log);
    auto manager = ZELDelegateManager::create();
    manager->setInterstitialDelegate(app);
    manager->setSdkInterstitialDelegate(sdk);
    manager->setBannerDelegate(banner);

    raiseAll(*manager);
    raiseAll(*manager);  // unimplemented operations are skipped from now on

    const Log once = {"banner.receive", "sdk.receive", "app.receive",
                      "banner.fail:Request Error: No ad to show.", "sdk.fail:1", "app.fail:1",
                      "banner.present", "banner.dismiss", "banner.dismissed", "banner.leave"};
    Log twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(log, twice);
    EXPECT_TRUE(ZELDelegateManager::didYouNilOutYourDelegate(sdk, ZELDelegateOperation::DidReceiveAd));
    EXPECT_FALSE(ZELDelegateManager::didYouNilOutYourDelegate(sdk, ZELDelegateOperation::WillLeaveApplication));
    EXPECT_FALSE(ZELDelegateManager::didYouNilOutYourDelegate(nullptr, ZELDelegateOperation::DidReceiveAd));
}

TEST_F(DelegateManagerTest, ListenersAreNotRetainedButHeldUntilTheLoopTurns) {
    Log log;
    auto manager = ZELDelegateManager::create();
    raiseAll(*manager);  // nobody listening

    auto listener = std::make_shared<BannerListener>(&log);
    std::weak_ptr<BannerListener> watch = listener;
    manager->setBannerDelegate(listener);
    manager->didReceiveAd();
    listener.reset();
    EXPECT_FALSE(watch.expired());  // kept for the rest of this turn
    sim().runUntilIdle();
    ASSERT_TRUE(watch.expired());
    raiseAll(*manager);  // a listener that went away is skipped
    EXPECT_EQ(log, Log{"banner.receive"});
}

TEST_F(DelegateManagerTest, ListenerMayReleaseTheManagersOwnerInsideItsCallback) {
    struct Controller {
        std::shared_ptr<ZELDelegateManager> manager = ZELDelegateManager::create();
    };
    auto controller = std::make_shared<Controller>();
    std::weak_ptr<ZELDelegateManager> manager = controller->manager;
    Log log;
    auto banner = std::make_shared<BannerListener>(&log);
    auto sdk = std::make_shared<InterstitialListener>("sdk", &log);
    banner->onReceive = [&] { controller.reset(); };
    controller->manager->setBannerDelegate(banner);
    controller->manager->setSdkInterstitialDelegate(sdk);

    ZELDelegateManager* raw = controller->manager.get();
    raw->didReceiveAd();

    EXPECT_EQ(log, (Log{"banner.receive", "sdk.receive"}));  // the event ran to its end
    EXPECT_FALSE(manager.expired());
    sim().runUntilIdle();
    EXPECT_TRUE(manager.expired());
}

TEST_F(DelegateManagerTest, FailureRaisedOnAnotherThreadArrivesOnTheMainThreadBeforeTheRaiserReturns) {
    Log log;
    auto listener = std::make_shared<BannerListener>(&log);
    auto manager = ZELDelegateManager::create();
    manager->setBannerDelegate(listener);
    std::atomic<bool> raiserReturned{false};
    bool deliveredBeforeReturn = false;
    listener->onFail = [&] { deliveredBeforeReturn = !raiserReturned.load(); };

    std::thread raiser([&] {
        // A temporary of this thread: it must outlive the delivery.
        manager->didFailToReceiveAdWithError(ZELRequestError(ZELErrorServerError, nullptr));
        raiserReturned = true;
    });
    const bool delivered = sim().runUntil([&] { return !log.empty(); });
    if (!delivered) sim().runLoop().reset();  // lets a raiser still waiting go
    raiser.join();

    ASSERT_TRUE(delivered);
    EXPECT_EQ(log, Log{"banner.fail:Request Error: Server error processing the request."});
    EXPECT_EQ(listener->failThread, std::this_thread::get_id());
    EXPECT_TRUE(deliveredBeforeReturn);
}

}  // namespace
