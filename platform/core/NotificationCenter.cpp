#include "platform/NotificationCenter.h"

#include <algorithm>
#include <utility>

namespace platform {

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: observers may still remove themselves during exit.
    static NotificationCenter* center = new NotificationCenter();
    return *center;
}

Observation& Observation::operator=(Observation&& other) noexcept {
    if (this != &other) {
        reset();
        center_ = other.center_;
        id_ = other.id_;
        other.center_ = nullptr;
    }
    return *this;
}

void Observation::reset() {
    if (auto* center = std::exchange(center_, nullptr)) center->removeEntry(id_);
}

Observation NotificationCenter::observe(const std::string& name, const void* sender, Callback callback) {
    if (!callback) return {};
    std::lock_guard lock(mutex_);
    const unsigned long long id = nextId_++;
    entries_.push_back({id, name, sender, std::move(callback)});
    return Observation(this, id);
}

void NotificationCenter::removeEntry(unsigned long long id) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [&](const Entry& e) { return e.id == id; });
}

void NotificationCenter::post(const std::string& name, const void* sender, const Value& userInfo) {
    post(Notification{name, sender, userInfo});
}

void NotificationCenter::post(const Notification& notification) {
    // Deliver to the observers registered when the post began; each is checked
    // again just before its call, so one removed by an earlier callback (or
    // destroyed after removing itself) is skipped. Callbacks run unlocked so
    // they may add, remove and post freely.
    std::vector<std::pair<unsigned long long, Callback>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const Entry& e : entries_) {
            if ((e.name.empty() || e.name == notification.name) && (!e.sender || e.sender == notification.object))
                targets.emplace_back(e.id, e.callback);
        }
    }
    for (auto& [id, callback] : targets) {
        {
            std::lock_guard lock(mutex_);
            bool live = std::any_of(entries_.begin(), entries_.end(), [id = id](const Entry& e) { return e.id == id; });
            if (!live) continue;
        }
        callback(notification);
    }
}

}  // namespace platform
