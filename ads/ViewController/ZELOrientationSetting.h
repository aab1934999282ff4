#pragma once
// Orientation settings that the ad server and ad pages name in text.

#include <cstdint>
#include <optional>
#include <string>

// The one orientation type of the component: the ad server's header, the
// "o" of an open message and the full-screen screens all speak it.
enum ZELOrientationSetting : int32_t {
    kZELOrientationUnset = 0,      // empty or unknown text
    kZELOrientationAny = 1,        // "any"
    kZELOrientationPortrait = 2,   // "portrait"
    kZELOrientationLandscape = 3,  // "landscape"
};

// Exact, case-sensitive comparison; anything else gives kZELOrientationUnset.
inline ZELOrientationSetting ZELOrientationFromString(const std::optional<std::string>& text) {
    if (!text) return kZELOrientationUnset;
    if (*text == "any") return kZELOrientationAny;
    if (*text == "portrait") return kZELOrientationPortrait;
    if (*text == "landscape") return kZELOrientationLandscape;
    return kZELOrientationUnset;
}
