#include "PlistValue.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>

#include "platform/URL.h"

namespace platform::gtk {
namespace {

struct PlistDeleter {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;
struct MallocDeleter {
    void operator()(void* p) const { std::free(p); }
};

bool isPlainText(const std::string& text) { return text.find('\0') == std::string::npos && isValidUTF8(text); }

// Whole seconds since the reference date, floored, when the form can hold them.
std::optional<int32_t> dateSeconds(Date date) {
    const double s = std::floor(date.secondsSinceReference);
    if (!(s >= std::numeric_limits<int32_t>::min() && s <= std::numeric_limits<int32_t>::max())) return std::nullopt;
    return static_cast<int32_t>(s);
}

plist_t toPlist(const Value& value, int depth) {
    if (depth > kMaximumPlistDepth) return nullptr;
    switch (value.type()) {
    case Value::Type::Null: return nullptr;
    case Value::Type::Bool: return plist_new_bool(*value.asBool() ? 1 : 0);
    case Value::Type::Integer: return plist_new_uint(static_cast<uint64_t>(*value.asInteger()));
    case Value::Type::Double: return plist_new_real(*value.asDouble());
    case Value::Type::String:
        return isPlainText(*value.asString()) ? plist_new_string(value.asString()->c_str()) : nullptr;
    case Value::Type::Date: {
        auto seconds = dateSeconds(*value.asDate());
        return seconds ? plist_new_date(*seconds, 0) : nullptr;
    }
    case Value::Type::Bytes: return plist_new_data(value.asBytes()->data.data(), value.asBytes()->data.size());
    case Value::Type::Array: {
        PlistPtr array(plist_new_array());
        for (const Value& item : *value.asArray()) {
            plist_t node = toPlist(item, depth + 1);
            if (!node) return nullptr;
            plist_array_append_item(array.get(), node);
        }
        return array.release();
    }
    case Value::Type::Dictionary: {
        PlistPtr dict(plist_new_dict());
        for (const auto& [key, item] : *value.asDictionary()) {
            if (!isPlainText(key)) return nullptr;
            plist_t node = toPlist(item, depth + 1);
            if (!node) return nullptr;
            plist_dict_set_item(dict.get(), key.c_str(), node);
        }
        return dict.release();
    }
    }
    return nullptr;
}

std::optional<Value> fromPlist(plist_t node, int depth) {
    if (!node || depth > kMaximumPlistDepth) return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return Value(b != 0);
    }
    case PLIST_UINT: {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return Value(static_cast<long long>(static_cast<int64_t>(v)));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return Value(d);
    }
    case PLIST_STRING: {
        // By pointer and length: libplist's copying getter aborts the process
        // on a string that holds a NUL byte.
        uint64_t length = 0;
        const char* raw = plist_get_string_ptr(node, &length);
        if (!raw) return std::nullopt;
        std::string text(raw, length);
        // Only what the store could write back: a value it cannot save would
        // block every later save of the whole file.
        if (!isPlainText(text)) return std::nullopt;
        return Value(std::move(text));
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return Value(Date{static_cast<double>(sec) + static_cast<double>(usec) / 1e6});
    }
    case PLIST_DATA: {
        char* raw = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &raw, &length);
        std::unique_ptr<char, MallocDeleter> data(raw);
        return Value(Bytes{data ? std::string(data.get(), length) : std::string()});
    }
    case PLIST_ARRAY: {
        Array array;
        const uint32_t size = plist_array_get_size(node);
        array.reserve(size);
        for (uint32_t i = 0; i < size; ++i) {
            auto item = fromPlist(plist_array_get_item(node, i), depth + 1);
            if (!item) return std::nullopt;
            array.push_back(std::move(*item));
        }
        return Value(std::move(array));
    }
    case PLIST_DICT: {
        Dictionary dict;
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        std::unique_ptr<void, MallocDeleter> iterOwner(iter);
        for (;;) {
            char* rawKey = nullptr;
            plist_t child = nullptr;
            plist_dict_next_item(node, iter, &rawKey, &child);
            std::unique_ptr<char, MallocDeleter> key(rawKey);
            if (!key) break;
            if (!isPlainText(key.get())) return std::nullopt;
            auto item = fromPlist(child, depth + 1);
            if (!item) return std::nullopt;
            dict[key.get()] = std::move(*item);
        }
        return Value(std::move(dict));
    }
    default: return std::nullopt;  // keys, UIDs: not something a defaults file holds
    }
}

std::optional<std::string> nodeToXml(plist_t node) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    std::unique_ptr<char, MallocDeleter> owner(xml);
    if (!xml) return std::nullopt;
    return std::string(xml, length);
}

// What the file gives back for a value that it can hold.
Value normalized(const Value& value) {
    switch (value.type()) {
    case Value::Type::Date: return Value(Date{std::floor(value.asDate()->secondsSinceReference)});
    case Value::Type::Array: {
        Array out;
        for (const Value& item : *value.asArray()) out.push_back(normalized(item));
        return Value(std::move(out));
    }
    case Value::Type::Dictionary: {
        Dictionary out;
        for (const auto& [key, item] : *value.asDictionary()) out[key] = normalized(item);
        return Value(std::move(out));
    }
    default: return value;
    }
}

}  // namespace

std::optional<std::string> dictionaryToXml(const Dictionary& dictionary) {
    PlistPtr root(toPlist(Value(dictionary), 0));
    if (!root) return std::nullopt;
    return nodeToXml(root.get());
}

namespace {

PlistReadResult dictionaryFromRoot(plist_t raw) {
    PlistReadResult result;
    PlistPtr root(raw);
    if (!root) return result;
    if (plist_get_node_type(root.get()) != PLIST_DICT) {
        result.error = PlistReadError::NotADictionary;
        return result;
    }
    auto value = fromPlist(root.get(), 0);
    if (!value || !value->asDictionary()) {
        result.error = PlistReadError::UnsupportedContent;
        return result;
    }
    result.dictionary = *value->asDictionary();
    return result;
}

bool fitsLibplist(std::string_view data) {
    return !data.empty() && data.size() <= std::numeric_limits<uint32_t>::max();
}

}  // namespace

PlistReadResult dictionaryFromXml(std::string_view xml) {
    if (!fitsLibplist(xml)) return {};
    plist_t raw = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &raw);
    return dictionaryFromRoot(raw);
}

std::optional<Value> plistRoundTrip(const std::string& key, const Value& value) {
    auto xml = dictionaryToXml(Dictionary{{key, value}});
    if (!xml) return std::nullopt;
    auto back = dictionaryFromXml(*xml);
    if (!back.dictionary) return std::nullopt;
    auto stored = back.dictionary->find(key);
    if (back.dictionary->size() != 1 || stored == back.dictionary->end() || stored->second != normalized(value))
        return std::nullopt;
    return stored->second;
}

}  // namespace platform::gtk
