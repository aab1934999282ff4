#include <atomic>
#include <thread>

#include "Delegate/ZELDelegateManager.h"
#include "unit/support/SimTest.h"

namespace {

using Log = std::vector<std::string>;

struct BannerListener : ZELBannerViewDelegate {
    using View = const std::shared_ptr<ZELBannerView>&;
    explicit BannerListener(Log* log) : log(log) {}
    void adViewDidReceiveAd(View) override {
        log->push_back("banner.receive");
        if (onReceive) onReceive();
    }
    void adViewDidFailToReceiveAdWithError(View, const ZELRequestError& e) override {
        log->push_back("banner.fail:" + e.localizedDescription());
    }
    void adViewWillPresentScreen(View) override { log->push_back("banner.present"); }
    void adViewWillDismissScreen(View) override { log->push_back("banner.dismiss"); }
    void adViewDidDismissScreen(View) override { log->push_back("banner.dismissed"); }
    void adViewWillLeaveApplication(View) override { log->push_back("banner.leave"); }
    Log* log;
    std::function<void()> onReceive;
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

// (Only the banner's listener: nothing in the component or the application
// sets an interstitial one.)
TEST_F(DelegateManagerTest, EventsReachTheListenerThatIsNotRetainedButHeldUntilTheLoopTurns) {
    Log log;
    auto manager = ZELDelegateManager::create();
    raiseAll(*manager);  // nobody listening
    auto listener = std::make_shared<BannerListener>(&log);
    std::weak_ptr<BannerListener> watch = listener;
    manager->setBannerDelegate(listener);
    raiseAll(*manager);
    const Log all = {"banner.receive", "banner.fail:Request Error: No ad to show.", "banner.present",
                     "banner.dismiss", "banner.dismissed", "banner.leave"};
    EXPECT_EQ(log, all);
    listener.reset();
    EXPECT_FALSE(watch.expired());  // kept for the rest of this turn
    sim().runUntilIdle();
    ASSERT_TRUE(watch.expired());
    raiseAll(*manager);  // a listener that went away is skipped
    EXPECT_EQ(log, all);
}

// An event raised on a worker thread reaches the listener on the main thread,
// and the raiser goes on only once it has.
TEST_F(DelegateManagerTest, EventFromAWorkerThreadIsDeliveredOnTheMainThreadBeforeTheRaiserReturns) {
    Log log;
    auto listener = std::make_shared<BannerListener>(&log);
    std::atomic<bool> returned{false};
    bool onMainBeforeReturn = false;
    listener->onReceive = [&] { onMainBeforeReturn = platform::RunLoop::main().isMainThread() && !returned; };
    auto manager = ZELDelegateManager::create();
    manager->setBannerDelegate(listener);
    std::thread raiser([&] {
        manager->didReceiveAd();
        returned = true;
    });
    const bool done = sim().runUntil([&] { return returned.load(); }, 30);
    raiser.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(log, Log{"banner.receive"});
    EXPECT_TRUE(onMainBeforeReturn);
}

}  // namespace
