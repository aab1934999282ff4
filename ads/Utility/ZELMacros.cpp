#include "Utility/ZELMacros.h"

#include <cmath>
#include <exception>
#include <limits>
#include <vector>

#include <nlohmann/json.hpp>

using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

// Builds values straight from the parser's events, refusing nesting deeper
// than the limit before it is built (hostile text cannot exhaust the stack).
class ValueBuilder final : public nlohmann::json_sax<nlohmann::json> {
public:
    std::optional<Value> result;

    bool null() override { return put(Value()); }
    bool boolean(bool v) override { return put(Value(v)); }
    bool number_integer(number_integer_t v) override { return put(Value(static_cast<long long>(v))); }
    bool number_unsigned(number_unsigned_t v) override {
        if (v <= static_cast<number_unsigned_t>(std::numeric_limits<long long>::max())) {
            return put(Value(static_cast<long long>(v)));
        }
        return put(Value(static_cast<double>(v)));
    }
    bool number_float(number_float_t v, const string_t&) override { return put(Value(v)); }
    bool string(string_t& v) override { return put(Value(std::move(v))); }
    bool binary(binary_t&) override { return false; }

    bool start_object(std::size_t) override { return open(Value(Dictionary())); }
    bool key(string_t& k) override {
        keys_.back() = std::move(k);
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Value(Array())); }
    bool end_array() override { return close(); }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    bool open(Value container) {
        if (stack_.size() >= static_cast<size_t>(kZELMacrosMaximumJSONDepth)) {
            return false;
        }
        stack_.push_back(std::move(container));
        keys_.emplace_back();
        return true;
    }

    bool close() {
        if (stack_.empty()) {
            return false;
        }
        Value done = std::move(stack_.back());
        stack_.pop_back();
        keys_.pop_back();
        return put(std::move(done));
    }

    bool put(Value v) {
        if (stack_.empty()) {
            result = std::move(v);
            return true;
        }
        Value& top = stack_.back();
        if (Array* a = top.mutableArray()) {
            a->push_back(std::move(v));
        } else if (Dictionary* d = top.mutableDictionary()) {
            (*d)[keys_.back()] = std::move(v);
        } else {
            return false;
        }
        return true;
    }

    std::vector<Value> stack_;
    std::vector<std::string> keys_;
};

// JSON of a value; false when it cannot be written.
bool toJson(const Value& value, int depth, nlohmann::json& out) {
    switch (value.type()) {
    case Value::Type::Null: out = nullptr; return true;
    case Value::Type::Bool: out = *value.asBool(); return true;
    case Value::Type::Integer: out = *value.asInteger(); return true;
    case Value::Type::Double: {
        double d = *value.asDouble();
        if (!std::isfinite(d)) {
            return false;
        }
        out = d;
        return true;
    }
    case Value::Type::String: out = *value.asString(); return true;
    case Value::Type::Array: {
        if (depth >= kZELMacrosMaximumJSONDepth) {
            return false;
        }
        out = nlohmann::json::array();
        for (const Value& item : *value.asArray()) {
            nlohmann::json j;
            if (!toJson(item, depth + 1, j)) {
                return false;
            }
            out.push_back(std::move(j));
        }
        return true;
    }
    case Value::Type::Dictionary: {
        if (depth >= kZELMacrosMaximumJSONDepth) {
            return false;
        }
        out = nlohmann::json::object();
        for (const auto& [key, item] : *value.asDictionary()) {
            nlohmann::json j;
            if (!toJson(item, depth + 1, j)) {
                return false;
            }
            out[key] = std::move(j);
        }
        return true;
    }
    case Value::Type::Date:
    case Value::Type::Bytes: return false;
    }
    return false;
}

}  // namespace

std::optional<Dictionary> ZELMacros::readJson(const std::optional<std::string>& text) {
    if (!text) {
        return std::nullopt;
    }
    try {
        ValueBuilder builder;
        if (!nlohmann::json::sax_parse(*text, &builder) || !builder.result) {
            return std::nullopt;
        }
        if (const Dictionary* d = builder.result->asDictionary()) {
            return *d;
        }
    } catch (const std::exception&) {
        // The parser reports through the builder; anything else is a failure too.
    }
    return std::nullopt;
}

std::optional<std::string> ZELMacros::jsonify(const std::optional<Value>& object) {
    if (!object) {
        return std::nullopt;
    }
    if (!object->isArray() && !object->isDictionary()) {
        return std::string();
    }
    try {
        nlohmann::json j;
        if (!toJson(*object, 0, j)) {
            return std::string();
        }
        // Strict: text that is not UTF-8 throws, and counts as unwritable.
        return j.dump();
    } catch (const std::exception&) {
        return std::string();
    }
}
