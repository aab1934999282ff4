#include "platform/NotificationCenter.h"

#include <algorithm>
#include <utility>

#include "platform/MainThread.h"

namespace platform {

namespace detail {
struct ObserverList {
    struct Entry {
        unsigned long long id;
        std::string name;
        const void* sender;
        NotificationCenter::Callback callback;
    };
    std::vector<Entry> entries;
    unsigned long long nextId = 1;

    void remove(unsigned long long id) {
        checkMainThread("a notification observation");
        std::erase_if(entries, [&](const Entry& e) { return e.id == id; });
    }
    bool contains(unsigned long long id) const {
        return std::any_of(entries.begin(), entries.end(), [&](const Entry& e) { return e.id == id; });
    }
};
}  // namespace detail

NotificationCenter::NotificationCenter() : observers_(std::make_shared<detail::ObserverList>()) {}
NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: observers may still remove themselves during exit.
    static NotificationCenter* center = new NotificationCenter();
    return *center;
}

Observation& Observation::operator=(Observation&& other) noexcept {
    if (this != &other) {
        reset();
        observers_ = std::exchange(other.observers_, {});
        id_ = other.id_;
    }
    return *this;
}

void Observation::reset() {
    if (auto observers = std::exchange(observers_, {}).lock()) observers->remove(id_);
}

Observation NotificationCenter::observe(const std::string& name, const void* sender, Callback callback) {
    checkMainThread("the notification center");
    if (!callback) return {};
    const unsigned long long id = observers_->nextId++;
    observers_->entries.push_back({id, name, sender, std::move(callback)});
    return Observation(observers_, id);
}

void NotificationCenter::post(const std::string& name, const void* sender, const Value& userInfo) {
    post(Notification{name, sender, userInfo});
}

void NotificationCenter::post(const Notification& notification) {
    checkMainThread("the notification center");
    // Deliver to the observers registered when the post began; each is checked
    // again just before its call, so one removed by an earlier callback (or
    // destroyed after removing itself) is skipped. Callbacks may add, remove
    // and post freely.
    // Held for the whole post, so a callback may destroy the center itself.
    const std::shared_ptr<detail::ObserverList> observers = observers_;
    std::vector<std::pair<unsigned long long, Callback>> targets;
    for (const auto& e : observers->entries) {
        if ((e.name.empty() || e.name == notification.name) && (!e.sender || e.sender == notification.object))
            targets.emplace_back(e.id, e.callback);
    }
    for (auto& [id, callback] : targets) {
        if (observers->contains(id)) callback(notification);
    }
}

}  // namespace platform
