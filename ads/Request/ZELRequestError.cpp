#include "Request/ZELRequestError.h"

#include <cstdio>

#include "Request/ZELRequestPrivate.h"
#include "Utility/ZELIdentifierUtilities.h"

namespace {

// The minimum system for ads.
constexpr int kMinimumOSMajor = 3;
constexpr int kMinimumOSMinor = 0;

std::string osVersionTooLowText() {
    int major = 0, minor = 0, bugFix = 0;
    ZELIdentifierUtilities::getOSMajor(&major, &minor, &bugFix);
    char text[160];
    std::snprintf(text, sizeof text, "This device's OS is %i.%i.%i.  It is below the minimum of %i.%i.", major, minor,
                  bugFix, kMinimumOSMajor, kMinimumOSMinor);
    return text;
}

}  // namespace

std::string ZELRequestError::localizedStringForErrorCode(long code) {
    std::string text;
    switch (code) {
    case ZELErrorNoAd: text = "No ad to show."; break;
    case ZELErrorNetworkError: text = "A network error occurred."; break;
    case ZELErrorServerError: text = "Server error processing the request."; break;
    case ZELErrorOSVersionTooLow: text = osVersionTooLowText(); break;
    case ZELErrorTimeout: text = "The Nimbra Ad request was unable to be fulfilled before a timeout occurred."; break;
    default: text = "Invalid ad request parameter(s).  Check the Xcode console for details."; break;
    }
    return "Request Error: " + text;
}

ZELRequestError ZELRequestError::errorWithCode(long code, const ZELRequest* request) {
    return ZELRequestError(code, request);
}

ZELRequestError::ZELRequestError(long errorCode, const ZELRequest* request) {
    const std::string message = localizedStringForErrorCode(errorCode);
    domain = kZELErrorDomain;
    code = errorCode;
    description = message;

    if (errorCode == ZELErrorInvalidRequest) {
        if (auto requestPrivate = dynamic_cast<const ZELRequestPrivate*>(request)) {
            userInfo_ = requestPrivate->peekParameters();
        }
    }
    // The messages win over a request parameter that happens to share a key.
    userInfo_[kZELLocalizedDescriptionKey] = message;
    userInfo_[kZELLocalizedFailureReasonErrorKey] = message;
}

namespace {

std::string messageUnder(const platform::Dictionary& userInfo, const char* key, const std::string& fallback) {
    auto it = userInfo.find(key);
    const std::string* text = it == userInfo.end() ? nullptr : it->second.asString();
    return text ? *text : fallback;
}

}  // namespace

std::string ZELRequestError::localizedDescription() const {
    return messageUnder(userInfo_, kZELLocalizedDescriptionKey, description);
}

std::string ZELRequestError::localizedFailureReason() const {
    return messageUnder(userInfo_, kZELLocalizedFailureReasonErrorKey, description);
}
