#pragma once
// Support for the banner benches: one process against nimbra-adserver on the
// real backend, banner loads timed phase by phase, bare WebKit views as the
// baseline, resident memory of our processes and what wakes the main loop.
// Rounds are interleaved so every contender sees the same machine; medians.

#include <glib.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "../platform/gtk/services/GlibRunLoop.h"
#include "Delegate/ZELBannerViewDelegate.h"
#include "Object/ZELObjectPrivate.h"
#include "Request/ZELRequest.h"
#include "Request/ZELRequestError.h"
#include "View/ZELBannerView.h"
#include "integration/support/Processes.h"
#include "integration/support/GtkTestEnvironment.h"
#include "platform/gtk/GRef.h"
#include "platform/gtk/GSignal.h"
#include "platform/ViewController.h"
#include "platform/Window.h"

namespace bench {

using Clock = std::chrono::steady_clock;
using nimbra::test::readFile;
using nimbra::test::spinFor;
using nimbra::test::spinUntil;

inline constexpr char kAdUnitID[] = "b3e1c0de5a7f920";
inline constexpr int kRounds = 11;
inline constexpr double kQuietWindowSeconds = 5.0;
inline constexpr double kLoadLimitSeconds = 20.0;

double msSince(Clock::time_point start);

double median(std::vector<double> v);

inline double minimum(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }
inline double maximum(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

[[noreturn]] void fail(const std::string& what);

// ---------------------------------------------------------------- processes

std::string commOf(int pid);

// The number of a "Name:   123 kB" line (kilobytes, or a count).
long fieldKb(const std::string& text, const std::string& name);

std::vector<int> childrenOf(int pid);

struct ProcessMemory {
    int pid = 0;
    std::string name;
    long rssKb = 0;
    long pssKb = 0;
    long privateKb = 0;  // pages no other process maps (clean and dirty)
};

ProcessMemory memoryOf(int pid);

// This process and its descendants except the ad server (the engine's web and
// network processes are started by us).
std::vector<int> ourProcessIds();
std::vector<ProcessMemory> ourProcesses();

// CPU seconds (user and system, every thread) a process has used so far; 0
// once it is gone.
double cpuSecondsOf(int pid);
// The same summed over ourProcessIds().
double ourCpuSeconds();
// Context switches of this process's main thread so far (voluntary and not):
// each is the thread going to sleep or being put aside, so a quiet window
// counts the times it woke.
long mainThreadContextSwitches();

std::set<int> webProcessIds();

// ---------------------------------------------------------------- the server

struct ServerCounters {
    long total = 0, script = 0, script304 = 0, ads = 0, imp = 0;
};

ServerCounters serverCounters(unsigned port);

// ---------------------------------------------------------------- banners

class Listener : public ZELBannerViewDelegate {
public:
    void adViewDidReceiveAd(const std::shared_ptr<ZELBannerView>&) override {
        ++received;
        at = Clock::now();
    }
    void adViewDidFailToReceiveAdWithError(const std::shared_ptr<ZELBannerView>&,
                                           const ZELRequestError& error) override {
        ++failed;
        lastError = error.localizedDescription();
    }
    void reset() {
        received = failed = 0;
        lastError.clear();
    }
    int received = 0;
    int failed = 0;
    Clock::time_point at;
    std::string lastError;
};

// Stamps the moments a controller's load state changes, from a source that is
// asked at the start of every main-loop turn (changes happen inside a turn's
// callbacks, so a stamp is late by at most the rest of that turn).
class StateProbe {
public:
    StateProbe() {
        static GSourceFuncs funcs = {&StateProbe::prepare, nullptr, nullptr, nullptr, nullptr, nullptr};
        source_.reset(g_source_new(&funcs, sizeof(Source)));
        reinterpret_cast<Source*>(source_.get())->probe = this;
        g_source_set_name(source_.get(), "bench: state probe");
        g_source_attach(source_.get(), nullptr);
    }
    StateProbe(const StateProbe&) = delete;
    StateProbe& operator=(const StateProbe&) = delete;

    void watch(const std::shared_ptr<ZELObjectPrivate>& controller, std::function<void(int)> onChange = {}) {
        controller_ = controller;
        stamps_.clear();
        last_ = -1;
        onChange_ = std::move(onChange);
    }
    // First moment the state was seen, if it was.
    std::optional<Clock::time_point> stamp(int state) const {
        auto it = stamps_.find(state);
        if (it == stamps_.end()) return std::nullopt;
        return it->second;
    }
    void look() {
        auto controller = controller_.lock();
        if (!controller || static_cast<int>(controller->state()) == last_) return;
        last_ = static_cast<int>(controller->state());
        stamps_.emplace(last_, Clock::now());
        if (onChange_) onChange_(last_);
    }

private:
    struct Source {
        GSource base;
        StateProbe* probe;
    };
    static gboolean prepare(GSource* source, gint* timeout) {
        *timeout = -1;
        reinterpret_cast<Source*>(source)->probe->look();
        return FALSE;
    }
    platform::gtk::GAttachedSource source_;
    std::weak_ptr<ZELObjectPrivate> controller_;
    std::map<int, Clock::time_point> stamps_;
    int last_ = -1;
    std::function<void(int)> onChange_;
};

struct BannerLoad {
    bool ok = false;
    double totalMs = 0;   // loadRequest to adViewDidReceiveAd
    double syncMs = 0;    // inside loadRequest
    double buildMs = 0;   // support script and hidden page, to the ad URL
    double markupMs = 0;  // markup download and store
    double renderMs = 0;  // markup into the banner's view, to the finished load
    std::string error;
};

class Bench {
public:
    explicit Bench(unsigned port) : port_(port) {}

    void setUp() {
        window_ = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
        root_ = std::make_shared<platform::ViewController>();
        window_->setRootViewController(root_);
        window_->makeKeyAndVisible();
        spinFor(0.5);
    }

    std::shared_ptr<ZELBannerView> makeBanner(double y, std::optional<platform::Dictionary> extras = std::nullopt) {
        auto banner = ZELBannerView::initWithFrame(platform::Rect(0, y, 320, 50));
        banner->setAdUnitID(kAdUnitID);
        banner->setRootViewController(root_);
        banner->setDelegate(listener_);
        root_->view()->addSubview(banner);
        extras_ = std::move(extras);
        return banner;
    }

    // Loads the banner and waits for its ad; the banner stays shown.
    BannerLoad load(const std::shared_ptr<ZELBannerView>& banner, std::function<void(int)> onStateChange = {}) {
        BannerLoad result;
        listener_->reset();
        probe_.watch(banner->getPrivate(), std::move(onStateChange));
        auto request = ZELRequest::request();
        if (extras_) request->setAdditionalParameters(extras_);
        const auto start = Clock::now();
        banner->loadRequest(request);
        result.syncMs = msSince(start);
        spinUntil([&] { return listener_->received > 0 || listener_->failed > 0; }, kLoadLimitSeconds);
        if (listener_->received == 0) {
            result.error = listener_->failed ? listener_->lastError : "no answer in time";
            return result;
        }
        result.ok = true;
        result.totalMs = std::chrono::duration<double, std::milli>(listener_->at - start).count();
        auto at = [&](ZELObjectState state) { return probe_.stamp(static_cast<int>(state)).value_or(listener_->at); };
        auto ms = [](Clock::time_point a, Clock::time_point b) {
            return std::chrono::duration<double, std::milli>(b - a).count();
        };
        result.buildMs = ms(start, at(kZELStateLoadingAd));
        result.markupMs = ms(at(kZELStateLoadingAd), at(kZELStateRendering));
        result.renderMs = ms(at(kZELStateRendering), listener_->at);
        return result;
    }

    void release(std::shared_ptr<ZELBannerView>& banner) {
        banner->removeFromSuperview();
        banner.reset();
    }

    unsigned port() const { return port_; }

private:
    unsigned port_;
    std::shared_ptr<platform::Window> window_;
    std::shared_ptr<platform::ViewController> root_;
    std::shared_ptr<Listener> listener_ = std::make_shared<Listener>();
    std::optional<platform::Dictionary> extras_;
    StateProbe probe_;
};

// ---------------------------------------------------------------- bare web views

struct BareState {
    bool finished = false;
    bool failed = false;
};

void onBareLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data);

gboolean onBareLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer data);

