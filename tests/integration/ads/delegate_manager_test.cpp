// The delegate manager on the real GLib run loop: an event raised on a worker
// thread reaches the application's delegate on the main thread, and the
// raiser does not go on until it has.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Delegate/ZELDelegateManager.h"
#include "integration/support/GtkTestEnvironment.h"

using namespace nimbra::test;

namespace {

class FailureListener : public ZELBannerViewDelegate {
public:
    void adViewDidFailToReceiveAdWithError(const std::shared_ptr<ZELBannerView>&,
                                           const ZELRequestError& error) override {
        onMainThread = platform::RunLoop::main().isMainThread();
        sawRaiserStillWaiting = !raiserReturned->load();
        message = error.localizedDescription();
        calls.fetch_add(1);
    }
    std::atomic<bool>* raiserReturned = nullptr;
    bool onMainThread = false;
    bool sawRaiserStillWaiting = false;
    std::string message;
    std::atomic<int> calls{0};
};

TEST(DelegateManagerOnGtk, FailureFromAWorkerThreadIsDeliveredOnTheMainThreadBeforeTheRaiserReturns) {
    gtkBackend();
    auto manager = ZELDelegateManager::create();
    auto listener = std::make_shared<FailureListener>();
    std::atomic<bool> raiserReturned{false};
    listener->raiserReturned = &raiserReturned;
    manager->setBannerDelegate(listener);

    std::thread raiser([&] {
        manager->didFailToReceiveAdWithError(ZELRequestError(ZELErrorNetworkError, nullptr));
        raiserReturned = true;
    });
    // The main thread must keep turning the loop for the worker to finish;
    // a broken hand-over shows as a worker that never returns.
    const bool returned = spinUntil([&] { return raiserReturned.load(); }, 30);
    raiser.join();

    ASSERT_TRUE(returned);
    EXPECT_EQ(listener->calls.load(), 1);
    EXPECT_TRUE(listener->onMainThread);
    EXPECT_TRUE(listener->sawRaiserStillWaiting);
    EXPECT_EQ(listener->message, "Request Error: A network error occurred.");
}

}  // namespace
