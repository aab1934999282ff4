// A banner against a bare web view, in one process on the real backend and
// nimbra-adserver on loopback:
//  - time from loadRequest to adViewDidReceiveAd, cold (first load of the
//    process, nothing stored) and warm (support script fresh in the store: a
//    new banner each round, and reloads of a banner that stays), beside a
//    bare WebKit view loading the same ad URL;
//  - resident memory with zero, one and two banners;
//  - what wakes the main loop while a shown banner waits for its next reload.
// Rounds are interleaved so every contender sees the same machine; medians.

#include <dirent.h>
#include <gio/gio.h>
#include <glib.h>
#include <gtk/gtk.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "../platform/gtk/services/GlibRunLoop.h"
#include "Delegate/ZELBannerViewDelegate.h"
#include "Network/ZELCachedFile.h"
#include "Object/ZELObjectPrivate.h"
#include "Object/ZELPreparedBuildPage.h"
#include "Request/ZELRequest.h"
#include "Request/ZELRequestError.h"
#include "Utility/ZELServerAddresses.h"
#include "View/ZELBannerView.h"
#include "integration/adserver/AdServerProcess.h"
#include "integration/support/GtkTestEnvironment.h"
#include "platform/ViewController.h"
#include "platform/Window.h"

namespace {

using Clock = std::chrono::steady_clock;
using nimbra::test::spinFor;
using nimbra::test::spinUntil;

constexpr char kAdUnitID[] = "b3e1c0de5a7f920";
constexpr int kRounds = 11;
constexpr double kQuietWindowSeconds = 5.0;
constexpr double kLoadLimitSeconds = 20.0;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double minimum(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }
double maximum(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "bench_banner: %s\n", what.c_str());
    std::exit(1);
}

// ---------------------------------------------------------------- processes

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string commOf(int pid) {
    std::string name = readFile("/proc/" + std::to_string(pid) + "/comm");
    while (!name.empty() && name.back() == '\n') name.pop_back();
    return name;
}

// Kilobytes of a "Name:   123 kB" line.
long fieldKb(const std::string& text, const std::string& name) {
    const size_t at = text.find(name + ":");
    if (at == std::string::npos) return 0;
    return std::strtol(text.c_str() + at + name.size() + 1, nullptr, 10);
}

std::vector<int> childrenOf(int pid) {
    std::vector<int> children;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir) return children;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::istringstream list(readFile(tasks + "/" + entry->d_name + "/children"));
        for (int child; list >> child;) children.push_back(child);
    }
    closedir(dir);
    return children;
}

struct ProcessMemory {
    int pid = 0;
    std::string name;
    long rssKb = 0;
    long pssKb = 0;
};

ProcessMemory memoryOf(int pid) {
    const std::string base = "/proc/" + std::to_string(pid);
    return {pid, commOf(pid), fieldKb(readFile(base + "/status"), "VmRSS"),
            fieldKb(readFile(base + "/smaps_rollup"), "Pss")};
}

// This process and its descendants except the ad server (the engine's web and
// network processes are started by us).
std::vector<ProcessMemory> ourProcesses() {
    std::vector<ProcessMemory> all{memoryOf(getpid())};
    std::vector<int> pending = childrenOf(getpid());
    while (!pending.empty()) {
        const int pid = pending.back();
        pending.pop_back();
        ProcessMemory m = memoryOf(pid);
        if (m.name.rfind("nimbra-adserver", 0) == 0) continue;
        all.push_back(m);
        for (int child : childrenOf(pid)) pending.push_back(child);
    }
    return all;
}

std::set<int> webProcessIds() {
    std::set<int> ids;
    for (const auto& p : ourProcesses())
        if (p.name.find("WebProces") != std::string::npos) ids.insert(p.pid);
    return ids;
}

// ---------------------------------------------------------------- the server

struct ServerCounters {
    long total = 0, script = 0, script304 = 0, ads = 0, imp = 0;
};

ServerCounters serverCounters(unsigned port) {
    const auto response = adserver_test::httpRequest(port, "/status");
    if (response.status != 200) fail("the ad server's /status did not answer");
    const auto json = nlohmann::json::parse(response.body, nullptr, false);
    if (!json.is_object()) fail("the ad server's /status is not JSON");
    const auto& c = json["counters"];
    return {json.value("total", 0L), c.value("script", 0L), c.value("script_304", 0L), c.value("ads", 0L),
            c.value("imp", 0L)};
}

// ---------------------------------------------------------------- banners

