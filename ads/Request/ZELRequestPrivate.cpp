#include "Request/ZELRequestPrivate.h"

#include <algorithm>

#include "Network/ZELNetworkChecker.h"
#include "Utility/ZELRequestParameters.h"
#include "Statistics/ZELStatistics.h"
#include "Utility/ZELIdentifierUtilities.h"
#include "Utility/ZELLocation.h"
#include "platform/Application.h"
#include "platform/Services.h"
#include "signals/Signals.h"

namespace {

platform::Array toArray(const std::vector<std::string>& strings) {
    platform::Array array;
    array.reserve(strings.size());
    for (const std::string& s : strings) array.emplace_back(s);
    return array;
}

}  // namespace

ZELRequestPrivate::ZELRequestPrivate(const ZELRequest& request) {
    setTestDevices(request.testDevices());
    setTesting(request.isTesting());
    setAdditionalParameters(request.additionalParameters());
    setGender(request.gender());
    setBirthday(request.birthday());
    setKeywords(request.keywords());
    if (auto other = dynamic_cast<const ZELRequestPrivate*>(&request)) {
        setLocation(other->location());
        setInterstitialAd(other->isInterstitialAd());
    }
}

void ZELRequestPrivate::setBirthdayWithMonth(int month, int day, int year) {
    if (std::optional<platform::Date> date = platform::dateFromGregorian(year, month, day)) setBirthday(date);
}

void ZELRequestPrivate::setLocationWithLatitude(double latitude, double longitude, double accuracy) {
    if (auto location = ZELLocation::initWithLatitude(static_cast<float>(latitude), static_cast<float>(longitude),
                                                      static_cast<float>(accuracy))) {
        setLocation(std::move(location));
    }
}

void ZELRequestPrivate::setLocationWithDescription(const std::string& description) {
    if (auto location = ZELLocation::initWithDescription(description)) setLocation(std::move(location));
}

void ZELRequestPrivate::addKeyword(const std::string& keyword) {
    if (keyword.empty()) return;
    if (!keywords_) keywords_.emplace();
    keywords_->push_back(keyword);
}

std::optional<std::string> ZELRequestPrivate::genderString() const {
    switch (gender_) {
    case kGenderMale: return "m";
    case kGenderFemale: return "f";
    default: return std::nullopt;
    }
}

std::optional<std::string> ZELRequestPrivate::birthdayString() const {
    if (!birthday_) return std::nullopt;
    return platform::formatDate(*birthday_, "yyyyMMdd", platform::TimeZone::Local);
}

platform::Dictionary ZELRequestPrivate::parameters() const { return buildParameters(true); }

platform::Dictionary ZELRequestPrivate::peekParameters() const { return buildParameters(false); }

platform::Dictionary ZELRequestPrivate::buildParameters(bool consumeStatistics) const {
    platform::Dictionary result = ZELIdentifierUtilities::sharedInstance().parameters();

    const std::string& version = ZELRequest::sdkVersion();
    if (!version.empty()) result[kZELParameterSDKVersion] = version;

    if (std::optional<std::string> network = ZELNetworkChecker::sharedChecker().networkTypeString()) {
        result[kZELParameterNetworkType] = *network;
    }

    if (testing_) {
        platform::log("<Nimbra> \"testing\" property has been deprecated.  Use \"testDevices\" instead.");
        result[kZELParameterTesting] = "1";
    }

    if (testDevices_) {
        // The application's own identifier of the device, the one "isu" hashes.
        const std::string device = platform::Device::current().uniqueIdentifier();
        if (!device.empty() && std::find(testDevices_->begin(), testDevices_->end(), device) != testDevices_->end()) {
            result[kZELParameterTestMode] = "on";
        }
    }

    if (additionalParameters_) result[kZELParameterExtraParams] = *additionalParameters_;
    if (std::optional<std::string> gender = genderString()) result[kZELParameterGender] = *gender;
    if (std::optional<std::string> birthday = birthdayString()) result[kZELParameterBirthday] = *birthday;
    if (keywords_) result[kZELParameterKeywords] = toArray(*keywords_);
    if (location_) {
        if (std::optional<std::string> uule = location_->oolongRepresentation()) result[kZELParameterLocation] = *uule;
    }

    std::shared_ptr<ZELStatistics> statistics = ZELStatistics::sharedStatistics();
    for (auto& [key, value] : consumeStatistics ? statistics->parameters() : statistics->peekParameters()) {
        result[key] = value;
    }

    result[kZELParameterTotalAdRequests] = platform::Value(counter_);
    return result;
}

platform::Dictionary ZELRequestPrivate::spamSignals() {
    platform::Dictionary result;
    std::string signals;
    if (!zel_gmrs(signals)) return result;

    const size_t firstEquals = signals.find('=');
    if (firstEquals == std::string::npos) return result;
    const std::string key = signals.substr(0, firstEquals);
    // The value ends at the next "=", if any.
    const size_t secondEquals = signals.find('=', firstEquals + 1);
    const std::string value = signals.substr(
        firstEquals + 1, secondEquals == std::string::npos ? std::string::npos : secondEquals - firstEquals - 1);
    if (value.empty()) return result;
    result[key] = value;
    return result;
}

int ZELRequestPrivate::requestTypeFromString(const std::optional<std::string>& type) {
    if (!type) return 0;
    if (*type == "pexmark") return 1;
    if (*type == "orvik") return 4;
    if (*type == "qtr") return 5;
    return 0;
}

bool ZELRequestPrivate::deviceAtLeastMinimumOSMajorVersion(int major, int minor) {
    int deviceMajor = 0, deviceMinor = 0;
    ZELIdentifierUtilities::getOSMajor(&deviceMajor, &deviceMinor, nullptr);
    return deviceMajor > major || (deviceMajor == major && deviceMinor >= minor);
}

std::string ZELRequestPrivate::description() const {
    std::string text = ZELRequest::description();
    if (gender_ == kGenderMale) text += "\ngender:Male";
    if (gender_ == kGenderFemale) text += "\ngender:Female";
    if (birthday_) text += "\nbirthday:" + platform::Value(*birthday_).description();
    if (location_) text += "\nlocation:" + location_->description();
    if (keywords_) text += "\nkeywords:" + platform::Value(toArray(*keywords_)).description();
    if (additionalParameters_)
        text += "\nadditionalParameters:" + platform::Value(*additionalParameters_).description();
    return text;
}
