// The delegate manager's own promises: it does not keep the listener alive
// (but holds it while it calls it), and an event
// raised off the main thread is delivered on it. (Which event reaches which
// callback is the banner and screen tests'; nothing in the component or the
// application sets an interstitial listener.)
#include <atomic>
#include <thread>

#include "Delegate/ZELDelegateManager.h"
#include "unit/support/SimTest.h"

namespace {

struct Listener : ZELBannerViewDelegate {
    void adViewDidReceiveAd(const std::shared_ptr<ZELBannerView>&) override {
        ++received;
        if (onReceive) onReceive();
    }
    int received = 0;
    std::function<void()> onReceive;
};

class DelegateManagerTest : public SimTest {};

TEST_F(DelegateManagerTest, ListenerIsNotRetainedButHeldWhileItIsCalled) {
    auto manager = ZELDelegateManager::create();
    manager->didReceiveAd();  // nobody listening
    auto listener = std::make_shared<Listener>();
    std::weak_ptr<Listener> watch = listener;
    manager->setBannerDelegate(listener);
    // The listener lets itself go inside its callback, and is still there
    // for the rest of it.
    listener->onReceive = [&] {
        listener.reset();
        EXPECT_FALSE(watch.expired());
    };
    manager->didReceiveAd();
    EXPECT_TRUE(watch.expired());
    manager->didReceiveAd();  // a listener that went away is skipped
}

// An event raised on a worker thread reaches the listener on the main thread,
// and the raiser goes on only once it has.
TEST_F(DelegateManagerTest, EventFromAWorkerThreadIsDeliveredOnTheMainThreadBeforeTheRaiserReturns) {
    auto listener = std::make_shared<Listener>();
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
    EXPECT_EQ(listener->received, 1);
    EXPECT_TRUE(onMainBeforeReturn);
}

}  // namespace