// One GET and one render: the least any component could do to show the ad.
class BareView {
public:
    // A view of its own (its own web process), or one related to another
    // (sharing that one's process), as the component's views are.
    explicit BareView(WebKitWebView* relatedTo = nullptr) {
        window_ = GTK_WINDOW(gtk_window_new());
        gtk_window_set_default_size(window_, 320, 50);
        web_ = relatedTo ? WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", relatedTo, nullptr))
                         : WEBKIT_WEB_VIEW(webkit_web_view_new());
        gtk_widget_set_size_request(GTK_WIDGET(web_), 320, 50);
        loadChanged_ = platform::gtk::GSignalHandler(web_, "load-changed", G_CALLBACK(onBareLoadChanged), &state_);
        loadFailed_ = platform::gtk::GSignalHandler(web_, "load-failed", G_CALLBACK(onBareLoadFailed), &state_);
        gtk_window_set_child(window_, GTK_WIDGET(web_));
        gtk_window_present(window_);
    }
    ~BareView() { gtk_window_destroy(window_); }
    BareView(const BareView&) = delete;
    BareView& operator=(const BareView&) = delete;

    WebKitWebView* web() const { return web_; }

    // Milliseconds from load_uri to the finished load; negative on failure.
    double load(const std::string& uri) {
        state_ = BareState();
        const auto start = Clock::now();
        webkit_web_view_load_uri(web_, uri.c_str());
        spinUntil([&] { return state_.finished || state_.failed; }, kLoadLimitSeconds);
        const double ms = msSince(start);
        return state_.finished && !state_.failed ? ms : -1;
    }

private:
    GtkWindow* window_;   // the toolkit's, until the destructor destroys it
    WebKitWebView* web_;  // the window's child
    BareState state_;
    platform::gtk::GSignalHandler loadChanged_;
    platform::gtk::GSignalHandler loadFailed_;
};

