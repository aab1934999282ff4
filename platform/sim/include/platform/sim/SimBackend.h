#pragma once
// The deterministic backend for unit tests: virtual time, scripted HTTP and
// web views, in-memory defaults, a temporary file area and recorded
// application, device and screen. One instance is installed for the test
// process; reset() puts everything back to its defaults between tests while
// the objects that process-wide singletons hold (run loop, clock, defaults)
// stay the same objects.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Backend.h"
#include "platform/sim/SimHttp.h"
#include "platform/sim/SimRunLoop.h"
#include "platform/sim/SimServices.h"
#include "platform/sim/SimViews.h"

namespace platform::sim {

class SimBackend final : public Backend {
public:
    SimBackend();
    ~SimBackend() override;
    SimBackend(const SimBackend&) = delete;
    SimBackend& operator=(const SimBackend&) = delete;

    // Makes this the process's backend.
    void install();
    // Back to the defaults: pending work dropped, timers invalidated, routes,
    // records, flags, stores, files and settings cleared.
    void reset();

    // Shorthands for the run loop.
    void runUntilIdle() { loop_.runUntilIdle(); }
    void advance(double seconds) { loop_.advance(seconds); }
    bool runUntil(const std::function<bool()>& predicate, double maxVirtualSeconds = 60) {
        return loop_.runUntil(predicate, maxVirtualSeconds);
    }

    SimHttp& http() { return http_; }
    SimNetwork& network() { return network_; }
    SimWebEngine& web() { return web_; }
    SimDisplay& display() { return display_; }

    // Log lines written through the backend (already formatted).
    std::vector<std::string> logLines() const;
    bool logContains(const std::string& fragment) const;
    void clearLog();
    // Copies log lines to stderr as well (off unless NIMBRA_SIM_LOG is set).
    void setEchoLog(bool echo) { echoLog_ = echo; }

    void setAudioRoute(std::optional<std::string> route) { audioRoute_ = std::move(route); }
    // The property lists the backend can read: the data a test wrote, and
    // the dictionary a real converter would give for it. Anything else reads
    // as no property list.
    void addPropertyList(std::string data, Dictionary dictionary) {
        propertyLists_[std::move(data)] = std::move(dictionary);
    }
    const std::vector<int>& playedSounds() const { return sounds_; }

    // Backend
    SimRunLoop& runLoop() override { return loop_; }
    SimClock& clock() override { return clock_; }
    SimUserDefaults& userDefaults() override { return defaults_; }
    SimPaths& paths() override { return paths_; }
    SimFileSystem& fileSystem() override { return files_; }
    void writeLogLine(std::string_view line) override;
    std::shared_ptr<URLConnection> makeConnection(const URLRequest& request,
                                                  std::weak_ptr<URLConnectionDelegate> delegate) override;
    std::unique_ptr<Reachability> makeReachability(const std::string& host) override;
    std::optional<std::string> audioRoute() override { return audioRoute_; }
    std::optional<Dictionary> dictionaryFromPropertyList(std::string_view data) override;
    void playSystemSound(int soundID) override { sounds_.push_back(soundID); }
    SimApplication& application() override { return application_; }
    SimDevice& device() override { return device_; }
    SimScreen& mainScreen() override { return screen_; }
    std::unique_ptr<ViewPeer> makeViewPeer(View& view) override;
    std::unique_ptr<WebViewPeer> makeWebViewPeer(WebView& view) override;
    void prewarmWebEngine(WebContent content) override { web_.prewarm(content); }

private:
    SimRunLoop loop_;
    SimClock clock_{loop_};
    SimUserDefaults defaults_;
    SimPaths paths_;
    SimFileSystem files_{paths_};
    SimHttp http_{loop_};
    SimNetwork network_{loop_};
    SimApplication application_;
    SimDevice device_;
    SimScreen screen_;
    SimWebEngine web_{loop_};
    SimDisplay display_{loop_};
    std::vector<std::string> log_;
    bool echoLog_ = false;
    std::optional<std::string> audioRoute_;
    std::vector<int> sounds_;
    std::map<std::string, Dictionary, std::less<>> propertyLists_;
};

}  // namespace platform::sim
