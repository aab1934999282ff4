#pragma once
// What the ad server says about an ad in the headers of its markup download,
// read from one answer's headers (a redirect's or the last one's) as one
// value:
//
//   X-Ruma-Tracking-Urls          impression URLs, separated by single blanks
//   X-Ruma-Click-Tracking-Urls    click-tracking URLs, the same way
//   X-Ruma-Orientation            "any", "portrait" or "landscape"
//   X-Ruma-Interstitial-Timeout   seconds, kept for the application
//   X-Ruma-Refresh-Rate           seconds until the next ad

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "ViewController/ZELOrientationSetting.h"
#include "platform/Http.h"
#include "platform/URL.h"

// At most this many URLs of each tracking header are kept per ad: an honest
// ad names two or three counters, and each URL is a request the user pays for.
inline constexpr size_t kZELMaximumTrackingURLs = 16;

struct ZELAdResponse {
    std::vector<platform::URL> trackingURLs;
    std::vector<platform::URL> clickURLs;
    // Unset when the header is missing or names no orientation.
    ZELOrientationSetting orientation = kZELOrientationUnset;
    // None when the header is missing or empty; text that is no number is 0.
    std::optional<double> interstitialTimeout;
    std::optional<double> refreshRate;

    static ZELAdResponse fromHeaders(const platform::HeaderMap& headers);

    // The header's URLs in order: pieces between single blanks, trimmed of
    // blanks and tabs; a piece that is no URL is skipped. Unbounded.
    static std::vector<platform::URL> urlsInHeader(const std::optional<std::string>& header);
    // Appends to a list kept to kZELMaximumTrackingURLs; answers how many
    // did not fit.
    static size_t appendBounded(std::vector<platform::URL>& list, const std::vector<platform::URL>& urls);
};

// The tracking and click URLs gathered for the ad loading or shown now, from
// each answer of its download (redirects too), each list bounded.
class ZELPendingURLs {
public:
    // What does not fit is dropped, and said once per ad.
    void add(const ZELAdResponse& response);
    void clear() { *this = {}; }
    const std::vector<platform::URL>& tracking() const { return tracking_; }
    const std::vector<platform::URL>& clicks() const { return clicks_; }

private:
    std::vector<platform::URL> tracking_;
    std::vector<platform::URL> clicks_;
    bool droppedSaid_ = false;
};
