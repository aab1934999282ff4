// The ad server's response headers as the ad controller reads them: tracking
// URL lists, orientation, interstitial time-out and refresh rate. Whatever
// the text, reading never crashes; a URL list holds only URLs that read back
// to themselves, in order, appends to what was pending and stops at its bound;
// numbers are finite and read back from their own decimal text; the reload
// timer runs exactly for a positive rate, never oftener than its minimum.
//
// Input: up to five lines, the values of X-Ruma-Tracking-Urls,
// X-Ruma-Click-Tracking-Urls, X-Ruma-Orientation, X-Ruma-Interstitial-Timeout
// and X-Ruma-Refresh-Rate; a missing line is a missing header.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "Network/ZELCachedFile.h"
#include "Object/ZELObjectPrivate.h"

namespace {

using URLs = std::optional<std::vector<platform::URL>>;

void checkURLList(const std::string& header) {
    size_t dropped = 0;
    const URLs urls = ZELObjectPrivate::createOrReuseArrayOfURLsFromHeader(std::nullopt, header, &dropped);
    FUZZ_CHECK(dropped == 0 || (urls && urls->size() == kZELMaximumTrackingURLs));
    if (!urls) {
        FUZZ_CHECK(!ZELObjectPrivate::createOrReuseArrayOfURLsFromHeader(std::nullopt, header + " "));
    } else {
        FUZZ_CHECK(!urls->empty());
        std::string joined;
        for (const auto& url : *urls) {
            const std::string& text = url.absoluteString();
            FUZZ_CHECK(!text.empty() && text.find_first_of(" \t") == std::string::npos);
            FUZZ_CHECK(header.find(text) != std::string::npos);
            FUZZ_CHECK(platform::URL::parse(text) == url);
            joined += (joined.empty() ? "" : " ") + text;
        }
        FUZZ_CHECK(ZELObjectPrivate::createOrReuseArrayOfURLsFromHeader(std::nullopt, joined) == urls);
    }
    // What was pending stays first; no header leaves it alone.
    const std::vector<platform::URL> pending{*platform::URL::parse("http://127.0.0.1/im/0?n=1")};
    std::vector<platform::URL> expected = pending;
    if (urls) expected.insert(expected.end(), urls->begin(), urls->end());
    if (expected.size() > kZELMaximumTrackingURLs) expected.resize(kZELMaximumTrackingURLs);
    FUZZ_CHECK(ZELObjectPrivate::createOrReuseArrayOfURLsFromHeader(pending, header) == expected);
    FUZZ_CHECK(ZELObjectPrivate::createOrReuseArrayOfURLsFromHeader(pending, std::nullopt) == pending);
}

void checkNumber(const std::string& text) {
    const double value = ZELObjectPrivate::floatValueOfText(text);
    FUZZ_CHECK(std::isfinite(value));
    FUZZ_CHECK(ZELObjectPrivate::floatValueOfText(" \t" + text) == value);
    const size_t first = text.find_first_not_of(" \t\r\n");
    size_t digit = first;
    if (digit != std::string::npos && (text[digit] == '+' || text[digit] == '-')) ++digit;
    if (digit >= text.size() || !((text[digit] >= '0' && text[digit] <= '9') || text[digit] == '.')) {
        FUZZ_CHECK(value == 0);
    } else if (digit == first) {
        FUZZ_CHECK(ZELObjectPrivate::floatValueOfText("-" + text.substr(first)) == -value);
    }
    char buffer[400];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    FUZZ_CHECK(written.ec == std::errc());
    FUZZ_CHECK(ZELObjectPrivate::floatValueOfText(std::string(buffer, written.ptr)) == value);
}

// Answers the header fetch; the controller only looks at the headers.
struct Delegate final : ZELCachedFileDelegate {
    void cachedFileDownloadDidFail(ZELCachedFile&, const std::optional<platform::Error>&) override { ended = true; }
    void cachedFileDownloadDidEnd(ZELCachedFile&) override { ended = true; }
    std::optional<platform::Error> cachedFileShouldRedirectToURL(ZELCachedFile&, const platform::URL&) override {
        return std::nullopt;
    }
    bool ended = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const kNames[] = {"X-Ruma-Tracking-Urls", "X-Ruma-Click-Tracking-Urls", "X-Ruma-Orientation",
                                         "X-Ruma-Interstitial-Timeout", "X-Ruma-Refresh-Rate"};
    static const platform::URL kAdURL = *platform::URL::parse("http://127.0.0.1:8090/ads?slotname=fuzz");
    static std::shared_ptr<ZELObjectPrivate> controller = [] {
        fuzz::sim();
        return ZELObjectPrivate::initWithFrame(platform::Rect(0, 0, 320, 50));
    }();
    static const auto delegate = std::make_shared<Delegate>();

    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::optional<std::string>> values(5);
    size_t start = 0;
    for (size_t i = 0; i < values.size() && start <= input.size(); ++i) {
        const size_t end = std::min(input.find('\n', start), input.size());
        values[i] = std::string(input.substr(start, end - start));
        start = end + 1;
    }

