#pragma once
// What happened around the previous ad (latencies, clicks, landing-page
// visits, a few flags), reported once with the next ad request and then
// cleared. One process-wide instance.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Statistics/ZELStatisticsCore.h"
#include "platform/URL.h"
#include "platform/Value.h"

class ZELTiming;
class ZELTimingManager;

// Host suffix of the ad network's click-tracking servers; a finished
// click-tracking download from such a host carries the impression ticket.
// The ad network is the configured ad server: its host is the suffix
// (the compiled-in loopback server unless NIMBRA_AD_SERVER names another).

class ZELStatistics {
public:
    static std::shared_ptr<ZELStatistics> sharedStatistics();
    // The next sharedStatistics() makes a new one, with a new session number.
    static void releaseSharedStatistics();
    // The timings the parameters report, in order.
    static const std::vector<std::string>& allTimingNames();

    // Tests point the ad network's domain at their own server; empty restores
    // the built-in suffix.
    static void setAdNetworkDomainSuffixForTesting(const std::string& suffix);
    static const std::string& adNetworkDomainSuffix();

    ~ZELStatistics();
    ZELStatistics(const ZELStatistics&) = delete;
    ZELStatistics& operator=(const ZELStatistics&) = delete;

    uint32_t sessionId() const { return sessionId_; }
    // A fresh session number from the system's random source; the process's
    // random() is left alone.
    static uint32_t randomSessionId();

    // The statistics parameters of one request. Clears what they report: every
    // counter, flag and timing except "preqs" and "ptime".
    platform::Dictionary parameters();
    // The same entries, clearing nothing.
    platform::Dictionary peekParameters() const;

    // The URL a click opens: the click signals appended when the library has
    // some. Counts nothing: a click counts only once it opened something.
    std::optional<platform::URL> clickURL(const std::optional<platform::URL>& url) const;
    // Counts and times a click that opened something. Message URLs and
    // about:blank are no clicks.
    void countClick(const std::optional<platform::URL>& url);
    // Attaches the impression ticket of a finished click-tracking download to
    // the current click.
    void addClickTrackingURL(const std::optional<platform::URL>& url);

    void incrementClickCount();
    void resetClickCount();
    void incrementPageNavigationCount();
    void resetPageNavigationCount();
    void incrementSSLPageNavigationCount();
    void resetSSLPageNavigationCount();
    void setBreakOutToSafari();
    void resetBreakOutToSafari();
    void setClickBackgroundedApp();
    void resetClickBackgroundedApp();
    void setAppOpenInterstitialTimeOut();
    void resetAppOpenInterstitialTimeOut();
    void setAppOpenInterstitialNoFill();
    void resetAppOpenInterstitialNoFill();
    void setFlagWithParameterName(const std::string& name);
    void resetFlagWithParameterName(const std::string& name);

    // Adds 1 to "preqs" and returns the new count.
    int32_t incrementAdRequestCount();
    int32_t adRequestCount() const;
    void setAdRequestCount(int32_t count);

    // The landing page of a click, as both ad screens measure it: the first
    // load start starts "plpl"; the first finish ends it and starts "plpd".
    void landingPageDidStartLoad();
    void landingPageDidFinishLoad();

    void startTimingNamed(const std::string& name);
    void endTimingNamed(const std::string& name);
    void removeTimingNamed(const std::string& name);
    std::shared_ptr<ZELTiming> timingNamed(const std::string& name) const;
    // A click's latency timing exists and is running.
    bool isTimingClick() const;

    // Saves the counters and flags, then the timings.
    void synchronize();

private:
    ZELStatistics();
    platform::Dictionary collectParameters() const;
    void clearReported();

    uint32_t sessionId_ = 0;
    std::unique_ptr<ZELStatisticsCore> statistics_;
    std::unique_ptr<ZELTimingManager> timingMgr_;
};
