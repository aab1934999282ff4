#include "support/BannerBench.h"

#include <dirent.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <nlohmann/json.hpp>

#include "Network/ZELCachedFile.h"
#include "Utility/ZELServerAddresses.h"

namespace bench {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, what.c_str());
    std::exit(1);
}

std::string commOf(int pid) {
    std::string name = readFile("/proc/" + std::to_string(pid) + "/comm");
    while (!name.empty() && name.back() == '\n') name.pop_back();
    return name;
}

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

ProcessMemory memoryOf(int pid) {
    const std::string base = "/proc/" + std::to_string(pid);
    const std::string rollup = readFile(base + "/smaps_rollup");
    return {pid, commOf(pid), fieldKb(readFile(base + "/status"), "VmRSS"), fieldKb(rollup, "Pss"),
            fieldKb(rollup, "Private_Clean") + fieldKb(rollup, "Private_Dirty")};
}

std::vector<int> ourProcessIds() {
    std::vector<int> all{getpid()};
    std::vector<int> pending = childrenOf(getpid());
    while (!pending.empty()) {
        const int pid = pending.back();
        pending.pop_back();
        if (commOf(pid).rfind("nimbra-adserver", 0) == 0) continue;
        all.push_back(pid);
        for (int child : childrenOf(pid)) pending.push_back(child);
    }
    return all;
}

std::vector<ProcessMemory> ourProcesses() {
    std::vector<ProcessMemory> all;
    for (int pid : ourProcessIds()) all.push_back(memoryOf(pid));
    return all;
}

double cpuSecondsOf(int pid) {
    // The fields after the name's closing parenthesis (a name may hold
    // spaces), counted from the line's third: utime is the 14th, stime the 15th.
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 > stat.size()) return 0;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long ticks = 0;
    for (int n = 3; n <= 15 && fields >> field; ++n)
        if (n >= 14) ticks += std::strtoull(field.c_str(), nullptr, 10);
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ourCpuSeconds() {
    double total = 0;
    for (int pid : ourProcessIds()) total += cpuSecondsOf(pid);
    return total;
}

long mainThreadContextSwitches() {
    const std::string status = readFile("/proc/self/task/" + std::to_string(getpid()) + "/status");
    return fieldKb(status, "voluntary_ctxt_switches") + fieldKb(status, "nonvoluntary_ctxt_switches");
}

std::set<int> webProcessIds() {
    std::set<int> ids;
    for (const auto& p : ourProcesses())
        if (p.name.find("WebProces") != std::string::npos) ids.insert(p.pid);
    return ids;
}

ServerCounters serverCounters(unsigned port) {
    const auto body = nimbra::test::httpGet("http://127.0.0.1:" + std::to_string(port) + "/status");
    if (body.empty()) fail("the ad server's /status did not answer");
    const auto json = nlohmann::json::parse(body, nullptr, false);
    if (!json.is_object()) fail("the ad server's /status is not JSON");
    const auto& c = json["counters"];
    return {json.value("total", 0L), c.value("script", 0L), c.value("script_304", 0L), c.value("ads", 0L),
            c.value("imp", 0L)};
}

void onBareLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    if (event == WEBKIT_LOAD_FINISHED) static_cast<BareState*>(data)->finished = true;
}

gboolean onBareLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer data) {
    static_cast<BareState*>(data)->failed = true;
    return FALSE;
}

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
        const size_t pathLength =
            length > offsetof(sockaddr_un, sun_path) ? length - offsetof(sockaddr_un, sun_path) : 0;
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

void idleFor(double seconds) {
    bool over = false;
    const auto end = platform::gtk::attachSource(
        g_timeout_source_new(static_cast<guint>(seconds * 1000)),
        +[](gpointer data) -> gboolean {
            *static_cast<bool*>(data) = true;
            return G_SOURCE_REMOVE;
        },
        &over);
    g_source_set_name(end.get(), "bench: end of the window");
    while (!over) g_main_context_iteration(nullptr, TRUE);
}

platform::gtk::GlibRunLoop::Activity loopActivity() {
    auto* loop = dynamic_cast<platform::gtk::GlibRunLoop*>(&platform::RunLoop::main());
    if (!loop) fail("the main run loop is not the GLib one");
    return loop->activity();
}

