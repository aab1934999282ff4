#include "WebView/ZELUserActivation.h"

#include <utility>

#include "Timing/ZELTiming.h"

void ZELUserActivation::grantForPress() {
    grantedAt_ = ZELTiming::counter();
    used_ = false;
    refusalNoted_ = false;
}

void ZELUserActivation::grantForGesture() {
    if (grantedAt_ && ZELTiming::counter() - *grantedAt_ < kLifetime) return;
    grantForPress();
}

bool ZELUserActivation::isActive() const {
    return grantedAt_ && !used_ && ZELTiming::counter() - *grantedAt_ < kLifetime;
}

void ZELUserActivation::use() { used_ = true; }

void ZELUserActivation::reset() { *this = ZELUserActivation(); }

bool ZELUserActivation::noteRefusal() { return !std::exchange(refusalNoted_, true); }
