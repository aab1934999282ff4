// What banners cost while they are shown, in one process on the real backend
// and nimbra-adserver on loopback: resident memory with zero, one and two
// banners, the web processes a banner load uses, and what wakes the main loop
// while a shown banner waits for its next reload. Then the memory one banner
// adds against a bare web view showing the same markup, each in a fresh
// process of its own (this program started again in a measuring mode).
#include <cstdio>
#include <cstring>
#include <optional>

#include "support/BannerBench.h"

using namespace bench;

namespace {

constexpr int kMemoryRuns = 5;
constexpr double kSettleSeconds = 2.0;

// PSS, and the private pages alone: PSS also moves with the other programs
// on the machine that map the same libraries.
std::pair<long, long> totalKb() {
    std::pair<long, long> kb;
    for (const auto& p : ourProcesses()) {
        kb.first += p.pssKb;
        kb.second += p.privateKb;
    }
    return kb;
}

// In a fresh process: the session and its window, nothing of the web engine
// started; then one banner (or one bare view on the markup URL) showing the
// ad. Prints the PSS of the process and its engine processes before and after.
int measureOneView(const char* markupURL) {
    BannerSession session(false);
    spinFor(kSettleSeconds);
    const auto before = totalKb();
    std::shared_ptr<ZELBannerView> banner;
    std::optional<BareView> bare;
    if (markupURL) {
        bare.emplace();
        if (bare->load(markupURL) < 0) fail("bare view could not load the markup");
    } else {
        session.coldLoad(banner);
    }
    spinFor(kSettleSeconds);
    const auto after = totalKb();
    std::printf("pss-kb %ld %ld private-kb %ld %ld\n", before.first, after.first, before.second, after.second);
    return 0;
}

struct Added {
    std::vector<double> before, after, added, privateAdded;
};

void measureInChild(const std::vector<std::string>& args, Added& into) {
    std::vector<const char*> argv{"/proc/self/exe"};
    for (const auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    platform::gtk::GCharPtr out;
    int status = 0;
    if (!g_spawn_sync(nullptr, const_cast<char**>(argv.data()), nullptr, G_SPAWN_STDERR_TO_DEV_NULL, nullptr, nullptr,
                      out.out(), nullptr, &status, nullptr) ||
        !g_spawn_check_wait_status(status, nullptr))
        fail("the measuring process failed");
    long before = 0, after = 0, privateBefore = 0, privateAfter = 0;
    const char* line = out ? std::strstr(out.get(), "pss-kb ") : nullptr;
    if (!line ||
        std::sscanf(line, "pss-kb %ld %ld private-kb %ld %ld", &before, &after, &privateBefore, &privateAfter) != 4)
        fail("the measuring process printed no figures");
    into.privateAdded.push_back((privateAfter - privateBefore) / 1024.0);
    into.before.push_back(before / 1024.0);
    into.after.push_back(after / 1024.0);
    into.added.push_back((after - before) / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--measure-banner") == 0) return measureOneView(nullptr);
    if (argc >= 3 && std::strcmp(argv[1], "--measure-bare") == 0) return measureOneView(argv[2]);
    BannerSession session;
    auto& bench = session.bench;
    const unsigned port = session.server.port();
    const auto memoryNone = ourProcesses();

    std::shared_ptr<ZELBannerView> first;
    session.coldLoad(first);
    const auto markupURL = first->getPrivate()->adHTMLBaseURL();
    spinFor(1.5);  // trackers, the defaults' autosave
    const auto memoryOne = ourProcesses();
    auto second = bench.makeBanner(0);
    if (!bench.load(second).ok) fail("second banner failed");
    spinFor(1.5);
    const auto memoryTwo = ourProcesses();
    bench.release(first);
    bench.release(second);
    spinFor(1.5);
    const auto memoryNoneAgain = ourProcesses();

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
    const auto idleCountersBefore = serverCounters(port);
    const auto activityBefore = loopActivity();
    std::optional<WakeupCounter> wakes;
    wakes.emplace(port);
    idleFor(kQuietWindowSeconds);
    const long idleWakeups = wakes->wakeups, idleIterations = wakes->iterations;
    const auto idleCauses = wakes->causes;
    wakes.reset();
    const ActivityDelta idleActivity = loopActivity() - activityBefore;
    const auto idleCountersAfter = serverCounters(port);
    const bool idleTimerPending = idle->getPrivate()->isReloadTimerScheduled();
    const int idleState = static_cast<int>(idle->getPrivate()->state());
    bench.release(idle);
    spinFor(0.5);

    // The same with a 2-second refresh: each reload is one timer firing.
    auto refreshing = bench.makeBanner(361, platform::Dictionary{{"refresh", platform::Value("2")}});
    if (!bench.load(refreshing).ok) fail("refreshing banner failed");
    const auto refreshCountersBefore = serverCounters(port);
    const auto refreshActivityBefore = loopActivity();
    wakes.emplace(port);
    idleFor(kQuietWindowSeconds);
    const auto refreshCauses = wakes->causes;
    const long refreshWakeups = wakes->wakeups;
    wakes.reset();
    const ActivityDelta refreshActivity = loopActivity() - refreshActivityBefore;
    const auto refreshCountersAfter = serverCounters(port);
    bench.release(refreshing);
    spinFor(0.2);

    // One banner against one bare view, each in a process of its own,
    // alternating; the bare view loads the markup from this process's server.
    Added banners, bares;
    for (int run = 0; run < kMemoryRuns; ++run) {
        measureInChild({"--measure-banner"}, banners);
        measureInChild({"--measure-bare", markupURL->absoluteString()}, bares);
    }

    session.printHeader(markupURL);
    std::printf(
        "\n1. Memory added by one view showing the ad, PSS of the process and its engine processes\n"
        "   (MiB, medians of %d fresh processes each: before = the window up, no web view yet)\n",
        kMemoryRuns);
    std::printf("  %-30s %9s %9s %9s   %s\n", "", "before", "after", "added", "private pages added");
    std::printf("  %-30s %9.1f %9.1f %9.1f   %9.1f\n", "one banner", median(banners.before), median(banners.after),
                median(banners.added), median(banners.privateAdded));
    std::printf("  %-30s %9.1f %9.1f %9.1f   %9.1f\n", "bare web view, same markup", median(bares.before),
                median(bares.after), median(bares.added), median(bares.privateAdded));
    printRatio("banner / bare (added)", median(banners.added) / median(bares.added), 1.15);
    std::printf("  private pages alone %.2fx\n", median(banners.privateAdded) / median(bares.privateAdded));

    std::printf("\n2. Memory (MiB)                  app RSS  all RSS   all PSS   web   per process RSS\n");
    printMemory("no banner (before any)", memoryNone);
    printMemory("one banner shown", memoryOne);
    printMemory("two banners shown", memoryTwo);
    printMemory("no banner (both released)", memoryNoneAgain);
    std::printf("  web processes: %zu before 3 banner loads, %zu after, %zu distinct seen during them\n",
                webBefore.size(), webAfter.size(), webSeen.size());

    std::printf("\n3. Main-loop wake-ups, one banner shown, reload 30 s away, %.0f s window\n", kQuietWindowSeconds);
    std::printf("  wake-ups (polls allowed to sleep that returned): %ld; loop turns: %ld\n", idleWakeups,
                idleIterations);
    for (const auto& [cause, count] : idleCauses) std::printf("    %4ld  %s\n", count, cause.c_str());
    std::printf(
        "  component's run loop: %llu timers fired, %llu delayed calls, %llu main-thread calls, %llu keep-alive releases\n",
        static_cast<unsigned long long>(idleActivity.timers), static_cast<unsigned long long>(idleActivity.delayed),
        static_cast<unsigned long long>(idleActivity.mainCalls),
        static_cast<unsigned long long>(idleActivity.releases));
    std::printf("  requests to the server meanwhile: %ld; banner state %d, reload timer %s\n",
                idleCountersAfter.total - idleCountersBefore.total, idleState,
                idleTimerPending ? "pending" : "NOT pending");
    std::printf(
        "\n   With a 2 s refresh over the same window: %llu timers fired (the reloads), %ld new ad requests, %ld wake-ups;\n"
        "   the loads themselves ran %llu delayed calls and %llu keep-alive releases\n",
        static_cast<unsigned long long>(refreshActivity.timers), refreshCountersAfter.ads - refreshCountersBefore.ads,
        refreshWakeups, static_cast<unsigned long long>(refreshActivity.delayed),
        static_cast<unsigned long long>(refreshActivity.releases));
    for (const auto& [cause, count] : refreshCauses)
        if (cause.find("platform") != std::string::npos) std::printf("    %4ld  %s\n", count, cause.c_str());
    session.printLogSummary();
    return 0;
}
