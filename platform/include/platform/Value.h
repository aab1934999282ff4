#pragma once
// Property-list values: what the defaults store, the statistics and message
// parameters hold. A small tagged union with value semantics.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/Date.h"

namespace platform {

class Value;
using Array = std::vector<Value>;
using Dictionary = std::map<std::string, Value>;

struct Bytes {
    std::string data;  // raw octets
    bool operator==(const Bytes&) const = default;
};

class Value {
public:
    enum class Type { Null, Bool, Integer, Double, String, Date, Bytes, Array, Dictionary };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(static_cast<int64_t>(i)) {}
    Value(unsigned i) : v_(static_cast<int64_t>(i)) {}
    Value(long i) : v_(static_cast<int64_t>(i)) {}
    Value(long long i) : v_(static_cast<int64_t>(i)) {}
    Value(unsigned long i) : v_(static_cast<int64_t>(i)) {}
    Value(unsigned long long i) : v_(static_cast<int64_t>(i)) {}
    Value(double d) : v_(d) {}
    Value(float f) : v_(static_cast<double>(f)) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(Date d) : v_(d) {}
    Value(Bytes b) : v_(std::move(b)) {}
    Value(Array a) : v_(std::make_shared<Array>(std::move(a))) {}
    Value(Dictionary d) : v_(std::make_shared<Dictionary>(std::move(d))) {}

    Type type() const { return static_cast<Type>(v_.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isDouble() const { return type() == Type::Double; }
    bool isNumber() const { return isBool() || isInteger() || isDouble(); }
    bool isString() const { return type() == Type::String; }
    bool isDate() const { return type() == Type::Date; }
    bool isBytes() const { return type() == Type::Bytes; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    // Typed reads: no value when the type does not match (numbers convert
    // among themselves, as a number object answers intValue/doubleValue).
    std::optional<bool> asBool() const;
    std::optional<int64_t> asInteger() const;
    std::optional<double> asDouble() const;
    const std::string* asString() const;
    std::optional<Date> asDate() const;
    const Bytes* asBytes() const;
    const Array* asArray() const;
    const Dictionary* asDictionary() const;

    // Mutable access: copy-on-write for the shared containers.
    Array* mutableArray();
    Dictionary* mutableDictionary();

    // Dictionary lookup; null Value when absent or not a dictionary.
    const Value& operator[](const std::string& key) const;
    const Value* find(const std::string& key) const;

    // Text form of a scalar: a string unchanged, a number in decimal text.
    std::optional<std::string> textForm() const;

    // A readable rendering for logs and descriptions.
    std::string description() const;

    bool operator==(const Value& other) const;
    bool operator!=(const Value& other) const { return !(*this == other); }

private:
    std::variant<std::monostate, bool, int64_t, double, std::string, Date, Bytes, std::shared_ptr<Array>,
                 std::shared_ptr<Dictionary>>
        v_;
};

}  // namespace platform
