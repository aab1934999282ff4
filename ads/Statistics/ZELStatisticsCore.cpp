#include "Statistics/ZELStatisticsCore.h"

#include <cmath>

#include "platform/Services.h"

int64_t ZELStatisticsCore::integerValue(const platform::Value& number) {
    if (number.isDouble()) {
        // A stored double may be anything; out-of-range casts are undefined.
        const double d = number.asDouble().value_or(0);
        if (!std::isfinite(d) || d >= 9.2e18 || d <= -9.2e18) return 0;
        return static_cast<int64_t>(d);
    }
    return number.asInteger().value_or(0);
}

ZELStatisticsCore::ZELStatisticsCore(std::string identifier) : identifier_(std::move(identifier)) {
    loadPersistentStatistics();
}

ZELStatisticsCore::~ZELStatisticsCore() { savePersistentStatistics(); }

std::string ZELStatisticsCore::userDefaultsKey() const { return "nimbra_stats_" + identifier_; }

void ZELStatisticsCore::loadPersistentStatistics() {
    std::optional<platform::Value> stored = platform::UserDefaults::standard().objectForKey(userDefaultsKey());
    if (!stored) return;
    const platform::Dictionary* values = stored->asDictionary();
    if (!values) {
        // Not ours to fix; it is replaced by the next save.
        platform::log("<Nimbra> Ignoring stored statistics \"" + userDefaultsKey() + "\": not a dictionary");
        return;
    }
    for (const auto& [key, value] : *values) statistics_[key] = value;
}

void ZELStatisticsCore::savePersistentStatistics() {
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    defaults.setObject(platform::Value(statistics_), userDefaultsKey());
    // Flushed to the disk away from the main thread, in order with every
    // other write of the store (and finished before the process ends).
    defaults.synchronizeInBackground();
}

void ZELStatisticsCore::synchronize() { savePersistentStatistics(); }

const platform::Value* ZELStatisticsCore::objectForKey(const std::string& key) const {
    auto it = statistics_.find(key);
    return it == statistics_.end() ? nullptr : &it->second;
}

std::optional<platform::Dictionary> ZELStatisticsCore::dictionaryForKey(const std::string& key) const {
    const platform::Value* value = objectForKey(key);
    if (!value || !value->asDictionary()) return std::nullopt;
    return *value->asDictionary();
}

std::optional<platform::Array> ZELStatisticsCore::arrayForKey(const std::string& key) const {
    const platform::Value* value = objectForKey(key);
    if (!value || !value->asArray()) return std::nullopt;
    return *value->asArray();
}

std::optional<platform::Date> ZELStatisticsCore::dateForKey(const std::string& key) const {
    const platform::Value* value = objectForKey(key);
    if (!value) return std::nullopt;
    return value->asDate();
}

std::optional<platform::Value> ZELStatisticsCore::numberForKey(const std::string& key) const {
    const platform::Value* value = objectForKey(key);
    if (!value || !value->isNumber()) return std::nullopt;
    return *value;
}

std::optional<std::string> ZELStatisticsCore::stringForKey(const std::string& key) const {
    const platform::Value* value = objectForKey(key);
    if (!value || !value->asString()) return std::nullopt;
    return *value->asString();
}

void ZELStatisticsCore::setDictionary(const platform::Value& value, const std::string& key) {
    setObject(value, key, Kind::Dictionary);
}
void ZELStatisticsCore::setArray(const platform::Value& value, const std::string& key) {
    setObject(value, key, Kind::Array);
}
void ZELStatisticsCore::setDate(const platform::Value& value, const std::string& key) {
    setObject(value, key, Kind::Date);
}
void ZELStatisticsCore::setNumber(const platform::Value& value, const std::string& key) {
    setObject(value, key, Kind::Number);
}
void ZELStatisticsCore::setString(const platform::Value& value, const std::string& key) {
    setObject(value, key, Kind::String);
}

void ZELStatisticsCore::setObject(const platform::Value& value, const std::string& key, Kind matching) {
    bool matches = false;
    switch (matching) {
    case Kind::Dictionary: matches = value.isDictionary(); break;
    case Kind::Array: matches = value.isArray(); break;
    case Kind::Date: matches = value.isDate(); break;
    case Kind::Number: matches = value.isNumber(); break;
    case Kind::String: matches = value.isString(); break;
    }
    if (matches) statistics_[key] = value;
}

int32_t ZELStatisticsCore::addValueNumberForKey(int32_t delta, const std::string& key) {
    int64_t stored = 0;
    if (std::optional<platform::Value> number = numberForKey(key)) stored = integerValue(*number);
    // Wrap at 32 bits the way the stored counter would.
    const auto sum = static_cast<int32_t>(static_cast<uint32_t>(stored) + static_cast<uint32_t>(delta));
    statistics_[key] = platform::Value(sum);
    return sum;
}

void ZELStatisticsCore::removeObjectForKey(const std::string& key) { statistics_.erase(key); }

void ZELStatisticsCore::removeAllObjects() { statistics_.clear(); }
