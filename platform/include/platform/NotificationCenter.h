#pragma once
// In-process notifications: observers by name and optional sender, delivered
// synchronously on the posting thread. An observer hears them for as long as
// it holds its Observation (usually a member, so it ends with its owner).

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Value.h"

namespace platform {

class NotificationCenter;

// An observer's registration: it observes until the token is destroyed,
// reset or overwritten. Held as a member, it ends with its owner.
class Observation {
public:
    Observation() = default;
    ~Observation() { reset(); }
    Observation(Observation&& other) noexcept : center_(other.center_), id_(other.id_) { other.center_ = nullptr; }
    Observation& operator=(Observation&& other) noexcept;
    Observation(const Observation&) = delete;
    Observation& operator=(const Observation&) = delete;

    void reset();
    bool isActive() const { return center_ != nullptr; }

private:
    friend class NotificationCenter;
    Observation(NotificationCenter* center, unsigned long long id) : center_(center), id_(id) {}
    NotificationCenter* center_ = nullptr;
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

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;
    virtual ~NotificationCenter() = default;

    // The process-wide default center.
    static NotificationCenter& defaultCenter();

    // name empty: every name; sender null: any sender. The callback runs
    // until the returned observation ends.
    [[nodiscard]] Observation observe(const std::string& name, const void* sender, Callback callback);

    void post(const std::string& name, const void* sender = nullptr, const Value& userInfo = Value());
    void post(const Notification& notification);

private:
    friend class Observation;
    void removeEntry(unsigned long long id);
    struct Entry {
        unsigned long long id;
        std::string name;
        const void* sender;
        Callback callback;
    };
    mutable std::recursive_mutex mutex_;
    std::vector<Entry> entries_;
    unsigned long long nextId_ = 1;
};

// Names of the application's notifications.
inline constexpr const char* kApplicationDidFinishLaunchingNotification = "UIApplicationDidFinishLaunchingNotification";
inline constexpr const char* kApplicationWillResignActiveNotification = "UIApplicationWillResignActiveNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* kApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kApplicationWillEnterForegroundNotification = "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* kApplicationWillTerminateNotification = "UIApplicationWillTerminateNotification";

}  // namespace platform
