#include "Network/ZELNetworkChecker.h"

#include "platform/NotificationCenter.h"
#include "platform/Services.h"

ZELNetworkChecker& ZELNetworkChecker::sharedChecker() {
    // Lives to the end of the process: never torn down after the backend.
    static ZELNetworkChecker* checker = [] {
        auto* c = new ZELNetworkChecker();
        c->setEnabled(true);
        return c;
    }();
    return *checker;
}

ZELNetworkChecker::ZELNetworkChecker() = default;

ZELNetworkChecker::~ZELNetworkChecker() { stopNetworkChecking(); }

void ZELNetworkChecker::setEnabled(bool enabled) {
    if (enabled == isEnabled()) {
        return;
    }
    if (enabled) {
        startNetworkChecking();
    } else {
        stopNetworkChecking();
    }
}

void ZELNetworkChecker::startNetworkChecking() {
    networkType_ = kZELNetworkTypeUndetermined;
    if (networkRef_) {
        return;
    }
    std::unique_ptr<platform::Reachability> reachability = platform::Reachability::create(kZELNetworkCheckerHost);
    if (!reachability) {
        return;
    }
    // The watch is owned here and stops (with no later callback) when it is
    // stopped or destroyed, so the callback never outlives this checker.
    if (!reachability->start([this](uint32_t flags) { setNetworkTypeFromFlags(flags); })) {
        return;
    }
    networkRef_ = std::move(reachability);
}

void ZELNetworkChecker::stopNetworkChecking() {
    if (!networkRef_) {
        return;
    }
    networkRef_->stop();
    networkRef_.reset();
    networkType_ = kZELNetworkTypeUndetermined;
}

void ZELNetworkChecker::setNetworkTypeFromFlags(uint32_t flags) {
    ++changeCount_;
    const uint32_t before = networkType_;
    if (!(flags & platform::kReachabilityFlagReachable)) {
        networkType_ = kZELNetworkTypeNotReachable;
    } else if (flags & platform::kReachabilityFlagIsWWAN) {
        networkType_ = kZELNetworkTypeCellular;
    } else {
        networkType_ = kZELNetworkTypeLocal;
    }
    // Only a real change: the first flags after the start tell nothing new.
    if (before == kZELNetworkTypeNotReachable && networkType_ >= kZELNetworkTypeLocal)
        platform::NotificationCenter::defaultCenter().post(ZELNetworkCheckerDidBecomeReachable, this);
}

std::optional<std::string> ZELNetworkChecker::networkTypeString() const {
    if (networkType_ > kZELNetworkTypeLocal) {
        return std::string("ed");
    }
    if (networkType_ == kZELNetworkTypeLocal) {
        return std::string("wi");
    }
    return std::nullopt;
}
