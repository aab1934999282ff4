#include "Utility/ZELIdentifierUtilities.h"

#include <sys/utsname.h>

#include <filesystem>

#include <openssl/evp.h>

#include "Utility/ZELNumberUtilities.h"
#include "platform/Application.h"
#include "platform/Files.h"
#include "platform/PropertyList.h"
#include "platform/Services.h"

using platform::Dictionary;
using platform::Value;

namespace {

// Larger files are not metadata; they are not read into memory.
constexpr uint64_t kMaximumMetadataFileSize = 4 * 1024 * 1024;

std::string md5UpperHex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1 || length != 16) {
        return std::string();
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0F];
    }
    return hex;
}

}  // namespace

ZELIdentifierUtilities& ZELIdentifierUtilities::sharedInstance() {
    // Lives to the end of the process.
    static ZELIdentifierUtilities* instance = new ZELIdentifierUtilities();
    return *instance;
}

ZELIdentifierUtilities::ZELIdentifierUtilities()
    : isPhoneIdiom_(platform::Device::current().userInterfaceIdiom() == platform::UserInterfaceIdiom::Phone),
      isJailbroken_(jailbreakIndicator()) {}

const std::string& ZELIdentifierUtilities::deviceIdentifier() {
    if (!deviceIdentifier_) {
        // The platform's identifier is already the application's own, never
        // the machine id; without one there is nothing to send.
        const std::string identifier = platform::Device::current().uniqueIdentifier();
        deviceIdentifier_ = identifier.empty() ? std::string() : md5UpperHex(identifier);
    }
    return *deviceIdentifier_;
}

std::string ZELIdentifierUtilities::deviceModel() const { return platform::Device::current().model(); }

std::optional<std::string> ZELIdentifierUtilities::deviceSubmodel() {
    if (!deviceSubmodel_) {
        struct utsname name {};
        if (uname(&name) != 0) {
            return std::nullopt;
        }
        std::string machine(name.machine);
        for (unsigned char c : machine) {
            if (c > 0x7F) {
                return std::nullopt;
            }
        }
        deviceSubmodel_ = std::move(machine);
    }
    return deviceSubmodel_;
}

std::string ZELIdentifierUtilities::osVersion() const { return platform::Device::current().systemVersion(); }

std::optional<std::string> ZELIdentifierUtilities::locale() {
    if (locale_) {
        return locale_;
    }
    const std::optional<Value> languages = platform::UserDefaults::standard().objectForKey("AppleLanguages");
    if (!languages) {
        return std::nullopt;
    }
    const platform::Array* list = languages->asArray();
    if (!list || list->empty()) {
        return std::nullopt;
    }
    const std::string* first = list->front().asString();
    if (!first || first->empty()) {
        return std::nullopt;
    }
    locale_ = platform::toLowerASCII(*first);
    return locale_;
}

const Dictionary& ZELIdentifierUtilities::iTunesMetadata() {
    if (!iTunesMetadata_) {
        Dictionary metadata;
        if (std::optional<std::string> documents = platform::Paths::current().documentsDirectory()) {
            std::filesystem::path path = std::filesystem::path(*documents) / ".." / kZELITunesMetadataFileName;
            metadata = readITunesMetadataFileAt(path.lexically_normal().string());
        }
        iTunesMetadata_ = std::move(metadata);
    }
    return *iTunesMetadata_;
}

float ZELIdentifierUtilities::screenDensity() const {
    const double scale = platform::Screen::main().scale();
    if (!(scale > 0) || scale > 1000) {
        return 1.0f;
    }
    return static_cast<float>(scale);
}

ZELScreenSize ZELIdentifierUtilities::screenSize() const {
    const platform::Rect frame = platform::Screen::main().applicationFrame();
    platform::Application& application = platform::Application::shared();
    double height = frame.height();
    if (!application.isStatusBarHidden()) {
        height += application.statusBarFrame().height();
    }
    return ZELScreenSize{static_cast<float>(frame.width()), static_cast<float>(height)};
}

bool ZELIdentifierUtilities::isOrientationLandscape() const {
    return platform::isLandscape(platform::Application::shared().statusBarOrientation());
}

int ZELIdentifierUtilities::audioRoute() const {
    const std::optional<std::string> route = platform::currentAudioRoute();
    if (!route) {
        return kZELAudioRouteSpeakerOrUnknown;
    }
    if (route->empty()) {
        return kZELAudioRouteNone;
    }
    if (*route == "Headphone" || *route == "Headset") {
        return kZELAudioRouteHeadphones;
    }
    if (*route == "Speaker") {
        return kZELAudioRouteSpeakerOrUnknown;
    }
    return kZELAudioRouteOther;
}

