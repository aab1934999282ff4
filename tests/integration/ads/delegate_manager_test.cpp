// The delegate manager on the real GLib run loop: an event raised on a worker
// thread reaches the application's delegate on the main thread, and the
// raiser does not go on until it has.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Delegate/ZELDelegateManager.h"
#include "integration/support/GtkTestEnvironment.h"

namespace {

std::atomic<bool> raiserReturned{false};

class FailureListener : public ZELBannerViewDelegate {
public:
    void adViewDidFailToReceiveAdWithError(const std::shared_ptr<ZELBannerView>&, const ZELRequestError& error) override {
        onMainThreadBeforeTheRaiserReturned = platform::RunLoop::main().isMainThread() && !raiserReturned;
        message = error.localizedDescription();
        ++calls;
    }
    bool onMainThreadBeforeTheRaiserReturned = false;
    std::string message;
    std::atomic<int> calls{0};
};

TEST(DelegateManagerOnGtk, FailureFromAWorkerThreadIsDeliveredOnTheMainThreadBeforeTheRaiserReturns) {
    nimbra::test::gtkBackend();
    auto manager = ZELDelegateManager::create();
    auto listener = std::make_shared<FailureListener>();
    manager->setBannerDelegate(listener);
    std::thread raiser([&] {
        manager->didFailToReceiveAdWithError(ZELRequestError(ZELErrorNetworkError, nullptr));
        raiserReturned = true;
    });
    // The main thread must keep turning the loop for the worker to finish;
    // a broken hand-over shows as a worker that never returns.
    const bool returned = nimbra::test::spinUntil([&] { return raiserReturned.load(); }, 30);
    raiser.join();
    ASSERT_TRUE(returned);
    EXPECT_EQ(listener->calls.load(), 1);
    EXPECT_TRUE(listener->onMainThreadBeforeTheRaiserReturned);
    EXPECT_EQ(listener->message, "Request Error: A network error occurred.");
}

}  // namespace
