#pragma once
// The six events the component reports to the application, and the base that
// lets a listener implement only some of them.

#include <bitset>
#include <cstddef>

enum class ZELDelegateOperation : int {
    DidReceiveAd = 0,
    DidFailToReceiveAd,
    WillPresentScreen,
    WillDismissScreen,
    DidDismissScreen,
    WillLeaveApplication,
};
inline constexpr std::size_t kZELDelegateOperationCount = 6;

// Every operation of a listener is optional. The default bodies do nothing and
// note that the listener does not implement them, so the manager skips that
// operation from then on. A listener may also answer respondsToOperation
// itself.
class ZELOptionalOperations {
public:
    virtual ~ZELOptionalOperations() = default;

    virtual bool respondsToOperation(ZELDelegateOperation operation) const {
        return !unimplemented_.test(static_cast<std::size_t>(operation));
    }

protected:
    void markNotImplemented(ZELDelegateOperation operation) { unimplemented_.set(static_cast<std::size_t>(operation)); }

private:
    std::bitset<kZELDelegateOperationCount> unimplemented_;
};
