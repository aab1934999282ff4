#include "Utility/ZELNumberUtilities.h"

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
