#pragma once
// The one error type the application sees: every failed banner load reaches
// its delegate as a ZELRequestError.

#include <string>

#include "platform/Http.h"
#include "platform/Value.h"

class ZELRequest;

// Our error domain (reverse DNS).
inline constexpr const char kZELErrorDomain[] = "org.nimbra.ads";

// User-info keys of the two message entries.
inline constexpr const char kZELLocalizedDescriptionKey[] = "NSLocalizedDescription";
inline constexpr const char kZELLocalizedFailureReasonErrorKey[] = "NSLocalizedFailureReason";

// Codes outside 0..5 are representable and read as an invalid request.
enum ZELErrorCode : long {
    ZELErrorInvalidRequest = 0,
    ZELErrorNoAd = 1,
    ZELErrorNetworkError = 2,
    ZELErrorServerError = 3,
    ZELErrorOSVersionTooLow = 4,
    ZELErrorTimeout = 5,
};

class ZELRequestError : public platform::Error {
public:
    static ZELRequestError errorWithCode(long code, const ZELRequest* request);

    // The request is read for an invalid-request error only and may be null.
    // Its parameters are read without using up the statistics they carry, so
    // the next ad request still reports them.
    ZELRequestError(long code, const ZELRequest* request);

    const platform::Dictionary& userInfo() const { return userInfo_; }
    std::string localizedDescription() const;
    std::string localizedFailureReason() const;

    // "Request Error: " and the text for the code.
    static std::string localizedStringForErrorCode(long code);

private:
    platform::Dictionary userInfo_;
};