Dictionary ZELIdentifierUtilities::canOpenURLs(const std::vector<std::string>& urlStrings) const {
    Dictionary result;
    platform::Application& application = platform::Application::shared();
    for (const std::string& text : urlStrings) {
        const std::optional<platform::URL> url = platform::URL::parse(text);
        result[text] = Value(url ? application.canOpenURL(*url) : false);
    }
    return result;
}

Dictionary ZELIdentifierUtilities::parameters() {
    Dictionary p;
    if (deviceModel() == "iPad" && isPhoneIdiom()) {
        p["ios_ipadc"] = "1";
    }
    p["ios_metadata"] = Value(iTunesMetadata());

    platform::Paths& paths = platform::Paths::current();
    std::string appName;
    if (std::optional<std::string> version = paths.bundleVersion(); version && !version->empty()) {
        appName = *version + ".";
    }
    appName += "iphone." + paths.bundleIdentifier();
    p["app_name"] = Value(std::move(appName));

    p["u_audio"] = Value(std::to_string(audioRoute()));
    p["u_so"] = isOrientationLandscape() ? "l" : "p";
    if (isJailbroken()) {
        p["ios_jb"] = "1";
    }
    const std::string& identifier = deviceIdentifier();
    if (!identifier.empty()) {
        p["isu"] = Value(identifier);
    }
    p["platform"] = Value(deviceModel());
    if (std::optional<std::string> submodel = deviceSubmodel()) {
        p["submodel"] = Value(std::move(*submodel));
    }
    if (std::optional<std::string> language = locale()) {
        p["hl"] = Value(std::move(*language));
    }
    p["u_sd"] = Value(ZELNumberUtilities::stringWithFloat(screenDensity()));
    const ZELScreenSize size = screenSize();
    p["u_w"] = Value(ZELNumberUtilities::stringWithFloat(size.width));
    p["u_h"] = Value(ZELNumberUtilities::stringWithFloat(size.height));

    const Dictionary openable = canOpenURLs({"itms-books://", "kindle://home"});
    int bookstores = 0;
    if (openable.at("itms-books://") == Value(true)) {
        bookstores += 1;
    }
    if (openable.at("kindle://home") == Value(true)) {
        bookstores += 2;
    }
    if (bookstores != 0) {
        p["cap_bs"] = Value(bookstores);
    }
    return p;
}

void ZELIdentifierUtilities::parseOSVersion(const std::string& version, int* major, int* minor, int* bugFix) {
    int parts[3] = {0, 0, 0};
    size_t start = 0;
    for (int index = 0; index < 3 && start <= version.size(); ++index) {
        size_t end = version.find('.', start);
        if (end == std::string::npos) {
            end = version.size();
        }
        // Leading digits only, as a number's integer value reads them; no overflow.
        long long number = 0;
        for (size_t i = start; i < end && version[i] >= '0' && version[i] <= '9'; ++i) {
            number = number * 10 + (version[i] - '0');
            if (number > 1000000) {
                number = 1000000;
            }
        }
        parts[index] = static_cast<int>(number);
        if (end == version.size()) {
            break;
        }
        start = end + 1;
    }
    if (major) {
        *major = parts[0];
    }
    if (minor) {
        *minor = parts[1];
    }
    if (bugFix) {
        *bugFix = parts[2];
    }
}

void ZELIdentifierUtilities::getOSMajor(int* major, int* minor, int* bugFix) {
    parseOSVersion(platform::Device::current().systemVersion(), major, minor, bugFix);
}

bool ZELIdentifierUtilities::isOSAtLeast(int major, int minor, int bug) {
    int have[3] = {0, 0, 0};
    getOSMajor(&have[0], &have[1], &have[2]);
    const int want[3] = {major, minor, bug};
    for (int i = 0; i < 3; ++i) {
        if (have[i] != want[i]) {
            return have[i] > want[i];
        }
    }
    return true;
}

bool ZELIdentifierUtilities::jailbreakIndicator(const std::string& path) {
    return !path.empty() && platform::FileSystem::current().fileInfo(path).has_value();
}

Dictionary ZELIdentifierUtilities::readITunesMetadataFileAt(const std::string& path) {
    // Read by the platform's one property-list converter, the one the
    // defaults store is read with.
    const auto data = platform::FileSystem::current().readFile(path, kMaximumMetadataFileSize);
    if (!data || data->empty()) return Dictionary();
    return platform::dictionaryFromPropertyList(*data).value_or(Dictionary());
}