class Listener : public ZELBannerViewDelegate {
public:
    void adViewDidReceiveAd(const std::shared_ptr<ZELBannerView>&) override {
        ++received;
        at = Clock::now();
    }
    void adViewDidFailToReceiveAdWithError(const std::shared_ptr<ZELBannerView>&, const ZELRequestError& error) override {
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
        source_ = g_source_new(&funcs, sizeof(Source));
        reinterpret_cast<Source*>(source_)->probe = this;
        g_source_set_name(source_, "bench: state probe");
        g_source_attach(source_, nullptr);
    }
    ~StateProbe() {
        g_source_destroy(source_);
        g_source_unref(source_);
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
        if (!controller || controller->state() == last_) return;
        last_ = controller->state();
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
    GSource* source_;
    std::weak_ptr<ZELObjectPrivate> controller_;
    std::map<int, Clock::time_point> stamps_;
    int last_ = -1;
    std::function<void(int)> onChange_;
};

struct BannerLoad {
    bool ok = false;
    double totalMs = 0;       // loadRequest to adViewDidReceiveAd
    double syncMs = 0;        // inside loadRequest
    double buildMs = 0;       // support script and hidden page, to the ad URL
    double markupMs = 0;      // markup download and store
    double renderMs = 0;      // markup into the banner's view, to the finished load
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
        auto at = [&](int state) { return probe_.stamp(state).value_or(listener_->at); };
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

void onBareLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    if (event == WEBKIT_LOAD_FINISHED) static_cast<BareState*>(data)->finished = true;
}

gboolean onBareLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer data) {
    static_cast<BareState*>(data)->failed = true;
    return FALSE;
}

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
        g_signal_connect(web_, "load-changed", G_CALLBACK(onBareLoadChanged), &state_);
        g_signal_connect(web_, "load-failed", G_CALLBACK(onBareLoadFailed), &state_);
        gtk_window_set_child(window_, GTK_WIDGET(web_));
        gtk_window_present(window_);
    }
    ~BareView() {
        g_signal_handlers_disconnect_by_data(web_, &state_);
        gtk_window_destroy(window_);
    }
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
    GtkWindow* window_;
    WebKitWebView* web_;
    BareState state_;
};

// ---------------------------------------------------------------- main-loop wakeups

// What a descriptor is, for naming what woke the loop.
std::string describeDescriptor(int fd, unsigned serverPort) {
    char link[256] = {};
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
    const std::string target = n > 0 ? std::string(link, static_cast<size_t>(n)) : "?";
    if (target.find("eventfd") != std::string::npos) return "eventfd (a wake-up posted by another thread)";
    if (target.rfind("pipe:", 0) == 0) return "pipe";
    if (target.rfind("socket:", 0) != 0) return target;
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return "socket (not connected)";
    if (peer.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&peer);
        const unsigned port = ntohs(in->sin_port);
        return port == serverPort ? "TCP to the ad server" : "TCP port " + std::to_string(port);
    }
    if (peer.ss_family == AF_UNIX) {
        const auto* un = reinterpret_cast<const sockaddr_un*>(&peer);
        const size_t pathLength = length > offsetof(sockaddr_un, sun_path) ? length - offsetof(sockaddr_un, sun_path) : 0;
        std::string name;
        if (pathLength > 1 && un->sun_path[0] == '\0') name = std::string(un->sun_path + 1, pathLength - 1);
        else if (pathLength > 0) name = std::string(un->sun_path);
        while (!name.empty() && name.back() == '\0') name.pop_back();
        if (name.find(".X11-unix") != std::string::npos) return "X server connection";
        if (name.empty()) return "unnamed unix socket (socket pair)";
        return "unix socket " + name;
    }
    return "socket";
}