ActivityDelta operator-(const platform::gtk::GlibRunLoop::Activity& a, const platform::gtk::GlibRunLoop::Activity& b) {
    return {a.timersFired - b.timersFired, a.delayedCalls - b.delayedCalls, a.mainThreadCalls - b.mainThreadCalls,
            a.keepAliveReleases - b.keepAliveReleases};
}

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

void printRatio(const char* label, double ratio, double goal) {
    std::printf("  ratio %-32s %6.2fx   (goal <= %gx): %s\n", label, ratio, goal, ratio <= goal ? "met" : "NOT met");
}

void printRatio(const char* label, double ratio, const char* note) {
    std::printf("  ratio %-32s %6.2fx%s%s%s\n", label, ratio, note ? "   (" : "", note ? note : "", note ? ")" : "");
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

// ---------------------------------------------------------------- one bench process

BannerSession::Backend::Backend(const nimbra::test::AdServerProcess& server, bool prewarm) {
    if (!server.ok()) fail("nimbra-adserver did not start");
    setenv("NIMBRA_STATIC_SERVER", server.origin().c_str(), 1);
    setenv("NIMBRA_AD_SERVER", server.origin().c_str(), 1);
    nimbra::test::gtkBackend();
    // What an application that shows pages does at its start (a launch
    // option): the web engine starts while the window is built, for its own
    // pages and for ads.
    if (prewarm) {
        platform::WebView::prewarm(platform::WebContent::Application);
        platform::WebView::prewarm(platform::WebContent::Outside);
    }
}

BannerSession::BannerSession(bool prewarmAtStart)
    : server({"--refresh-rate", "30", "--exit-after", "300"}), backend_(server, prewarmAtStart), bench(server.port()) {
    platform::setLogSink([this](std::string_view line) { log_.emplace_back(line); });
    storeWasEmpty = !ZELCachedFile(std::weak_ptr<ZELCachedFileDelegate>(), ZELServerAddresses::supportScriptURL(),
                                   ZELCachePurpose::SupportScript)
                         .hasContent();
    bench.setUp();
}

BannerLoad BannerSession::coldLoad(std::shared_ptr<ZELBannerView>& banner) {
    banner = bench.makeBanner(361);
    engineUpAtColdLoad = !webProcessIds().empty();
    const BannerLoad cold = bench.load(banner);
    if (!cold.ok) fail("cold load failed: " + cold.error);
    if (!banner->getPrivate()->adHTMLBaseURL()) fail("the banner has no markup URL");
    return cold;
}

void BannerSession::printHeader(const std::optional<platform::URL>& markupURL) const {
    std::printf("\n%s: nimbra-adserver at %s, markup URL %s\n", program_invocation_short_name, server.origin().c_str(),
                markupURL ? markupURL->absoluteString().substr(0, 60).c_str() : "-");
    if (!storeWasEmpty) std::printf("  NOTE: a support script was already stored: the cold figure is not cold\n");
}

void BannerSession::printLogSummary() const {
    const size_t failures = static_cast<size_t>(std::count_if(log_.begin(), log_.end(), [](const std::string& l) {
        return l.find("fail") != std::string::npos || l.find("error") != std::string::npos;
    }));
    std::printf("\n  %zu log lines, %zu mention a failure or error\n", log_.size(), failures);
}

BareContenders::BareContenders(const std::string& markupURL) : url_(markupURL) {
    if (reused_.load(url_) < 0) fail("bare web view could not load the ad URL");
}

void BareContenders::newView() {
    BareView view(reused_.web());
    spinFor(0.05);
    const double ms = view.load(url_);
    if (ms < 0) fail("bare load failed");
    newViews.push_back(ms);
    spinFor(0.25);
}

void BareContenders::sameView() {
    spinFor(0.05);
    const double ms = reused_.load(url_);
    if (ms < 0) fail("bare load failed");
    sameViews.push_back(ms);
    spinFor(0.25);
}

void BareContenders::printRows() const {
    printBareRow("bare view, new view each", newViews);
    printBareRow("bare view, same view", sameViews);
}

void interleave(int rounds, const std::vector<std::function<void()>>& contenders) {
    const size_t n = contenders.size();
    for (int round = 0; round < rounds; ++round) {
        for (size_t turn = 0; turn < n; ++turn) {
            contenders[(static_cast<size_t>(round) + turn) % n]();
            spinFor(0.05);
        }
    }
}

}  // namespace bench
