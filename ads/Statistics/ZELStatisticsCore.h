#pragma once
// A small dictionary of typed values kept in the defaults store under
// "nimbra_stats_<identifier>". Read once when created; written (in the
// background, in order) by synchronize, savePersistentStatistics and
// destruction.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Value.h"

class ZELStatisticsCore {
public:
    explicit ZELStatisticsCore(std::string identifier);
    ~ZELStatisticsCore();  // saves

    ZELStatisticsCore(const ZELStatisticsCore&) = delete;
    ZELStatisticsCore& operator=(const ZELStatisticsCore&) = delete;

    const std::string& identifier() const { return identifier_; }
    std::string userDefaultsKey() const;

    void loadPersistentStatistics();
    void savePersistentStatistics();
    void synchronize();

    // Typed reads: a value stored under the key with another type reads as
    // absent (stored data may be from anywhere).
    std::optional<platform::Dictionary> dictionaryForKey(const std::string& key) const;
    std::optional<platform::Array> arrayForKey(const std::string& key) const;
    std::optional<platform::Date> dateForKey(const std::string& key) const;
    std::optional<platform::Value> numberForKey(const std::string& key) const;  // always a number
    std::optional<std::string> stringForKey(const std::string& key) const;
    // Whatever is stored under the key.
    const platform::Value* objectForKey(const std::string& key) const;

    // Each stores the value only when it has the setter's type; anything else
    // (a null value included) is ignored.
    void setDictionary(const platform::Value& value, const std::string& key);
    void setArray(const platform::Value& value, const std::string& key);
    void setDate(const platform::Value& value, const std::string& key);
    void setNumber(const platform::Value& value, const std::string& key);
    void setString(const platform::Value& value, const std::string& key);

    enum class Kind { Dictionary, Array, Date, Number, String };
    void setObject(const platform::Value& value, const std::string& key, Kind matching);

    // Stored integer (0 when absent or not a number) plus delta, wrapping at
    // 32 bits; stores and returns the sum.
    int32_t addValueNumberForKey(int32_t delta, const std::string& key);

    void removeObjectForKey(const std::string& key);
    void removeAllObjects();  // the stored copy stays until the next save

    const platform::Dictionary& allValues() const { return statistics_; }

    // Integer value of a number, 0 for anything that is not a finite number
    // in range.
    static int64_t integerValue(const platform::Value& number);

private:
    std::string identifier_;
    platform::Dictionary statistics_;
};