    for (size_t i : {0, 1})
        if (values[i]) checkURLList(*values[i]);
    for (size_t i : {3, 4})
        if (values[i]) checkNumber(*values[i]);

    // The same values through the controller, as a 304 answer brings them.
    platform::HeaderMap headers;
    for (size_t i = 0; i < values.size(); ++i)
        if (values[i]) headers[kNames[i]] = *values[i];
    fuzz::sim().http().route(kAdURL.absoluteString(), platform::sim::SimResponse::withStatus(304, {}, headers));
    delegate->ended = false;
    ZELCachedFile file(delegate, kAdURL, ZELCachePurpose::AdMarkup);
    file.validate();
    fuzz::sim().runUntilIdle();
    FUZZ_CHECK(delegate->ended && file.httpHeaders());

    FUZZ_CHECK(controller->pendingTrackingURLs().empty() && controller->pendingClickURLs().empty());
    const ZELOrientationSetting before = controller->supportedOrientations();
    const URLs tracking = ZELObjectPrivate::createOrReuseArrayOfURLsFromHeader(controller->pendingTrackingURLs(), values[0]);
    const URLs clicks = ZELObjectPrivate::createOrReuseArrayOfURLsFromHeader(controller->pendingClickURLs(), values[1]);
    controller->processHTTPHeaders(file);
    FUZZ_CHECK(controller->pendingTrackingURLs() == tracking.value_or(std::vector<platform::URL>()));
    FUZZ_CHECK(controller->pendingClickURLs() == clicks.value_or(std::vector<platform::URL>()));
    const ZELOrientationSetting named = ZELOrientationFromString(values[2]);
    FUZZ_CHECK(controller->supportedOrientations() == (named == kZELOrientationUnset ? before : named));
    FUZZ_CHECK((named != kZELOrientationUnset) ==
               (values[2] && (*values[2] == "any" || *values[2] == "portrait" || *values[2] == "landscape")));

    const double rate = values[4] ? ZELObjectPrivate::floatValueOfText(*values[4]) : 0;
    controller->scheduleReloadTimer(rate);
    FUZZ_CHECK(controller->isReloadTimerScheduled() == (rate > 0));
    if (rate > 0) FUZZ_CHECK(controller->reloadSeconds() == std::max(rate, kZELMinimumRefreshSeconds));
    controller->resetReloadTimer();
    FUZZ_CHECK(fuzz::sim().runLoop().pendingCount() == 0);

    // Each input leaves what it found: a new ad's file starts the pending
    // lists afresh (its fetch is dropped at once), and the route goes. What
    // an input allocates it frees, so libFuzzer's leak check stays quiet
    // instead of re-running inputs whose lists outgrew the last one's.
    if (!controller->pendingTrackingURLs().empty() || !controller->pendingClickURLs().empty()) {
        controller->setAdHTML(
            std::make_shared<ZELCachedFile>(std::weak_ptr<ZELCachedFileDelegate>(), kAdURL, ZELCachePurpose::AdMarkup));
        controller->setAdHTML(nullptr);
    }
    fuzz::sim().http().removeRoute(kAdURL.absoluteString());
    fuzz::settle();
    return 0;
}
