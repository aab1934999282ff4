#include "Statistics/ZELStatistics.h"

#include <sys/random.h>

#include <cerrno>
#include <cmath>
#include <random>

#include "Notification/ZELNotification.h"
#include "Utility/ZELNetworkUtilities.h"
#include "Utility/ZELServerAddresses.h"
#include "signals/Signals.h"
#include "Utility/ZELRequestParameters.h"
#include "Timing/ZELTimingManager.h"
#include "platform/Services.h"

namespace {

// The store's and the timing manager's identifier.
constexpr const char kSharedIdentifier[] = "shared";
// Attached to the click's latency timing; used for the backgrounded-click time
// and never reported.
constexpr const char kClickDateKey[] = "date";
constexpr const char kClickStringQueryKey[] = "ai";

std::shared_ptr<ZELStatistics>& sharedSlot() {
    static std::shared_ptr<ZELStatistics> shared;
    return shared;
}

std::string& domainSuffixSlot() {
    static std::string suffix = ZELServerAddresses::adServerRootURL().host();
    return suffix;
}

bool hasSuffix(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Unsigned 32-bit truncation of a non-negative double; out of range gives 0.
uint32_t truncateToUInt32(double value) {
    if (!std::isfinite(value) || value < 0 || value >= 4294967296.0) return 0;
    return static_cast<uint32_t>(value);
}

}  // namespace

std::shared_ptr<ZELStatistics> ZELStatistics::sharedStatistics() {
    std::shared_ptr<ZELStatistics>& shared = sharedSlot();
    if (!shared) shared = std::shared_ptr<ZELStatistics>(new ZELStatistics());
    return shared;
}

void ZELStatistics::releaseSharedStatistics() { sharedSlot().reset(); }

const std::vector<std::string>& ZELStatistics::allTimingNames() {
    static const std::vector<std::string> names = {
        kZELParameterPriorRequestLatency,       kZELParameterPriorClickLatency,
        kZELParameterPriorClickString,          kZELParameterPriorPreClickLatency,
        kZELParameterPriorClickRedirectLatency, kZELParameterPriorLandingPageLoad,
        kZELParameterPriorLandingPageDuration,  kZELParameterTimeSinceFirstRequest,
    };
    return names;
}

void ZELStatistics::setAdNetworkDomainSuffixForTesting(const std::string& suffix) {
    domainSuffixSlot() = suffix.empty() ? ZELServerAddresses::adServerRootURL().host() : suffix;
}

const std::string& ZELStatistics::adNetworkDomainSuffix() { return domainSuffixSlot(); }

ZELStatistics::ZELStatistics()
    : statistics_(std::make_unique<ZELStatisticsCore>(kSharedIdentifier)),
      timingMgr_(std::make_unique<ZELTimingManager>(kSharedIdentifier)) {
    sessionId_ = randomSessionId();
}

// From the kernel's generator: a clock-seeded random() would give two
// processes started in the same second one session, and reseeding it would
// take the application's own sequence away from it.
uint32_t ZELStatistics::randomSessionId() {
    uint32_t id = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(&id);
    size_t have = 0;
    while (have < sizeof id) {
        const ssize_t n = ::getrandom(bytes + have, sizeof id - have, 0);
        if (n > 0) {
            have += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            // No kernel generator (a very old kernel): the library's device.
            return static_cast<uint32_t>(std::random_device()());
        }
    }
    return id;
}

ZELStatistics::~ZELStatistics() = default;

platform::Dictionary ZELStatistics::collectParameters() const {
    platform::Dictionary result;
    result[kZELParameterSessionID] = platform::Value(sessionId_);

    std::shared_ptr<ZELTiming> click = timingNamed(kZELParameterPriorClickLatency);

    uint32_t backgroundedClickMilliseconds = 0;
    if (statistics_->objectForKey(kZELParameterPriorClickBackgroundedApp) && click) {
        if (std::optional<platform::Value> date = click->valueForKey(kClickDateKey)) {
            if (std::optional<platform::Date> clickDate = date->asDate()) {
                backgroundedClickMilliseconds = truncateToUInt32(std::fabs(clickDate->timeIntervalSinceNow()) * 1000.0);
            }
        }
    }

    for (const std::string& name : allTimingNames()) {
        // A pre-click time is only reported together with a click.
        if (name == kZELParameterPriorPreClickLatency && !click) continue;
        std::shared_ptr<ZELTiming> timing = timingNamed(name);
        if (!timing) continue;
        result[name] = platform::Value(timing->elapsedMillisecondsString());
        for (const auto& [key, value] : timing->keysAndValues()) {
            if (timing == click && key == kClickDateKey) continue;
            result[key] = value;
        }
    }

    if (backgroundedClickMilliseconds != 0) {
        result[kZELParameterPriorClickLatency] = platform::Value(backgroundedClickMilliseconds);
    }

    for (const char* key : {kZELParameterTotalAdRequests, kZELParameterPriorClickBreakOut,
                            kZELParameterAppOpenInterstitialTimedOut, kZELParameterAppOpenInterstitialNoFill,
                            kZELParameterPriorClickBackgroundedApp, kZELParameterPriorLandingPageNavCount,
                            kZELParameterPriorLandingPageSSLNavCount, kZELParameterPriorClickCount}) {
        std::optional<platform::Value> number = statistics_->numberForKey(key);
        if (number && ZELStatisticsCore::integerValue(*number) != 0) result[key] = *number;
    }
    return result;
}

void ZELStatistics::clearReported() {
    for (const std::string& name : allTimingNames()) {
        if (name != kZELParameterTimeSinceFirstRequest) removeTimingNamed(name);
    }
    resetBreakOutToSafari();
    resetAppOpenInterstitialTimeOut();
    resetAppOpenInterstitialNoFill();
    resetClickBackgroundedApp();
    resetPageNavigationCount();
    resetSSLPageNavigationCount();
    resetClickCount();
}

platform::Dictionary ZELStatistics::parameters() {
    platform::Dictionary result = collectParameters();
    clearReported();
    return result;
}

platform::Dictionary ZELStatistics::peekParameters() const { return collectParameters(); }

namespace {

bool isNoClick(const platform::URL& url) {
    return ZELNotification::isNotificationURL(url) || url.absoluteString() == "about:blank";
}

}  // namespace

std::optional<platform::URL> ZELStatistics::clickURL(const std::optional<platform::URL>& url) const {
    if (!url || isNoClick(*url)) return url;
    std::optional<std::string> clickString = ZELNetworkUtilities::parameterValueForKey(kClickStringQueryKey, *url);
    std::string signals;
    if (!clickString || clickString->empty() || !zel_gmcs(*clickString, signals)) return url;
    // A signal text that makes no valid URL leaves the click as it was.
    std::optional<platform::URL> withSignals = ZELNetworkUtilities::appendQueryKey(signals, std::nullopt, *url);
    return withSignals ? withSignals : url;
}

void ZELStatistics::countClick(const std::optional<platform::URL>& url) {
    if (url && isNoClick(*url)) return;
    incrementClickCount();
    startTimingNamed(kZELParameterPriorClickLatency);
    startTimingNamed(kZELParameterPriorClickRedirectLatency);
    endTimingNamed(kZELParameterPriorPreClickLatency);

    std::shared_ptr<ZELTiming> click = timingNamed(kZELParameterPriorClickLatency);
    click->setValue(platform::Value(platform::Date::now()), kClickDateKey);
    std::optional<std::string> clickString =
        url ? ZELNetworkUtilities::parameterValueForKey(kClickStringQueryKey, *url) : std::nullopt;
    if (clickString && !clickString->empty())
        click->setValue(platform::Value(*clickString), kZELParameterPriorClickString);
    endTimingNamed(kZELParameterPriorClickRedirectLatency);
}

void ZELStatistics::addClickTrackingURL(const std::optional<platform::URL>& url) {
    if (!url || !hasSuffix(url->host(), adNetworkDomainSuffix())) return;
    const std::string path = url->path();
    if (path.size() < 5) return;
    if (std::shared_ptr<ZELTiming> click = timingNamed(kZELParameterPriorClickLatency)) {
        click->setValue(platform::Value(path.substr(4)), kZELParameterPriorImpressionTicketString);
    }
}

void ZELStatistics::incrementClickCount() { statistics_->addValueNumberForKey(1, kZELParameterPriorClickCount); }
void ZELStatistics::resetClickCount() { statistics_->setNumber(0, kZELParameterPriorClickCount); }
void ZELStatistics::incrementPageNavigationCount() {
    statistics_->addValueNumberForKey(1, kZELParameterPriorLandingPageNavCount);
}
void ZELStatistics::resetPageNavigationCount() { statistics_->setNumber(0, kZELParameterPriorLandingPageNavCount); }
void ZELStatistics::incrementSSLPageNavigationCount() {
    statistics_->addValueNumberForKey(1, kZELParameterPriorLandingPageSSLNavCount);
}
void ZELStatistics::resetSSLPageNavigationCount() {
    statistics_->setNumber(0, kZELParameterPriorLandingPageSSLNavCount);
}

void ZELStatistics::setBreakOutToSafari() { setFlagWithParameterName(kZELParameterPriorClickBreakOut); }
void ZELStatistics::resetBreakOutToSafari() { resetFlagWithParameterName(kZELParameterPriorClickBreakOut); }
void ZELStatistics::setClickBackgroundedApp() { setFlagWithParameterName(kZELParameterPriorClickBackgroundedApp); }
void ZELStatistics::resetClickBackgroundedApp() { resetFlagWithParameterName(kZELParameterPriorClickBackgroundedApp); }
void ZELStatistics::setAppOpenInterstitialTimeOut() {
    setFlagWithParameterName(kZELParameterAppOpenInterstitialTimedOut);
}
void ZELStatistics::resetAppOpenInterstitialTimeOut() {
    resetFlagWithParameterName(kZELParameterAppOpenInterstitialTimedOut);
}
void ZELStatistics::setAppOpenInterstitialNoFill() { setFlagWithParameterName(kZELParameterAppOpenInterstitialNoFill); }
void ZELStatistics::resetAppOpenInterstitialNoFill() {
    resetFlagWithParameterName(kZELParameterAppOpenInterstitialNoFill);
}

void ZELStatistics::setFlagWithParameterName(const std::string& name) { statistics_->setNumber(1, name); }
void ZELStatistics::resetFlagWithParameterName(const std::string& name) { statistics_->removeObjectForKey(name); }

int32_t ZELStatistics::incrementAdRequestCount() {
    return statistics_->addValueNumberForKey(1, kZELParameterTotalAdRequests);
}

int32_t ZELStatistics::adRequestCount() const {
    std::optional<platform::Value> count = statistics_->numberForKey(kZELParameterTotalAdRequests);
    return count ? static_cast<int32_t>(static_cast<uint32_t>(ZELStatisticsCore::integerValue(*count))) : 0;
}

void ZELStatistics::setAdRequestCount(int32_t count) { statistics_->setNumber(count, kZELParameterTotalAdRequests); }

void ZELStatistics::startTimingNamed(const std::string& name) {
    timingMgr_->removeTimingForCategory(name);
    timingMgr_->addTimingWithCategory(name)->start();
}

void ZELStatistics::endTimingNamed(const std::string& name) {
    if (std::shared_ptr<ZELTiming> timing = timingNamed(name)) timing->end();
}

void ZELStatistics::removeTimingNamed(const std::string& name) { timingMgr_->removeTimingForCategory(name); }

std::shared_ptr<ZELTiming> ZELStatistics::timingNamed(const std::string& name) const {
    return timingMgr_->timingForCategory(name);
}

bool ZELStatistics::isTimingClick() const {
    std::shared_ptr<ZELTiming> click = timingNamed(kZELParameterPriorClickLatency);
    return click && click->isActive();
}

void ZELStatistics::synchronize() {
    statistics_->synchronize();
    timingMgr_->synchronize();
}

void ZELStatistics::landingPageDidStartLoad() {
    if (!timingNamed("plpl")) startTimingNamed("plpl");
}

void ZELStatistics::landingPageDidFinishLoad() {
    if (timingNamed("plpd")) return;
    endTimingNamed("plpl");
    startTimingNamed("plpd");
}
