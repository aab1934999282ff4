#pragma once
// The working request: the settings of ZELRequest plus what only the
// component sets, and the parameter dictionary the request-building script
// receives.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Request/ZELRequest.h"

class ZELLocation;

class ZELRequestPrivate : public ZELRequest {
public:
    ZELRequestPrivate() = default;
    // Copies the settings; the counter starts at 0.
    explicit ZELRequestPrivate(const ZELRequest& request);
    ZELRequestPrivate(const ZELRequestPrivate& other) : ZELRequestPrivate(static_cast<const ZELRequest&>(other)) {}

    const std::optional<platform::Dictionary>& additionalParameters() const override { return additionalParameters_; }
    void setAdditionalParameters(std::optional<platform::Dictionary> parameters) override {
        additionalParameters_ = std::move(parameters);
    }
    const std::optional<std::vector<std::string>>& testDevices() const override { return testDevices_; }
    void setTestDevices(std::optional<std::vector<std::string>> devices) override { testDevices_ = std::move(devices); }
    bool isTesting() const override { return testing_; }
    void setTesting(bool testing) override { testing_ = testing; }
    int gender() const override { return gender_; }
    void setGender(int gender) override { gender_ = gender; }
    const std::optional<platform::Date>& birthday() const override { return birthday_; }
    void setBirthday(std::optional<platform::Date> birthday) override { birthday_ = birthday; }
    const std::optional<std::vector<std::string>>& keywords() const override { return keywords_; }
    void setKeywords(std::optional<std::vector<std::string>> keywords) override { keywords_ = std::move(keywords); }

    const std::shared_ptr<const ZELLocation>& location() const { return location_; }
    void setLocation(std::shared_ptr<const ZELLocation> location) { location_ = std::move(location); }
    bool isInterstitialAd() const { return interstitialAd_; }
    void setInterstitialAd(bool interstitialAd) { interstitialAd_ = interstitialAd; }
    // The process-wide number of this ad request, set by the ad controller.
    int32_t counter() const { return counter_; }
    void setCounter(int32_t counter) { counter_ = counter; }

    // Gregorian calendar day at local midnight; a day that does not exist
    // leaves the birthday as it was.
    void setBirthdayWithMonth(int month, int day, int year) override;
    // Coordinates that are not a precise location, or an empty description,
    // leave the location as it was.
    void setLocationWithLatitude(double latitude, double longitude, double accuracy) override;
    void setLocationWithDescription(const std::string& description) override;
    // Empty keywords are ignored; duplicates and order are kept.
    void addKeyword(const std::string& keyword) override;

    std::optional<std::string> genderString() const;    // "m", "f"
    std::optional<std::string> birthdayString() const;  // "yyyyMMdd", local time

    // The parameter dictionary of this request. Reading it uses up the
    // statistics it carries: call it once per ad load.
    platform::Dictionary parameters() const;
    // The same entries, leaving the statistics in place for the next request.
    platform::Dictionary peekParameters() const;

    // At most one entry from the device-signals library, for the ad URL.
    static platform::Dictionary spamSignals();
    // The kind of ad source named by the ad server's reply: 1, 4, 5, else 0.
    static int requestTypeFromString(const std::optional<std::string>& type);
    // Whether the device's system is at least major.minor.
    static bool deviceAtLeastMinimumOSMajorVersion(int major, int minor);

    std::string description() const override;

private:
    platform::Dictionary buildParameters(bool consumeStatistics) const;

    std::optional<std::vector<std::string>> testDevices_;
    bool testing_ = false;
    std::optional<platform::Dictionary> additionalParameters_;
    int gender_ = kGenderUnknown;
    std::optional<platform::Date> birthday_;
    std::shared_ptr<const ZELLocation> location_;
    std::optional<std::vector<std::string>> keywords_;
    bool interstitialAd_ = false;
    int32_t counter_ = 0;
};
