#pragma once
// The application's description of the ad it wants: targeting, test settings
// and free extra parameters. Every request is in fact a ZELRequestPrivate;
// make one with ZELRequest::request().

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Date.h"
#include "platform/Value.h"

class ZELRequest {
public:
    enum Gender : int { kGenderUnknown = 0, kGenderMale = 1, kGenderFemale = 2 };

    // A new, empty request (of the private type).
    static std::shared_ptr<ZELRequest> request();
    // "ruma-sdk-i-v4.1.1", made once.
    static const std::string& sdkVersion();

    virtual ~ZELRequest() = default;
    ZELRequest& operator=(const ZELRequest&) = delete;

    // A new request with the same settings and a counter of 0.
    std::shared_ptr<ZELRequest> copy() const;

    // Free key/value pairs, passed on as one nested object.
    virtual const std::optional<platform::Dictionary>& additionalParameters() const = 0;
    virtual void setAdditionalParameters(std::optional<platform::Dictionary> parameters) = 0;
    // Device identifiers on which test ads are wanted.
    virtual const std::optional<std::vector<std::string>>& testDevices() const = 0;
    virtual void setTestDevices(std::optional<std::vector<std::string>> devices) = 0;
    // Older test switch: still honoured, with a warning.
    virtual bool isTesting() const = 0;
    virtual void setTesting(bool testing) = 0;
    // 0 not given, 1 male, 2 female; other values are kept and not reported.
    virtual int gender() const = 0;
    virtual void setGender(int gender) = 0;
    virtual const std::optional<platform::Date>& birthday() const = 0;
    virtual void setBirthday(std::optional<platform::Date> birthday) = 0;
    virtual const std::optional<std::vector<std::string>>& keywords() const = 0;
    virtual void setKeywords(std::optional<std::vector<std::string>> keywords) = 0;

    // These do nothing here; the private type does the work.
    virtual void setBirthdayWithMonth(int month, int day, int year);
    virtual void setLocationWithLatitude(double latitude, double longitude, double accuracy);
    virtual void setLocationWithDescription(const std::string& description);
    virtual void addKeyword(const std::string& keyword);

    // "ZELRequest<0x...>: " followed by the targeting that is set.
    virtual std::string description() const;

protected:
    ZELRequest() = default;
    ZELRequest(const ZELRequest&) = default;
};
