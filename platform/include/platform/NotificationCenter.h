#pragma once
// In-process notifications: observers by name and optional sender, delivered
// synchronously. Main thread only (MainThread.h). An observer hears them for as long as
// it holds its Observation (usually a member, so it ends with its owner).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Value.h"

namespace platform {

class NotificationCenter;
namespace detail {
struct ObserverList;
}

// An observer's registration: it observes until the token is destroyed,
// reset or overwritten. Held as a member, it ends with its owner. It may
// outlive its center, which then simply has nothing left to remove.
class Observation {
public:
    Observation() = default;
    ~Observation() { reset(); }
    Observation(Observation&& other) noexcept = default;
    Observation& operator=(Observation&& other) noexcept;
    Observation(const Observation&) = delete;
    Observation& operator=(const Observation&) = delete;

    void reset();
    bool isActive() const { return !observers_.expired(); }

private:
    friend class NotificationCenter;
    Observation(std::weak_ptr<detail::ObserverList> observers, unsigned long long id)
        : observers_(std::move(observers)), id_(id) {}
    std::weak_ptr<detail::ObserverList> observers_;
    unsigned long long id_ = 0;
};

struct Notification {
    std::string name;
    const void* object = nullptr;  // the sender's identity (may be null)
    Value userInfo;                // null or a dictionary
};

class NotificationCenter {
public:
    using Callback = std::function<void(const Notification&)>;

    NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;
    virtual ~NotificationCenter();

    // The process-wide default center.
    static NotificationCenter& defaultCenter();

    // name empty: every name; sender null: any sender. The callback runs
    // until the returned observation ends.
    [[nodiscard]] Observation observe(const std::string& name, const void* sender, Callback callback);

    void post(const std::string& name, const void* sender = nullptr, const Value& userInfo = Value());
    void post(const Notification& notification);

private:
    // Shared with the observations only weakly, so a token that outlives its
    // center finds nothing to remove instead of a freed center.
    std::shared_ptr<detail::ObserverList> observers_;
};

// Names of the application's notifications.
inline constexpr const char* kApplicationDidFinishLaunchingNotification = "UIApplicationDidFinishLaunchingNotification";
inline constexpr const char* kApplicationWillResignActiveNotification = "UIApplicationWillResignActiveNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* kApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kApplicationWillEnterForegroundNotification =
    "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* kApplicationWillTerminateNotification = "UIApplicationWillTerminateNotification";

}  // namespace platform