// Counts the times the default main context comes back from a poll that was
// allowed to sleep, and names what brought it back: descriptors with events,
// and sources whose ready time had come (timeouts, cross-thread wake-ups).
class WakeupCounter {
public:
    explicit WakeupCounter(unsigned serverPort) : serverPort_(serverPort) {
        instance_ = this;
        // Known sources now: everything up to the next id to be handed out.
        GSource* marker = g_idle_source_new();
        const guint next = g_source_attach(marker, nullptr);
        g_source_destroy(marker);
        g_source_unref(marker);
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
                due.push_back(name ? std::string("source \"") + name + "\"" : "unnamed source (a GLib timeout or idle)");
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
void idleFor(double seconds) {
    bool over = false;
    GSource* end = g_timeout_source_new(static_cast<guint>(seconds * 1000));
    g_source_set_name(end, "bench: end of the window");
    g_source_set_callback(
        end, +[](gpointer data) -> gboolean {
            *static_cast<bool*>(data) = true;
            return G_SOURCE_REMOVE;
        },
        &over, nullptr);
    g_source_attach(end, nullptr);
    while (!over) g_main_context_iteration(nullptr, TRUE);
    g_source_unref(end);
}

platform::gtk::GlibRunLoop::Activity loopActivity() {
    auto* loop = dynamic_cast<platform::gtk::GlibRunLoop*>(&platform::RunLoop::main());
    if (!loop) fail("the main run loop is not the GLib one");
    return loop->activity();
}

struct ActivityDelta {
    uint64_t timers, delayed, mainCalls, releases;
};

ActivityDelta operator-(const platform::gtk::GlibRunLoop::Activity& a, const platform::gtk::GlibRunLoop::Activity& b) {
    return {a.timersFired - b.timersFired, a.delayedCalls - b.delayedCalls, a.mainThreadCalls - b.mainThreadCalls,
            a.keepAliveReleases - b.keepAliveReleases};
}

// ---------------------------------------------------------------- output

void printMemory(const char* label, const std::vector<ProcessMemory>& processes) {
    long rss = 0, pss = 0, web = 0;
    std::string parts;
    for (const auto& p : processes) {
        rss += p.rssKb;
        pss += p.pssKb;
        if (p.name.find("WebProces") != std::string::npos) ++web;
        if (!parts.empty()) parts += ", ";
        parts += (p.pid == getpid() ? std::string("app") : p.name) + " " + std::to_string(p.rssKb / 1024);
    }
    std::printf("  %-26s %8.1f %9.1f %9.1f %5ld   %s\n", label, processes.front().rssKb / 1024.0, rss / 1024.0,
                pss / 1024.0, web, parts.c_str());
}

double medianTotal(const std::vector<BannerLoad>& loads) {
    std::vector<double> totals;
    for (const auto& l : loads) totals.push_back(l.totalMs);
    return median(totals);
}

void printLoadRow(const char* label, const std::vector<BannerLoad>& loads) {
    std::vector<double> total, sync, build, markup, render;
    for (const auto& l : loads) {
        total.push_back(l.totalMs);
        sync.push_back(l.syncMs);
        build.push_back(l.buildMs);
        markup.push_back(l.markupMs);
        render.push_back(l.renderMs);
    }
    std::printf("  %-30s %8.1f %8.1f %8.1f %3zu   %8.1f %8.1f %8.1f %8.1f\n", label, median(total), minimum(total),
                maximum(total), loads.size(), median(sync), median(build), median(markup), median(render));
}

void printBareRow(const char* label, const std::vector<double>& ms) {
    std::printf("  %-30s %8.1f %8.1f %8.1f %3zu\n", label, median(ms), minimum(ms), maximum(ms), ms.size());
}

}  // namespace

int main() {
    // The server's refresh rate stays long: no reload lands inside a round or
    // the quiet window.
    adserver_test::AdServerProcess server({"--refresh-rate", "30", "--exit-after", "300"});
    if (!server.ok()) fail("nimbra-adserver did not start");
    setenv("NIMBRA_STATIC_SERVER", server.origin().c_str(), 1);
    setenv("NIMBRA_AD_SERVER", server.origin().c_str(), 1);

    nimbra::test::gtkBackend();
    // The component's own log lines would bury the table.
    std::vector<std::string> log;
    platform::setLogSink([&log](std::string_view line) { log.emplace_back(line); });

    const bool storeWasEmpty = !ZELCachedFile(std::weak_ptr<ZELCachedFileDelegate>(), ZELServerAddresses::supportScriptURL()).hasContent();

    Bench bench(server.port());
    bench.setUp();
    const auto memoryNone = ourProcesses();

    // Cold: the first load of the process, nothing stored.
    auto first = bench.makeBanner(361);
    const BannerLoad cold = bench.load(first);
    if (!cold.ok) fail("cold load failed: " + cold.error);
    const auto markupURL = first->getPrivate()->adHTMLBaseURL();
    if (!markupURL) fail("the banner has no markup URL");
    spinFor(1.5);  // trackers, the defaults' autosave
    const auto memoryOne = ourProcesses();

    auto second = bench.makeBanner(0);
    const BannerLoad secondLoad = bench.load(second);
    if (!secondLoad.ok) fail("second banner failed: " + secondLoad.error);
    spinFor(1.5);
    const auto memoryTwo = ourProcesses();
    bench.release(first);
    bench.release(second);
    spinFor(1.5);
    const auto memoryNoneAgain = ourProcesses();
    const auto afterColdCounters = serverCounters(server.port());

    // Warm rounds, interleaved; each contender gets a moment before the clock
    // starts and after it stops (trackers, teardown) so none pays for another.
    BareView bareReused;
    if (bareReused.load(markupURL->absoluteString()) < 0) fail("bare web view could not load the ad URL");
    // An application keeps its banners: one stays shown through the warm
    // rounds, reloading as one contender, while new banners come and go.
    auto resident = bench.makeBanner(0);
    if (!bench.load(resident).ok) fail("the resident banner failed");
    std::vector<BannerLoad> warm, reloads;
    int warmWithPreparedPage = 0;
    std::vector<double> bareNew, bareSame;
    constexpr int kContenders = 4;
    for (int round = 0; round < kRounds; ++round) {
        for (int turn = 0; turn < kContenders; ++turn) {
            switch ((round + turn) % kContenders) {
                case 0: {
                    auto banner = bench.makeBanner(361);
                    spinFor(0.05);
                    warmWithPreparedPage += ZELPreparedBuildPage::readyWebView() != nullptr;
                    const BannerLoad l = bench.load(banner);
                    if (!l.ok) fail("warm load failed: " + l.error);
                    warm.push_back(l);
                    spinFor(0.25);
                    bench.release(banner);
                    break;
                }
                case 1: {
                    spinFor(0.05);
                    const BannerLoad l = bench.load(resident);
                    if (!l.ok) fail("reload failed: " + l.error);
                    reloads.push_back(l);
                    spinFor(0.25);
                    break;
                }
                case 2: {
                    BareView view(bareReused.web());
                    spinFor(0.05);
                    const double ms = view.load(markupURL->absoluteString());
                    if (ms < 0) fail("bare load failed");
                    bareNew.push_back(ms);
                    spinFor(0.25);
                    break;
                }
                default: {
                    spinFor(0.05);
                    const double ms = bareReused.load(markupURL->absoluteString());
                    if (ms < 0) fail("bare load failed");
                    bareSame.push_back(ms);
                    spinFor(0.25);
                }
            }
            spinFor(0.05);
        }
    }
    bench.release(resident);
    spinFor(0.1);
    const bool preparedPageOutlivedBanners = ZELPreparedBuildPage::hasPreparedPage();
    const auto afterWarmCounters = serverCounters(server.port());

    // Web processes: which ones a banner load uses and whether it starts any.
    const std::set<int> webBefore = webProcessIds();
    std::set<int> webSeen = webBefore;
    for (int round = 0; round < 3; ++round) {
        auto banner = bench.makeBanner(361);
        spinFor(0.05);
        const BannerLoad l = bench.load(banner, [&](int) {
            for (int pid : webProcessIds()) webSeen.insert(pid);
        });
        if (!l.ok) fail("process check load failed: " + l.error);
        for (int pid : webProcessIds()) webSeen.insert(pid);
        spinFor(0.25);
        bench.release(banner);
        spinFor(0.1);
    }
    const std::set<int> webAfter = webProcessIds();

    // Idle: one banner shown, its reload 30 s away.
    auto idle = bench.makeBanner(361);
    if (!bench.load(idle).ok) fail("idle banner failed");
    spinFor(2.0);
    const auto idleCountersBefore = serverCounters(server.port());
    const auto activityBefore = loopActivity();
    std::optional<WakeupCounter> wakes;
    wakes.emplace(server.port());
    idleFor(kQuietWindowSeconds);
    const long idleWakeups = wakes->wakeups, idleIterations = wakes->iterations;
    const auto idleCauses = wakes->causes;
    wakes.reset();
    const ActivityDelta idleActivity = loopActivity() - activityBefore;
    const auto idleCountersAfter = serverCounters(server.port());
    const bool idleTimerPending = idle->getPrivate()->isReloadTimerScheduled();
    const int idleState = idle->getPrivate()->state();
    bench.release(idle);
    spinFor(0.5);

    // The same with a 2-second refresh: each reload is one timer firing.
    auto refreshing = bench.makeBanner(361, platform::Dictionary{{"refresh", platform::Value("2")}});
    if (!bench.load(refreshing).ok) fail("refreshing banner failed");
    const auto refreshCountersBefore = serverCounters(server.port());
    const auto refreshActivityBefore = loopActivity();
    wakes.emplace(server.port());
    idleFor(kQuietWindowSeconds);
    const auto refreshCauses = wakes->causes;
    const long refreshWakeups = wakes->wakeups;
    wakes.reset();
    const ActivityDelta refreshActivity = loopActivity() - refreshActivityBefore;
    const auto refreshCountersAfter = serverCounters(server.port());
    bench.release(refreshing);
    spinFor(0.2);

    // ------------------------------------------------------------ report
    const double bareNewMs = median(bareNew), bareSameMs = median(bareSame);
    const double warmMs = medianTotal(warm);
    std::printf("\nbench_banner: nimbra-adserver at %s, markup URL %s\n", server.origin().c_str(),
                markupURL->absoluteString().substr(0, 60).c_str());
    if (!storeWasEmpty) std::printf("  NOTE: a support script was already stored: the cold figure is not cold\n");

    std::printf("\n1. Time to ad (ms)                   median      min      max   n  | loadRequest  build URL   markup   render\n");
    printLoadRow("banner, cold (first load)", {cold});
    printLoadRow("banner, second (first warm)", {secondLoad});
    printLoadRow("banner, warm (new banner each)", warm);
    printLoadRow("banner, reload (same banner)", reloads);
    printBareRow("bare view, new view each", bareNew);
    printBareRow("bare view, same view", bareSame);
    std::printf("  ratio warm / bare (new view)   %6.2fx   (goal <= 1.5x)\n", warmMs / bareNewMs);
    std::printf("  new banners that found a request page prepared ahead: %d of %zu; after the last banner went: %s\n",
                warmWithPreparedPage, warm.size(), preparedPageOutlivedBanners ? "STILL THERE" : "gone");
    std::printf("  ratio warm / bare (same view)  %6.2fx\n", warmMs / bareSameMs);
    std::printf("  ratio reload / bare (new view) %6.2fx\n", medianTotal(reloads) / bareNewMs);
    std::printf("  ratio cold / bare (new view)   %6.2fx\n", cold.totalMs / bareNewMs);
    std::printf("  ratio cold / bare (same view)  %6.2fx\n", cold.totalMs / bareSameMs);
    std::printf("  server: support script fetched %ld time(s) (304: %ld) for %ld banner loads; /ads %ld, /im %ld\n",
                afterWarmCounters.script, afterWarmCounters.script304,
                3 + static_cast<long>(warm.size() + reloads.size()), afterWarmCounters.ads, afterWarmCounters.imp);
    std::printf("  (after the cold and second loads: script %ld, 304 %ld)\n", afterColdCounters.script,
                afterColdCounters.script304);

    std::printf("\n2. Memory (MiB)                  app RSS  all RSS   all PSS   web   per process RSS\n");
    printMemory("no banner (before any)", memoryNone);
    printMemory("one banner shown", memoryOne);
    printMemory("two banners shown", memoryTwo);
    printMemory("no banner (both released)", memoryNoneAgain);
    std::printf("  web processes: %zu before 3 banner loads, %zu after, %zu distinct seen during them\n",
                webBefore.size(), webAfter.size(), webSeen.size());

    std::printf("\n3. Main-loop wake-ups, one banner shown, reload 30 s away, %.0f s window\n", kQuietWindowSeconds);
    std::printf("  wake-ups (polls allowed to sleep that returned): %ld; loop turns: %ld\n", idleWakeups, idleIterations);
    for (const auto& [cause, count] : idleCauses) std::printf("    %4ld  %s\n", count, cause.c_str());
    std::printf("  component's run loop: %llu timers fired, %llu delayed calls, %llu main-thread calls, %llu keep-alive releases\n",
                static_cast<unsigned long long>(idleActivity.timers), static_cast<unsigned long long>(idleActivity.delayed),
                static_cast<unsigned long long>(idleActivity.mainCalls),
                static_cast<unsigned long long>(idleActivity.releases));
    std::printf("  requests to the server meanwhile: %ld; banner state %d, reload timer %s\n",
                idleCountersAfter.total - idleCountersBefore.total, idleState, idleTimerPending ? "pending" : "NOT pending");
    std::printf("\n   With a 2 s refresh over the same window: %llu timers fired (the reloads), %ld new ad requests, %ld wake-ups;\n"
                "   the loads themselves ran %llu delayed calls and %llu keep-alive releases\n",
                static_cast<unsigned long long>(refreshActivity.timers), refreshCountersAfter.ads - refreshCountersBefore.ads,
                refreshWakeups, static_cast<unsigned long long>(refreshActivity.delayed),
                static_cast<unsigned long long>(refreshActivity.releases));
    for (const auto& [cause, count] : refreshCauses)
        if (cause.find("platform") != std::string::npos) std::printf("    %4ld  %s\n", count, cause.c_str());

    const size_t failures = static_cast<size_t>(std::count_if(log.begin(), log.end(), [](const std::string& l) {
        return l.find("fail") != std::string::npos || l.find("error") != std::string::npos;
    }));
    std::printf("\n  %zu log lines, %zu mention a failure or error\n", log.size(), failures);
    return 0;
}
