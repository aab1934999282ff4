#pragma once
// A named stopwatch on the component's monotonic clock, with a few attached
// values. Timings are stored (see ZELTimingManager) and may be ended in a later
// run of the application, so they read the same clock every run.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Value.h"

// Keys of a timing's dictionary representation.
inline constexpr const char kZELTimingCategoryKey[] = "category";
inline constexpr const char kZELTimingStartKey[] = "start";
inline constexpr const char kZELTimingEndKey[] = "end";
inline constexpr const char kZELTimingKeyUserDataKey[] = "userData";

class ZELTiming {
public:
    explicit ZELTiming(std::string category) : category_(std::move(category)) {}

    static std::shared_ptr<ZELTiming> initWithCategory(std::string category);
    // nullptr when the dictionary is not a timing's stored form: no string
    // category, or a start, end or userData of the wrong type.
    static std::shared_ptr<ZELTiming> initWithDictionaryRepresentation(const platform::Dictionary& dictionary);
    platform::Dictionary dictionaryRepresentation() const;
    std::shared_ptr<ZELTiming> copy() const;

    // The component's clock: monotonic seconds.
    static double counter();

    // Starts afresh from any state.
    void start();
    // Only a started timing ends; ending again moves the end.
    void end();
    void reset();
    bool isActive() const { return startSeconds_ > 0 && endSeconds_ == 0; }

    // Up to the end, or up to now while running; 0 when never started or when
    // the clock reads earlier than the start (it began afresh since).
    uint32_t elapsedMilliseconds() const;
    std::string elapsedMillisecondsString() const;

    // A missing value stores nothing, but the attached values exist from then
    // on (the stored form then carries an empty "userData").
    void setValue(const std::optional<platform::Value>& value, const std::string& key);
    std::optional<platform::Value> valueForKey(const std::string& key) const;
    void removeValueForKey(const std::string& key);
    platform::Dictionary keysAndValues() const;

    const std::string& category() const { return category_; }
    double startSeconds() const { return startSeconds_; }
    double endSeconds() const { return endSeconds_; }

    std::string description() const;

private:
    std::string category_;
    double startSeconds_ = 0;
    double endSeconds_ = 0;
    std::optional<platform::Dictionary> userData_;
};
