#pragma once
// Watches reachability of a well-known public host and reports the kind of
// network the device is on, for the request's "net" parameter.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform {
class Reachability;
}

// Given as an address literal so that watching it never resolves a name.
inline constexpr const char kZELNetworkCheckerHost[] = "8.8.8.8";

// Posted on the platform's default center when the network comes back: the
// type goes from not reachable to reachable.
inline constexpr const char ZELNetworkCheckerDidBecomeReachable[] = "ZELNetworkCheckerDidBecomeReachable";

enum ZELNetworkType : uint32_t {
    kZELNetworkTypeUndetermined = 0,  // checking off, or no flags yet
    kZELNetworkTypeNotReachable = 1,
    kZELNetworkTypeLocal = 2,  // Wi-Fi or wired
    kZELNetworkTypeCellular = 3,
};

class ZELNetworkChecker {
public:
    // The process-wide checker, watching from its first use; never destroyed.
    static ZELNetworkChecker& sharedChecker();

    // A checker that is off until setEnabled(true).
    ZELNetworkChecker();
    ~ZELNetworkChecker();
    ZELNetworkChecker(const ZELNetworkChecker&) = delete;
    ZELNetworkChecker& operator=(const ZELNetworkChecker&) = delete;

    void setEnabled(bool enabled);
    bool isEnabled() const { return networkRef_ != nullptr; }

    // Resets the type to undetermined and starts watching when not already.
    void startNetworkChecking();
    // Stops watching and resets the type to undetermined.
    void stopNetworkChecking();

    // Reachability flags as they arrive; counts every update, and says when
    // the network came back (ZELNetworkCheckerDidBecomeReachable).
    void setNetworkTypeFromFlags(uint32_t flags);

    uint32_t networkType() const { return networkType_; }
    uint32_t changeCount() const { return changeCount_; }
    // "wi" on a local network, "ed" on cellular, otherwise no value.
    std::optional<std::string> networkTypeString() const;

private:
    std::unique_ptr<platform::Reachability> networkRef_;
    uint32_t networkType_ = kZELNetworkTypeUndetermined;
    uint32_t changeCount_ = 0;
};