// ---------------------------------------------------------------- main-loop wakeups

// What a descriptor is, for naming what woke the loop.
std::string describeDescriptor(int fd, unsigned serverPort);

// Counts the times the default main context comes back from a poll that was
// allowed to sleep, and names what brought it back: descriptors with events,
// and sources whose ready time had come (timeouts, cross-thread wake-ups).
class WakeupCounter {
public:
    explicit WakeupCounter(unsigned serverPort) : serverPort_(serverPort) {
        instance_ = this;
        // Known sources now: everything up to the next id to be handed out.
        platform::gtk::GAttachedSource marker(g_idle_source_new());
        const guint next = g_source_attach(marker.get(), nullptr);
        marker.reset();
        for (guint id = 1; id < next; ++id)
            if (g_main_context_find_source_by_id(nullptr, id)) ids_.insert(id);
        highestFound_ = next;
        original_ = g_main_context_get_poll_func(nullptr);
        g_main_context_set_poll_func(nullptr, &WakeupCounter::poll);
    }
    ~WakeupCounter() {
        g_main_context_set_poll_func(nullptr, original_);
        instance_ = nullptr;
    }
    WakeupCounter(const WakeupCounter&) = delete;
    WakeupCounter& operator=(const WakeupCounter&) = delete;

    long wakeups = 0;     // polls allowed to sleep that returned
    long iterations = 0;  // every poll, sleeping or not
    std::map<std::string, long> causes;

private:
    static gint poll(GPollFD* fds, guint count, gint timeout) {
        WakeupCounter* self = instance_;
        const gint result = self->original_(fds, count, timeout);
        ++self->iterations;
        if (timeout != 0) self->attribute(fds, count);
        return result;
    }

    void attribute(GPollFD* fds, guint count) {
        ++wakeups;
        std::set<std::string> seen;
        for (guint i = 0; i < count; ++i)
            if (fds[i].revents) seen.insert(describeDescriptor(fds[i].fd, serverPort_));
        for (const std::string& name : dueSources()) seen.insert(name);
        if (seen.empty()) seen.insert("(nothing identifiable)");
        for (const std::string& cause : seen) ++causes[cause];
    }

