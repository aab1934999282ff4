#pragma once
// Delegates that record what a cached file or a click tracker told them, with
// hooks to act from inside a callback (destroy the sender, start again, ...).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Network/ZELCachedFile.h"
#include "Network/ZELClickTracker.h"

// A server time and its Unix value, for the stored file's modification time.
namespace cache_test {
inline constexpr const char kLastModified[] = "Tue, 15 Nov 1994 12:45:26 GMT";
inline constexpr time_t kLastModifiedUnix = 784903526;

inline time_t modificationTime(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mtim.tv_sec;
}
}  // namespace cache_test

struct FileRecorder : ZELCachedFileDelegate {
    enum class Kind { End, Fail };
    struct Event {
        Kind kind;
        std::optional<platform::Error> error;
    };
    std::vector<Event> events;
    std::vector<std::string> redirectsAsked;
    // What to answer to a redirect; follows when not set.
    std::function<std::optional<platform::Error>(ZELCachedFile&, const platform::URL&)> onRedirect;
    std::function<void(ZELCachedFile&)> onEnd, onFail;
    void cachedFileDownloadDidFail(ZELCachedFile& file, const std::optional<platform::Error>& error) override {
        events.push_back({Kind::Fail, error});
        if (onFail) onFail(file);
    }
    void cachedFileDownloadDidEnd(ZELCachedFile& file) override {
        events.push_back({Kind::End, std::nullopt});
        if (onEnd) onEnd(file);
    }
    std::optional<platform::Error> cachedFileShouldRedirectToURL(ZELCachedFile& file, const platform::URL& url) override {
        redirectsAsked.push_back(url.absoluteString());
        return onRedirect ? onRedirect(file, url) : std::nullopt;
    }
    int ends() const { return int(std::count_if(events.begin(), events.end(), [](auto& e) { return e.kind == Kind::End; })); }
    size_t finished() const { return events.size(); }
};

struct TrackerRecorder : ZELClickTrackerDelegate {
    std::vector<std::optional<std::string>> redirects;  // where each success ended
    std::vector<std::optional<platform::Error>> failures;
    std::function<void(ZELClickTracker&)> onRedirect, onFail;
    void trackerDidRedirect(ZELClickTracker& tracker, const std::optional<platform::URL>& url) override {
        redirects.push_back(url ? std::optional<std::string>(url->absoluteString()) : std::nullopt);
        if (onRedirect) onRedirect(tracker);
    }
    void trackerDidFailWithError(ZELClickTracker& tracker, const std::optional<platform::Error>& error) override {
        failures.push_back(error);
        if (onFail) onFail(tracker);
    }
    size_t finished() const { return redirects.size() + failures.size(); }
};
