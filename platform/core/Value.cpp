#include "platform/Value.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace platform {

namespace {

const Value& nullValue() {
    static const Value null;
    return null;
}

// Shortest text that reads back as the same double; integral values print
// without a fraction ("3", not "3.0").
std::string doubleText(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, res.ptr);
}

void appendQuoted(std::string& out, const std::string& s) {
    bool plain = !s.empty();
    for (unsigned char c : s) {
        if (!(std::isalnum(c) || c == '_' || c == '.' || c == '-' || c == '/' || c == ':')) {
            plain = false;
            break;
        }
    }
    if (plain) {
        out += s;
        return;
    }
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                static const char hex[] = "0123456789abcdef";
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

void describe(const Value& v, std::string& out, int depth);

void indent(std::string& out, int depth) { out.append(static_cast<size_t>(depth) * 4, ' '); }

void describe(const Value& v, std::string& out, int depth) {
    switch (v.type()) {
    case Value::Type::Null: out += "<null>"; return;
    case Value::Type::Bool: out += *v.asBool() ? "true" : "false"; return;
    case Value::Type::Integer:
    case Value::Type::Double: out += *v.textForm(); return;
    case Value::Type::String: appendQuoted(out, *v.asString()); return;
    case Value::Type::Date: out += formatDate(*v.asDate(), "yyyy-MM-dd HH:mm:ss '+0000'", TimeZone::GMT); return;
    case Value::Type::Bytes: {
        static const char hex[] = "0123456789abcdef";
        out += '<';
        const std::string& d = v.asBytes()->data;
        for (size_t i = 0; i < d.size(); ++i) {
            if (i && i % 4 == 0) out += ' ';
            auto c = static_cast<unsigned char>(d[i]);
            out += hex[c >> 4];
            out += hex[c & 15];
        }
        out += '>';
        return;
    }
    case Value::Type::Array: {
        const Array& a = *v.asArray();
        if (a.empty()) {
            out += "()";
            return;
        }
        out += "(\n";
        for (size_t i = 0; i < a.size(); ++i) {
            indent(out, depth + 1);
            describe(a[i], out, depth + 1);
            out += i + 1 < a.size() ? ",\n" : "\n";
        }
        indent(out, depth);
        out += ')';
        return;
    }
    case Value::Type::Dictionary: {
        const Dictionary& d = *v.asDictionary();
        if (d.empty()) {
            out += "{}";
            return;
        }
        out += "{\n";
        for (const auto& [key, value] : d) {
            indent(out, depth + 1);
            appendQuoted(out, key);
            out += " = ";
            describe(value, out, depth + 1);
            out += ";\n";
        }
        indent(out, depth);
        out += '}';
        return;
    }
    }
}

}  // namespace

std::optional<bool> Value::asBool() const {
    switch (type()) {
    case Type::Bool: return std::get<bool>(v_);
    case Type::Integer: return std::get<int64_t>(v_) != 0;
    case Type::Double: return std::get<double>(v_) != 0.0;
    default: return std::nullopt;
    }
}

std::optional<int64_t> Value::asInteger() const {
    switch (type()) {
    case Type::Bool: return std::get<bool>(v_) ? 1 : 0;
    case Type::Integer: return std::get<int64_t>(v_);
    case Type::Double: {
        // Truncates like a number's integer value; saturates rather than
        // overflowing on values out of range.
        double d = std::get<double>(v_);
        if (std::isnan(d)) return 0;
        if (d >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
        if (d <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
        return static_cast<int64_t>(d);
    }
    default: return std::nullopt;
    }
}

std::optional<double> Value::asDouble() const {
    switch (type()) {
    case Type::Bool: return std::get<bool>(v_) ? 1.0 : 0.0;
    case Type::Integer: return static_cast<double>(std::get<int64_t>(v_));
    case Type::Double: return std::get<double>(v_);
    default: return std::nullopt;
    }
}

const std::string* Value::asString() const { return std::get_if<std::string>(&v_); }

std::optional<Date> Value::asDate() const {
    if (auto* d = std::get_if<Date>(&v_)) return *d;
    return std::nullopt;
}

const Bytes* Value::asBytes() const { return std::get_if<Bytes>(&v_); }

const Array* Value::asArray() const {
    auto* p = std::get_if<std::shared_ptr<Array>>(&v_);
    return p ? p->get() : nullptr;
}

const Dictionary* Value::asDictionary() const {
    auto* p = std::get_if<std::shared_ptr<Dictionary>>(&v_);
    return p ? p->get() : nullptr;
}

Array* Value::mutableArray() {
    auto* p = std::get_if<std::shared_ptr<Array>>(&v_);
    if (!p) return nullptr;
    if (p->use_count() > 1) *p = std::make_shared<Array>(**p);
    return p->get();
}

Dictionary* Value::mutableDictionary() {
    auto* p = std::get_if<std::shared_ptr<Dictionary>>(&v_);
    if (!p) return nullptr;
    if (p->use_count() > 1) *p = std::make_shared<Dictionary>(**p);
    return p->get();
}

const Value* Value::find(const std::string& key) const {
    const Dictionary* d = asDictionary();
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}

const Value& Value::operator[](const std::string& key) const {
    const Value* v = find(key);
    return v ? *v : nullValue();
}

std::optional<std::string> Value::textForm() const {
    switch (type()) {
    case Type::String: return std::get<std::string>(v_);
    case Type::Bool: return std::string(std::get<bool>(v_) ? "1" : "0");
    case Type::Integer: return std::to_string(std::get<int64_t>(v_));
    case Type::Double: return doubleText(std::get<double>(v_));
    default: return std::nullopt;
    }
}

std::string Value::description() const {
    std::string out;
    describe(*this, out, 0);
    return out;
}

bool Value::operator==(const Value& other) const {
    // Integers and doubles compare by numeric value, as number objects do.
    if ((isInteger() || isDouble()) && (other.isInteger() || other.isDouble()) && type() != other.type()) {
        const Value& i = isInteger() ? *this : other;
        const Value& d = isInteger() ? other : *this;
        double dv = std::get<double>(d.v_);
        int64_t iv = std::get<int64_t>(i.v_);
        if (!(dv >= -9223372036854775808.0 && dv < 9223372036854775808.0)) return false;
        if (std::trunc(dv) != dv) return false;
        return static_cast<int64_t>(dv) == iv;
    }
    if (type() != other.type()) return false;
    switch (type()) {
    case Type::Array: {
        const Array* a = asArray();
        const Array* b = other.asArray();
        return a == b || *a == *b;
    }
    case Type::Dictionary: {
        const Dictionary* a = asDictionary();
        const Dictionary* b = other.asDictionary();
        return a == b || *a == *b;
    }
    default: return v_ == other.v_;
    }
}

}  // namespace platform