    std::vector<std::string> dueSources() {
        // New sources since the last look: ids are handed out in order.
        for (guint id = highestFound_ + 1; id <= highestFound_ + 256; ++id) {
            if (g_main_context_find_source_by_id(nullptr, id)) {
                ids_.insert(id);
                highestFound_ = id;
            }
        }
        std::vector<std::string> due;
        const gint64 now = g_get_monotonic_time();
        for (auto it = ids_.begin(); it != ids_.end();) {
            GSource* source = g_main_context_find_source_by_id(nullptr, *it);
            if (!source) {
                it = ids_.erase(it);
                continue;
            }
            const gint64 ready = g_source_get_ready_time(source);
            if (ready >= 0 && ready <= now) {
                const char* name = g_source_get_name(source);
                due.push_back(name ? std::string("source \"") + name + "\""
                                   : "unnamed source (a GLib timeout or idle)");
            }
            ++it;
        }
        return due;
    }

    static inline WakeupCounter* instance_ = nullptr;
    unsigned serverPort_;
    GPollFunc original_ = nullptr;
    std::set<guint> ids_;
    guint highestFound_ = 0;
};

// Turns the loop for a while without any source of our own but the one that
// ends the wait (it is named, so its own wake-up is recognisable).
void idleFor(double seconds);

platform::gtk::GlibRunLoop::Activity loopActivity();

struct ActivityDelta {
    uint64_t timers, delayed, mainCalls, releases;
};

ActivityDelta operator-(const platform::gtk::GlibRunLoop::Activity& a, const platform::gtk::GlibRunLoop::Activity& b);

// ---------------------------------------------------------------- output

void printMemory(const char* label, const std::vector<ProcessMemory>& processes);

double medianTotal(const std::vector<BannerLoad>& loads);

void printLoadRow(const char* label, const std::vector<BannerLoad>& loads);

void printBareRow(const char* label, const std::vector<double>& ms);

// "  ratio <label>  1.23x   (goal <= 1.2x): met" or "NOT met"; without a
// goal, the note (if any) in brackets.
void printRatio(const char* label, double ratio, double goal);
void printRatio(const char* label, double ratio, const char* note = nullptr);

// ---------------------------------------------------------------- one bench process

// nimbra-adserver on loopback (its refresh rate stays long: no reload lands
// inside a round or a quiet window), the GTK backend, the component's log
// lines kept aside (they would bury the table), and a shown window.
class BannerSession {
public:
    // Unless told otherwise, the web engine starts with the session, as in an
    // application that asks for it at launch.
    explicit BannerSession(bool prewarmAtStart = true);
    // The first load of the process, nothing stored; fails the bench on error.
    BannerLoad coldLoad(std::shared_ptr<ZELBannerView>& banner);
    void printHeader(const std::optional<platform::URL>& markupURL) const;
    void printLogSummary() const;

    nimbra::test::AdServerProcess server;

private:
    // The server's addresses in the environment, then the backend, before
    // anything of the bench touches the main context.
    struct Backend {
        Backend(const nimbra::test::AdServerProcess& server, bool prewarm);
    } backend_;
    std::vector<std::string> log_;

public:
    bool storeWasEmpty = false;
    Clock::time_point started = Clock::now();  // the "application's" start
    // Whether a web process was running when the cold load was asked for.
    bool engineUpAtColdLoad = false;
    Bench bench;
};

// A bare web view loading the ad markup URL, the least any component could do
// to show the ad: one view that stays, and new ones related to it (sharing its
// web process, as the component's views do).
class BareContenders {
public:
    explicit BareContenders(const std::string& markupURL);
    void newView();
    void sameView();
    void printRows() const;
    std::vector<double> newViews, sameViews;

private:
    std::string url_;
    BareView reused_;
};

// Rounds in which every contender runs once, starting with a different one
// each round, so every contender sees the same machine.
void interleave(int rounds, const std::vector<std::function<void()>>& contenders);

}  // namespace bench
