#include "Timing/ZELTiming.h"

#include <cinttypes>
#include <cstdio>

#include "platform/Services.h"

namespace {

// Stored timings may come from an older or damaged store: only real numbers
// are readings.
bool readSeconds(const platform::Dictionary& dictionary, const char* key, double& seconds) {
    auto it = dictionary.find(key);
    if (it == dictionary.end()) {
        seconds = 0;
        return true;
    }
    if (!it->second.isInteger() && !it->second.isDouble()) return false;
    seconds = *it->second.asDouble();
    return true;
}

}  // namespace

std::shared_ptr<ZELTiming> ZELTiming::initWithCategory(std::string category) {
    return std::make_shared<ZELTiming>(std::move(category));
}

std::shared_ptr<ZELTiming> ZELTiming::initWithDictionaryRepresentation(const platform::Dictionary& dictionary) {
    auto category = dictionary.find(kZELTimingCategoryKey);
    if (category == dictionary.end() || !category->second.isString()) return nullptr;
    auto timing = std::make_shared<ZELTiming>(*category->second.asString());
    if (!readSeconds(dictionary, kZELTimingStartKey, timing->startSeconds_) ||
        !readSeconds(dictionary, kZELTimingEndKey, timing->endSeconds_))
        return nullptr;
    if (auto userData = dictionary.find(kZELTimingKeyUserDataKey); userData != dictionary.end()) {
        const platform::Dictionary* values = userData->second.asDictionary();
        if (!values) return nullptr;
        timing->userData_ = *values;
    }
    return timing;
}

platform::Dictionary ZELTiming::dictionaryRepresentation() const {
    platform::Dictionary result{
        {kZELTimingCategoryKey, category_},
        {kZELTimingStartKey, startSeconds_},
        {kZELTimingEndKey, endSeconds_},
    };
    if (userData_) result.emplace(kZELTimingKeyUserDataKey, *userData_);
    return result;
}

std::shared_ptr<ZELTiming> ZELTiming::copy() const { return std::make_shared<ZELTiming>(*this); }

double ZELTiming::counter() { return platform::Clock::current().monotonicSeconds(); }

void ZELTiming::start() {
    startSeconds_ = counter();
    endSeconds_ = 0;
}

void ZELTiming::end() {
    if (startSeconds_ > 0) endSeconds_ = counter();
}

void ZELTiming::reset() {
    startSeconds_ = 0;
    endSeconds_ = 0;
}

uint32_t ZELTiming::elapsedMilliseconds() const {
    if (!(startSeconds_ > 0)) return 0;
    const double end = endSeconds_ < startSeconds_ ? counter() : endSeconds_;
    const double milliseconds = (end - startSeconds_) * 1000.0;
    // Also keeps NaN and out-of-range readings from a damaged store defined.
    if (!(milliseconds > 0)) return 0;
    if (milliseconds >= 4294967295.0) return UINT32_MAX;
    return static_cast<uint32_t>(milliseconds);
}

std::string ZELTiming::elapsedMillisecondsString() const { return std::to_string(elapsedMilliseconds()); }

void ZELTiming::setValue(const std::optional<platform::Value>& value, const std::string& key) {
    if (!userData_) userData_.emplace();
    if (value && !value->isNull()) (*userData_)[key] = *value;
}

std::optional<platform::Value> ZELTiming::valueForKey(const std::string& key) const {
    if (!userData_) return std::nullopt;
    auto it = userData_->find(key);
    if (it == userData_->end()) return std::nullopt;
    return it->second;
}

void ZELTiming::removeValueForKey(const std::string& key) {
    if (userData_) userData_->erase(key);
}

platform::Dictionary ZELTiming::keysAndValues() const { return userData_ ? *userData_ : platform::Dictionary{}; }

std::string ZELTiming::description() const {
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return "ZELTiming (" + std::string(address) + "): " + platform::Value(dictionaryRepresentation()).description();
}
