#pragma once
// What the ad request says about the device and the application, and the
// operating-system version tests.

#include <optional>
#include <string>
#include <vector>

#include "platform/Value.h"

// The folder a jailbreak's package manager installs among the system's applications.
inline constexpr const char kZELJailbreakIndicatorPath[] = "/Applications/Cydia.app";
// The store metadata file, beside the documents folder in the application's container.
inline constexpr const char kZELITunesMetadataFileName[] = "iTunesMetadata.plist";

// Audio route codes as the request reports them.
enum ZELAudioRoute : int {
    kZELAudioRouteSpeakerOrUnknown = 1,
    kZELAudioRouteHeadphones = 2,
    kZELAudioRouteNone = 3,
    kZELAudioRouteOther = 5,
};

struct ZELScreenSize {
    float width = 0;
    float height = 0;
};

class ZELIdentifierUtilities {
public:
    // The process-wide instance, created on first use and never destroyed.
    static ZELIdentifierUtilities& sharedInstance();

    // Reads the idiom and the jailbreak indicator now; the rest lazily.
    ZELIdentifierUtilities();
    ZELIdentifierUtilities(const ZELIdentifierUtilities&) = delete;
    ZELIdentifierUtilities& operator=(const ZELIdentifierUtilities&) = delete;

    // Every device and application parameter of the request (keys "isu",
    // "platform", "submodel", "hl", "u_sd", "u_w", "u_h", "u_so", "u_audio",
    // "app_name", "ios_metadata", "ios_ipadc", "ios_jb", "cap_bs").
    platform::Dictionary parameters();

    // MD5 of the platform's identifier of the device for this application:
    // 32 upper-case hexadecimal digits; empty (and "isu" left out) when the
    // platform has none.
    const std::string& deviceIdentifier();
    std::string deviceModel() const;  // read afresh
    // The hardware machine name (uname); no value when it cannot be read.
    std::optional<std::string> deviceSubmodel();
    std::string osVersion() const;  // read afresh
    // The first preferred language, lower-cased; retried while absent.
    std::optional<std::string> locale();
    // The store metadata of the application; empty when there is none.
    const platform::Dictionary& iTunesMetadata();
    bool isPhoneIdiom() const { return isPhoneIdiom_; }
    bool isJailbroken() const { return isJailbroken_; }
    float screenDensity() const;
    // The application frame's width, and its height plus the status bar's
    // unless the status bar is hidden.
    ZELScreenSize screenSize() const;
    bool isOrientationLandscape() const;
    int audioRoute() const;
    // Each string to whether an installed application can open it.
    platform::Dictionary canOpenURLs(const std::vector<std::string>& urlStrings) const;

    // The components of the system version ("4.1" -> 4, 1, 0); null pointers
    // are skipped.
    static void getOSMajor(int* major, int* minor, int* bugFix);
    // Whether the system version is at least major.minor.bug.
    static bool isOSAtLeast(int major, int minor, int bug);
    // Splits a version text at "."; missing or non-numeric components are 0.
    static void parseOSVersion(const std::string& version, int* major, int* minor, int* bugFix);

    // Whether the indicator path exists; any failure counts as no.
    static bool jailbreakIndicator(const std::string& path = kZELJailbreakIndicatorPath);
    // The dictionary in the property-list file (its XML form); empty when the
    // file cannot be read, does not parse, or holds something else.
    static platform::Dictionary readITunesMetadataFileAt(const std::string& path);

private:
    bool isPhoneIdiom_ = true;
    std::optional<platform::Dictionary> iTunesMetadata_;
    bool isJailbroken_ = false;
    std::optional<std::string> deviceIdentifier_;
    std::optional<std::string> deviceSubmodel_;
    std::optional<std::string> locale_;
};
