#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Delegate/ZELDelegateManager.h"
#include "unit/support/SimTest.h"

namespace {

// Records every banner call it implements, in order.
class RecordingBannerDelegate : public ZELBannerViewDelegate {
public:
    explicit RecordingBannerDelegate(std::vector<std::string>* log) : log_(log) {}
    void adViewDidReceiveAd(const std::shared_ptr<ZELBannerView>&) override { record("banner.didReceiveAd"); }
    void adViewDidFailToReceiveAdWithError(const std::shared_ptr<ZELBannerView>&,
                                           const ZELRequestError& error) override {
        record("banner.didFail:" + std::to_string(error.code));
        lastErrorText = error.localizedDescription();
        failThread = std::this_thread::get_id();
        if (onFail) onFail();
    }
    void adViewWillPresentScreen(const std::shared_ptr<ZELBannerView>&) override { record("banner.willPresent"); }
    void adViewWillDismissScreen(const std::shared_ptr<ZELBannerView>&) override { record("banner.willDismiss"); }
    void adViewDidDismissScreen(const std::shared_ptr<ZELBannerView>&) override { record("banner.didDismiss"); }
    void adViewWillLeaveApplication(const std::shared_ptr<ZELBannerView>&) override { record("banner.willLeave"); }

    std::string lastErrorText;
    std::thread::id failThread;
    std::function<void()> onFail;

private:
    void record(const std::string& what) { log_->push_back(what); }
    std::vector<std::string>* log_;
};

// Implements one operation only.
class ReceiveOnlyDelegate : public ZELBannerViewDelegate {
public:
    void adViewDidReceiveAd(const std::shared_ptr<ZELBannerView>&) override {
        ++received;
        if (onReceive) onReceive();
    }
    int received = 0;
    std::function<void()> onReceive;
};

class NamedInterstitialDelegate : public ZELInterstitialDelegate {
public:
    NamedInterstitialDelegate(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {}
    void interstitialDidReceiveAd(const std::shared_ptr<ZELInterstitial>&) override {
        log_->push_back(name_ + ".didReceiveAd");
    }
    void interstitialDidFailToReceiveAdWithError(const std::shared_ptr<ZELInterstitial>&,
                                                 const ZELRequestError& error) override {
        log_->push_back(name_ + ".didFail:" + std::to_string(error.code));
    }

private:
    std::string name_;
    std::vector<std::string>* log_;
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

TEST_F(DelegateManagerTest, EachEventReachesItsOperationInListenerOrder) {
    std::vector<std::string> log;
    auto banner = std::make_shared<RecordingBannerDelegate>(&log);
    auto sdk = std::make_shared<NamedInterstitialDelegate>("sdk", &log);
    auto app = std::make_shared<NamedInterstitialDelegate>("app", &log);
    auto manager = ZELDelegateManager::create();
    manager->setBannerDelegate(banner);
    manager->setInterstitialDelegate(app);
    manager->setSdkInterstitialDelegate(sdk);

    raiseAll(*manager);

    const std::vector<std::string> expected = {
        "banner.didReceiveAd", "sdk.didReceiveAd", "app.didReceiveAd", "banner.didFail:1", "sdk.didFail:1",
        "app.didFail:1",       "banner.willPresent", "banner.willDismiss", "banner.didDismiss", "banner.willLeave",
    };
    EXPECT_EQ(log, expected);
    EXPECT_EQ(banner->lastErrorText, "Request Error: No ad to show.");
}

TEST_F(DelegateManagerTest, ListenerImplementingOneOperationHearsOnlyThatOne) {
    auto delegate = std::make_shared<ReceiveOnlyDelegate>();
    auto manager = ZELDelegateManager::create();
    manager->setBannerDelegate(delegate);

    raiseAll(*manager);
    raiseAll(*manager);

    EXPECT_EQ(delegate->received, 2);
    EXPECT_TRUE(ZELDelegateManager::didYouNilOutYourDelegate(delegate, ZELDelegateOperation::DidReceiveAd));
    for (auto op : {ZELDelegateOperation::DidFailToReceiveAd, ZELDelegateOperation::WillPresentScreen,
                    ZELDelegateOperation::WillDismissScreen, ZELDelegateOperation::DidDismissScreen,
                    ZELDelegateOperation::WillLeaveApplication}) {
        EXPECT_FALSE(ZELDelegateManager::didYouNilOutYourDelegate(delegate, op)) << static_cast<int>(op);
    }
    EXPECT_FALSE(ZELDelegateManager::didYouNilOutYourDelegate(nullptr, ZELDelegateOperation::DidReceiveAd));
}

TEST_F(DelegateManagerTest, NoListenersOrGoneListenersMakeEventsNoOps) {
    auto manager = ZELDelegateManager::create();
    raiseAll(*manager);

    auto delegate = std::make_shared<ReceiveOnlyDelegate>();
    manager->setBannerDelegate(delegate);
    std::weak_ptr<ReceiveOnlyDelegate> watch = delegate;
    delegate.reset();
    ASSERT_TRUE(watch.expired());  // the manager does not retain its listeners
    raiseAll(*manager);
    sim().runUntilIdle();
}

TEST_F(DelegateManagerTest, ListenerHeldUntilTheLoopTurns) {
    std::vector<std::string> log;
    auto delegate = std::make_shared<RecordingBannerDelegate>(&log);
    std::weak_ptr<RecordingBannerDelegate> watch = delegate;
    auto manager = ZELDelegateManager::create();
    manager->setBannerDelegate(delegate);

    manager->didReceiveAd();
    delegate.reset();
    EXPECT_FALSE(watch.expired());
    sim().runUntilIdle();
    EXPECT_TRUE(watch.expired());
}

TEST_F(DelegateManagerTest, ListenerMayReleaseTheOwnerOfTheManagerInsideItsCallback) {
    // The banner's controller owns the manager; the application drops the
    // banner (and so the controller) from inside the callback.
    struct Controller {
        std::shared_ptr<ZELDelegateManager> manager = ZELDelegateManager::create();
    };
    auto controller = std::make_shared<Controller>();
    std::weak_ptr<ZELDelegateManager> manager = controller->manager;

    auto first = std::make_shared<ReceiveOnlyDelegate>();
    std::vector<std::string> log;
    auto second = std::make_shared<NamedInterstitialDelegate>("sdk", &log);
    first->onReceive = [&] { controller.reset(); };
    manager.lock()->setBannerDelegate(first);
    manager.lock()->setSdkInterstitialDelegate(second);

    {
        ZELDelegateManager* raw = manager.lock().get();
        raw->didReceiveAd();
    }
    // The rest of the event still ran on a live manager.
    EXPECT_EQ(first->received, 1);
    EXPECT_EQ(log, std::vector<std::string>{"sdk.didReceiveAd"});
    EXPECT_FALSE(manager.expired());
    sim().runUntilIdle();
    EXPECT_TRUE(manager.expired());
}

TEST_F(DelegateManagerTest, FailureRaisedOnAnotherThreadArrivesOnTheMainThreadBeforeTheRaiserReturns) {
    std::vector<std::string> log;
    auto delegate = std::make_shared<RecordingBannerDelegate>(&log);
    auto manager = ZELDelegateManager::create();
    manager->setBannerDelegate(delegate);

    std::atomic<bool> raiserReturned{false};
    bool deliveredBeforeReturn = false;
    delegate->onFail = [&] { deliveredBeforeReturn = !raiserReturned.load(); };

    std::thread raiser([&] {
        // The error is a temporary of this thread: it must still be valid
        // when the main thread delivers it.
        manager->didFailToReceiveAdWithError(ZELRequestError(ZELErrorServerError, nullptr));
        raiserReturned = true;
    });
    const bool delivered = sim().runUntil([&] { return !log.empty(); });
    if (!delivered) sim().runLoop().reset();  // releases a raiser still waiting
    raiser.join();

    ASSERT_TRUE(delivered);
    EXPECT_EQ(log, std::vector<std::string>{"banner.didFail:3"});
    EXPECT_EQ(delegate->failThread, std::this_thread::get_id());
    EXPECT_TRUE(deliveredBeforeReturn);
    EXPECT_TRUE(raiserReturned.load());
    EXPECT_EQ(delegate->lastErrorText, "Request Error: Server error processing the request.");
}

}  // namespace
