#include "Timing/ZELTimingManager.h"

#include "platform/Backend.h"
#include "platform/NotificationCenter.h"
#include "platform/Services.h"

ZELTimingManager::ZELTimingManager(std::string identifier) : identifier_(std::move(identifier)) {
    loadPersistentTimings();
    termination_ = platform::NotificationCenter::defaultCenter().observe(
        platform::kApplicationWillTerminateNotification, nullptr,
        [this](const platform::Notification&) { savePersistentTimings(); });
}

ZELTimingManager::~ZELTimingManager() {
    termination_.reset();
    // A process-wide manager may outlive the backend at exit; then there is
    // no store left to write to.
    if (platform::hasBackend()) savePersistentTimings();
}

std::shared_ptr<ZELTimingManager> ZELTimingManager::initWithIdentifier(std::string identifier) {
    return std::make_shared<ZELTimingManager>(std::move(identifier));
}

std::shared_ptr<ZELTiming> ZELTimingManager::addTimingWithCategory(const std::string& category) {
    auto timing = ZELTiming::initWithCategory(category);
    timings_[category] = timing;
    return timing;
}

void ZELTimingManager::addTiming(std::shared_ptr<ZELTiming> timing) {
    if (!timing) return;
    const std::string category = timing->category();
    timings_[category] = std::move(timing);
}

std::shared_ptr<ZELTiming> ZELTimingManager::timingForCategory(const std::string& category) const {
    auto it = timings_.find(category);
    return it == timings_.end() ? nullptr : it->second;
}

void ZELTimingManager::removeTimingForCategory(const std::string& category) { timings_.erase(category); }

void ZELTimingManager::removeTiming(const std::shared_ptr<ZELTiming>& timing) {
    if (timing) removeTimingForCategory(timing->category());
}

void ZELTimingManager::removeTimingsForCategories(const std::vector<std::string>& categories) {
    for (const auto& category : categories) removeTimingForCategory(category);
}

void ZELTimingManager::removeAllTimings() { timings_.clear(); }

std::vector<std::shared_ptr<ZELTiming>> ZELTimingManager::timings() const {
    std::vector<std::shared_ptr<ZELTiming>> result;
    result.reserve(timings_.size());
    for (const auto& entry : timings_) result.push_back(entry.second);
    return result;
}

std::vector<std::string> ZELTimingManager::categories() const {
    std::vector<std::string> result;
    result.reserve(timings_.size());
    for (const auto& entry : timings_) result.push_back(entry.first);
    return result;
}

std::string ZELTimingManager::userDefaultsKey() const { return "nimbra_timing_" + identifier_; }

void ZELTimingManager::savePersistentTimings() {
    platform::Dictionary stored;
    for (const auto& [category, timing] : timings_) stored.emplace(category, timing->dictionaryRepresentation());
    auto& defaults = platform::UserDefaults::standard();
    defaults.setObject(platform::Value(std::move(stored)), userDefaultsKey());
    defaults.synchronize();
}

void ZELTimingManager::loadPersistentTimings() {
    const auto stored = platform::UserDefaults::standard().objectForKey(userDefaultsKey());
    if (!stored) return;
    const platform::Dictionary* entries = stored->asDictionary();
    if (!entries) return;
    for (const auto& [category, value] : *entries) {
        const platform::Dictionary* representation = value.asDictionary();
        if (!representation) continue;
        if (auto timing = ZELTiming::initWithDictionaryRepresentation(*representation))
            timings_[category] = std::move(timing);
    }
}
