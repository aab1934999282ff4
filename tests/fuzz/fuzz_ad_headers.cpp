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

#include <charconv>

#include "FuzzSupport.h"
#include "Object/ZELAdResponse.h"
#include "Object/ZELObjectPrivate.h"
#include "Object/ZELReloadScheduler.h"
#include "Utility/ZELNumberUtilities.h"

namespace {

using URLs = std::vector<platform::URL>;

void checkURLList(const std::string& header) {
    const URLs urls = ZELAdResponse::urlsInHeader(header);
    std::string joined;
    for (const auto& url : urls) {
        const std::string& text = url.absoluteString();
        FUZZ_CHECK(!text.empty() && text.find_first_of(" \t") == std::string::npos);
        FUZZ_CHECK(header.find(text) != std::string::npos);
        FUZZ_CHECK(platform::URL::parse(text) == url);
        joined += (joined.empty() ? "" : " ") + text;
    }
    FUZZ_CHECK(ZELAdResponse::urlsInHeader(joined) == urls);
    FUZZ_CHECK(ZELAdResponse::urlsInHeader(header + " ") == urls);
    // What was pending stays first, and the list stops at its bound.
    const URLs pending{*platform::URL::parse("http://127.0.0.1/im/0?n=1")};
    URLs expected = pending;
    expected.insert(expected.end(), urls.begin(), urls.end());
    const size_t over = expected.size() > kZELMaximumTrackingURLs ? expected.size() - kZELMaximumTrackingURLs : 0;
    expected.resize(std::min(expected.size(), kZELMaximumTrackingURLs));
    URLs list = pending;
    FUZZ_CHECK(ZELAdResponse::appendBounded(list, urls) == over);
    FUZZ_CHECK(list == expected);
}

void checkNumber(const std::string& text) {
    const double value = ZELNumberUtilities::floatValueOfText(text);
    FUZZ_CHECK(std::isfinite(value));
    FUZZ_CHECK(ZELNumberUtilities::floatValueOfText(" \t" + text) == value);
    const size_t first = text.find_first_not_of(" \t\r\n");
    size_t digit = first;
    if (digit != std::string::npos && (text[digit] == '+' || text[digit] == '-')) ++digit;
    if (digit >= text.size() || !((text[digit] >= '0' && text[digit] <= '9') || text[digit] == '.')) {
        FUZZ_CHECK(value == 0);
    } else if (digit == first) {
        FUZZ_CHECK(ZELNumberUtilities::floatValueOfText("-" + text.substr(first)) == -value);
    }
    char buffer[400];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    FUZZ_CHECK(written.ec == std::errc());
    FUZZ_CHECK(ZELNumberUtilities::floatValueOfText(std::string(buffer, written.ptr)) == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const kNames[] = {"X-Ruma-Tracking-Urls", "X-Ruma-Click-Tracking-Urls", "X-Ruma-Orientation",
                                         "X-Ruma-Interstitial-Timeout", "X-Ruma-Refresh-Rate"};
    static const platform::URL kAdURL = *platform::URL::parse("http://127.0.0.1:8090/ads?slotname=fuzz");
    static std::shared_ptr<ZELObjectPrivate> controller = [] {
        fuzz::sim();
        return ZELObjectPrivate::initWithFrame(platform::Rect(0, 0, 320, 50));
    }();
    static const auto delegate = std::make_shared<fuzz::FetchEnd>();
    static ZELReloadScheduler& scheduler = []() -> ZELReloadScheduler& {
        auto* seen = new ZELReloadScheduler([] {});
        seen->setVisible(true);  // a banner on the screen: its timer runs
        return *seen;
    }();

    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::vector<std::optional<std::string>> values = fuzz::splitLines(input, 5);

    for (size_t i : {0, 1})
        if (values[i]) checkURLList(*values[i]);
    for (size_t i : {3, 4})
        if (values[i]) checkNumber(*values[i]);

    // The same values through the controller, as a 304 answer brings them.
    platform::HeaderMap headers;
    for (size_t i = 0; i < values.size(); ++i)
        if (values[i]) headers[kNames[i]] = *values[i];
    fuzz::sim().http().route(kAdURL.absoluteString(), platform::sim::SimResponse::withStatus(304, {}, headers));
    delegate->ended = delegate->failed = false;
    ZELCachedFile file(delegate, kAdURL, ZELCachePurpose::AdMarkup);
    file.validate();
    fuzz::sim().runUntilIdle();
    FUZZ_CHECK((delegate->ended || delegate->failed) && file.httpHeaders());

    FUZZ_CHECK(controller->pendingTrackingURLs().empty() && controller->pendingClickURLs().empty());
    const ZELOrientationSetting before = controller->supportedOrientations();
    const ZELAdResponse response = ZELAdResponse::fromHeaders(*file.httpHeaders());
    URLs tracking, clicks;
    ZELAdResponse::appendBounded(tracking, ZELAdResponse::urlsInHeader(values[0]));
    ZELAdResponse::appendBounded(clicks, ZELAdResponse::urlsInHeader(values[1]));
    controller->processHTTPHeaders(file);
    FUZZ_CHECK(controller->pendingTrackingURLs() == tracking);
    FUZZ_CHECK(controller->pendingClickURLs() == clicks);
    const ZELOrientationSetting named = ZELOrientationFromString(values[2]);
    FUZZ_CHECK(response.orientation == named);
    FUZZ_CHECK(controller->supportedOrientations() == (named == kZELOrientationUnset ? before : named));
    FUZZ_CHECK((named != kZELOrientationUnset) ==
               (values[2] && (*values[2] == "any" || *values[2] == "portrait" || *values[2] == "landscape")));

    const std::optional<double> rate = values[4] && !values[4]->empty()
                                           ? std::optional(ZELNumberUtilities::floatValueOfText(*values[4]))
                                           : std::nullopt;
    FUZZ_CHECK(response.refreshRate == rate);
    scheduler.schedule(rate.value_or(0));
    FUZZ_CHECK(scheduler.isScheduled() == (rate.value_or(0) > 0));
    if (rate.value_or(0) > 0) FUZZ_CHECK(scheduler.interval() == std::max(*rate, kZELMinimumRefreshSeconds));
    scheduler.deactivate();
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
