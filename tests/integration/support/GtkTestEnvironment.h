#pragma once
// Shared helpers of the integration tests: the GTK backend installed once per
// process, and ways to turn the default main loop until something happens.

#include <glib.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Services.h"
#include "platform/ViewController.h"
#include "platform/Window.h"
#include "platform/gtk/GRef.h"
#include "platform/gtk/GtkBackend.h"

namespace nimbra::test {

// Installs the backend on first call (the calling thread becomes the main
// thread) and returns it. Every integration test calls this first.
inline platform::gtk::GtkBackend& gtkBackend() {
    return platform::gtk::GtkBackend::install("org.nimbra.IntegrationTests");
}

// A phone-sized window on screen with the given root screen (a plain one by
// default).
inline std::shared_ptr<platform::Window> shownWindow(std::shared_ptr<platform::ViewController> root = nullptr) {
    gtkBackend();
    auto window = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
    window->setRootViewController(root ? std::move(root) : std::make_shared<platform::ViewController>());
    window->makeKeyAndVisible();
    return window;
}

// Seconds on the monotonic clock.
inline double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Turns the thread's main context (the default one but on a thread with a
// ThreadContext) until done() answers true or the time is up; returns done().
// Safe to nest inside a callback of the loop.
inline bool spinUntil(const std::function<bool()>& done, double timeoutSeconds = 10.0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    GMainContext* context = g_main_context_get_thread_default();
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        // A wake-up source keeps the blocking iteration from sleeping past the deadline.
        const auto wake = platform::gtk::attachSource(
            g_timeout_source_new(20), [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, context);
        g_main_context_iteration(context, TRUE);
    }
    return true;
}

// A main context of a test's worker thread, while it lives: the thread waits
// on it (spinUntil, process ends) and never turns the main thread's.
class ThreadContext {
public:
    ThreadContext() { g_main_context_push_thread_default(context_.get()); }
    ~ThreadContext() { g_main_context_pop_thread_default(context_.get()); }
    ThreadContext(const ThreadContext&) = delete;
    ThreadContext& operator=(const ThreadContext&) = delete;

private:
    platform::gtk::GMainContextPtr context_{g_main_context_new()};
};

// Turns the main context for a while: to see that something does NOT happen.
inline void spinFor(double seconds) {
    spinUntil([] { return false; }, seconds);
}

// Collects log lines while it lives (lines are not written to stderr meanwhile).
class LogCapture {
public:
    LogCapture() {
        platform::setLogSink([this](std::string_view line) { lines_.emplace_back(line); });
    }
    ~LogCapture() { platform::setLogSink({}); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    const std::vector<std::string>& lines() const { return lines_; }
    size_t countContaining(std::string_view text) const {
        return std::ranges::count_if(lines_,
                                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }

private:
    std::vector<std::string> lines_;
};

}  // namespace nimbra::test
