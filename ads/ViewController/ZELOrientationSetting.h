#pragma once
// Orientation settings that the ad server and ad pages name in text.

#include <optional>
#include <string>

enum ZELOrientationSetting : int {
    kZELOrientationUnset = 0,      // empty or unknown text
    kZELOrientationAny = 1,        // "any"
    kZELOrientationPortrait = 2,   // "portrait"
    kZELOrientationLandscape = 3,  // "landscape"
};

// Exact, case-sensitive comparison; anything else gives kZELOrientationUnset.
inline int ZELOrientationFromString(const std::optional<std::string>& text) {
    if (!text) return kZELOrientationUnset;
    if (*text == "any") return kZELOrientationAny;
    if (*text == "portrait") return kZELOrientationPortrait;
    if (*text == "landscape") return kZELOrientationLandscape;
    return kZELOrientationUnset;
}
