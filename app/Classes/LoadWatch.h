#pragma once
// The pair of one-second polling timers that keep a screen's spinner (and,
// on the first screen, the status bar's network indicator) in step with its
// web view: one only ever starts them while the page loads, the other only
// ever stops them once it is idle.

#include <memory>

#include "platform/ActivityIndicatorView.h"
#include "platform/RunLoop.h"
#include "platform/WebView.h"

namespace mensajes {

class LoadWatch {
public:
    explicit LoadWatch(bool drivesNetworkIndicator) : drivesNetworkIndicator_(drivesNetworkIndicator) {}
    LoadWatch(const LoadWatch&) = delete;
    LoadWatch& operator=(const LoadWatch&) = delete;

    // Schedules the two repeating timers the first time; later calls only
    // point them at the given views (one pair per screen, however often it
    // appears).
    void start(std::weak_ptr<platform::WebView> webView, std::weak_ptr<platform::ActivityIndicatorView> spinner);
    bool isScheduled() const { return loadTimer_.isRunning(); }

    void checkLoad();
    void checkNotLoad();

    static constexpr double kInterval = 1.0;

private:
    bool drivesNetworkIndicator_;
    std::weak_ptr<platform::WebView> webView_;
    std::weak_ptr<platform::ActivityIndicatorView> spinner_;
    // Members: they stop with the screen that owns the watch.
    platform::RepeatingTimer loadTimer_, notLoadTimer_;
};

}  // namespace mensajes
