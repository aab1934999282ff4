#include "Utility/ZELNumberUtilities.h"

#include <charconv>
#include <cmath>
#include <cstdio>

std::string ZELNumberUtilities::stringWithFloat(float value) {
    const double d = static_cast<double>(value);
    const int length = std::snprintf(nullptr, 0, "%f", d);
    if (length <= 0) {
        return std::string();
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), "%f", d);
    text.resize(static_cast<size_t>(length));
    // Only a fraction has zeros to spare ("inf" and "nan" have no point).
    if (text.find('.') == std::string::npos) {
        return text;
    }
    while (!text.empty() && text.back() == '0') {
        text.pop_back();
    }
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    return text;
}

double ZELNumberUtilities::floatValueOfText(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Only plain decimal numbers: "inf", "nan" and hexadecimal forms are not numbers here.
    if (i >= text.size() || !((text[i] >= '0' && text[i] <= '9') || text[i] == '.')) return 0;
    double value = 0;
    auto result = std::from_chars(text.data() + i, text.data() + text.size(), value, std::chars_format::fixed);
    if (result.ec != std::errc() || !std::isfinite(value)) return 0;
    return negative ? -value : value;
}
