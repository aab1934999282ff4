#include "Object/ZELAdResponse.h"

#include <utility>

#include "Utility/ZELNumberUtilities.h"
#include "platform/Services.h"

namespace {

std::optional<std::string> header(const platform::HeaderMap& headers, const char* name) {
    auto it = headers.find(name);
    if (it == headers.end()) return std::nullopt;
    return it->second;
}

std::optional<double> number(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    return ZELNumberUtilities::floatValueOfText(*text);
}

}  // namespace

ZELAdResponse ZELAdResponse::fromHeaders(const platform::HeaderMap& headers) {
    ZELAdResponse response;
    response.trackingURLs = urlsInHeader(header(headers, "X-Ruma-Tracking-Urls"));
    response.clickURLs = urlsInHeader(header(headers, "X-Ruma-Click-Tracking-Urls"));
    response.orientation = ZELOrientationFromString(header(headers, "X-Ruma-Orientation"));
    response.interstitialTimeout = number(header(headers, "X-Ruma-Interstitial-Timeout"));
    response.refreshRate = number(header(headers, "X-Ruma-Refresh-Rate"));
    return response;
}

std::vector<platform::URL> ZELAdResponse::urlsInHeader(const std::optional<std::string>& header) {
    std::vector<platform::URL> urls;
    if (!header) return urls;
    size_t start = 0;
    while (start <= header->size()) {
        const size_t blank = header->find(' ', start);
        std::string piece = header->substr(start, blank == std::string::npos ? std::string::npos : blank - start);
        const size_t b = piece.find_first_not_of(" \t");
        const size_t e = piece.find_last_not_of(" \t");
        piece = b == std::string::npos ? std::string() : piece.substr(b, e - b + 1);
        if (auto url = platform::URL::parse(piece); url && !url->absoluteString().empty()) urls.push_back(*url);
        if (blank == std::string::npos) break;
        start = blank + 1;
    }
    return urls;
}

size_t ZELAdResponse::appendBounded(std::vector<platform::URL>& list, const std::vector<platform::URL>& urls) {
    size_t dropped = 0;
    for (const auto& url : urls) {
        if (list.size() >= kZELMaximumTrackingURLs) {
            ++dropped;
        } else {
            list.push_back(url);
        }
    }
    return dropped;
}

void ZELPendingURLs::add(const ZELAdResponse& response) {
    auto add = [this](std::vector<platform::URL>& list, const std::vector<platform::URL>& urls, const char* header) {
        if (ZELAdResponse::appendBounded(list, urls) == 0 || std::exchange(droppedSaid_, true)) return;
        platform::log("<Nimbra> The ad server sent more than " + std::to_string(kZELMaximumTrackingURLs) + " URLs in " +
                      header + "; the rest are dropped.");
    };
    add(tracking_, response.trackingURLs, "X-Ruma-Tracking-Urls");
    add(clicks_, response.clickURLs, "X-Ruma-Click-Tracking-Urls");
}
