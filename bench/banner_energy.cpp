// What banners cost the battery, in one process on the real backend and
// nimbra-adserver on loopback: CPU seconds of every process of ours (the
// application, the web engine's web and network processes) while a window
// with three tabs shows the first, its banner reloading and a second banner
// on a tab the user left; the same with the banners keeping the old
// behaviour (reloading while hidden); and a bare web view reloading the same
// markup at the same rate. Then the wake-ups of the application's main
// thread while every banner is hidden.
//
// A simulated hour: an hour at a 30 s refresh is 120 reload periods. The
// bench runs them at a 2 s refresh and scales the CPU time of the periods it
// ran to 120.
#include <gtk/gtk.h>

#include <cstdio>

#include "support/BannerBench.h"
#include "platform/TabBarController.h"

using namespace bench;

namespace {

constexpr double kRefreshSeconds = 2;
constexpr double kHourRefreshSeconds = 30;
constexpr double kWindowSeconds = 10;
constexpr int kEnergyRounds = 3;
constexpr double kPeriodsPerHour = 3600 / kHourRefreshSeconds;

// The old behaviour where the banner view has its switch; without it, every
// banner reloads while hidden anyway. False when there is no switch.
template <typename Banner>
bool keepReloadingWhileHidden(Banner& banner) {
    if constexpr (requires { banner.setReloadsWhileHidden(true); }) {
        banner.setReloadsWhileHidden(true);
        return true;
    } else {
        return false;
    }
}

// A window with three tabs: a banner at the bottom of the first two, none on
// the third. Both banners have shown an ad (the second tab was visited) and
// the first tab is selected.
class TabbedBanners {
public:
    TabbedBanners(bool oldBehaviour, bool& switchFound) {
        window_ = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
        tabs_ = std::make_shared<platform::TabBarController>();
        std::vector<std::shared_ptr<platform::ViewController>> controllers;
        for (int i = 0; i < 3; ++i) controllers.push_back(std::make_shared<platform::ViewController>());
        tabs_->setViewControllers(controllers);
        window_->setRootViewController(tabs_);
        window_->makeKeyAndVisible();
        for (size_t tab : {1u, 0u}) {
            tabs_->setSelectedIndex(tab);
            auto banner = ZELBannerView::initWithFrame(platform::Rect(0, 361, 320, 50));
            banner->setAdUnitID(kAdUnitID);
            banner->setRootViewController(controllers[tab]);
            banner->setDelegate(listener_);
            if (oldBehaviour) switchFound = keepReloadingWhileHidden(*banner);
            controllers[tab]->view()->addSubview(banner);
            auto request = ZELRequest::request();
            request->setAdditionalParameters(platform::Dictionary{{"refresh", platform::Value("2")}});
            const int before = listener_->received;
            banner->loadRequest(request);
            if (!spinUntil([&] { return listener_->received > before; }, kLoadLimitSeconds))
                fail("a banner on tab " + std::to_string(tab) + " had no ad: " + listener_->lastError);
            banners_.push_back(banner);
        }
    }
    ~TabbedBanners() {
        for (auto& banner : banners_) banner->removeFromSuperview();
        banners_.clear();
        window_->setHidden(true);
        spinFor(0.3);
    }
    TabbedBanners(const TabbedBanners&) = delete;
    TabbedBanners& operator=(const TabbedBanners&) = delete;

    void select(size_t tab) { tabs_->setSelectedIndex(tab); }

private:
    std::shared_ptr<platform::Window> window_;
    std::shared_ptr<platform::TabBarController> tabs_;
    std::vector<std::shared_ptr<ZELBannerView>> banners_;
    std::shared_ptr<Listener> listener_ = std::make_shared<Listener>();
};

struct Energy {
    std::vector<double> cpuSeconds;
    long ads = 0, impressions = 0;
    // Every window's CPU time over every window's periods: the tick of
    // /proc (10 ms) is then small against the whole.
    double perHour() const {
        double total = 0;
        for (double s : cpuSeconds) total += s;
        return total / (static_cast<double>(cpuSeconds.size()) * kWindowSeconds / kRefreshSeconds) * kPeriodsPerHour;
    }
};

// CPU time of all our processes over a window in which the loop turns with
// no source of the bench's own but the window's end.
void measure(unsigned port, Energy& into) {
    const auto counters = serverCounters(port);
    const double cpu = ourCpuSeconds();
    idleFor(kWindowSeconds);
    into.cpuSeconds.push_back(ourCpuSeconds() - cpu);
    const auto after = serverCounters(port);
    into.ads += after.ads - counters.ads;
    into.impressions += after.imp - counters.imp;
}

struct Quiet {
    long wakeups = 0, contextSwitches = 0, ads = 0;
    ActivityDelta activity{};
    std::map<std::string, long> causes;
};

// The main thread while every banner is hidden (the third tab selected),
// after the loads in flight had time to end.
Quiet quietWindow(bool oldBehaviour, unsigned port) {
    bool switchFound = false;
    TabbedBanners scene(oldBehaviour, switchFound);
    scene.select(2);
    spinFor(kRefreshSeconds + 1);
    Quiet quiet;
    const auto counters = serverCounters(port);
    const auto activity = loopActivity();
    const long switches = mainThreadContextSwitches();
    {
        WakeupCounter wakes(port);
        idleFor(kQuietWindowSeconds);
        quiet.wakeups = wakes.wakeups;
        quiet.causes = wakes.causes;
    }
    quiet.contextSwitches = mainThreadContextSwitches() - switches;
    quiet.activity = loopActivity() - activity;
    quiet.ads = serverCounters(port).ads - counters.ads;
    return quiet;
}

void printQuiet(const char* label, const Quiet& q) {
    std::printf("  %-36s %6ld %9ld %7llu %6ld   (goal 0)\n", label, q.wakeups, q.contextSwitches,
                static_cast<unsigned long long>(q.activity.timers + q.activity.delayed), q.ads);
    for (const auto& [cause, count] : q.causes) std::printf("      %4ld  %s\n", count, cause.c_str());
}

}  // namespace

int main() {
    BannerSession session;
    const unsigned port = session.server.port();
    std::shared_ptr<ZELBannerView> first;
    session.coldLoad(first);
    const auto markupURL = first->getPrivate()->adHTMLBaseURL();
    session.bench.release(first);
    spinFor(1.5);

    bool switchFound = false;
    Energy tabbed, old, bare;
    BareView bareView;
    interleave(kEnergyRounds, {[&] {
                                   TabbedBanners scene(false, switchFound);
                                   spinFor(0.5);
                                   measure(port, tabbed);
                               },
                               [&] {
                                   TabbedBanners scene(true, switchFound);
                                   spinFor(0.5);
                                   measure(port, old);
                               },
                               [&] {
                                   // The same markup URL, loaded again at the banners' rate.
                                   if (bareView.load(markupURL->absoluteString()) < 0)
                                       fail("bare view could not load the markup");
                                   spinFor(0.5);
                                   platform::gtk::GAttachedSource reload(
                                       g_timeout_source_new(static_cast<guint>(kRefreshSeconds * 1000)));
                                   g_source_set_callback(
                                       reload.get(),
                                       +[](gpointer data) -> gboolean {
                                           auto* view = static_cast<BareView*>(data);
                                           webkit_web_view_reload(view->web());
                                           return G_SOURCE_CONTINUE;
                                       },
                                       &bareView, nullptr);
                                   g_source_attach(reload.get(), nullptr);
                                   // Five reloads in the window, as each banner has.
                                   webkit_web_view_reload(bareView.web());
                                   measure(port, bare);
                               }});
    const Quiet quiet = quietWindow(false, port);
    const Quiet quietOld = quietWindow(true, port);

    session.printHeader(markupURL);
    std::printf(
        "\n1. Energy: CPU seconds of the application, web and network processes, %d windows of %.0f s each\n"
        "   (a simulated hour: %.0f reload periods, an hour at a %.0f s refresh, run at a %.0f s refresh and scaled)\n",
        kEnergyRounds, kWindowSeconds, kPeriodsPerHour, kHourRefreshSeconds, kRefreshSeconds);
    std::printf("  %-44s %9s %9s %9s %9s\n", "", "window s", "CPU s/h", "/ads", "/im");
    const auto row = [](const char* label, const Energy& e) {
        std::printf("  %-44s %9.3f %9.2f %9ld %9ld\n", label, median(e.cpuSeconds), e.perHour(), e.ads, e.impressions);
    };
    row("two banners, the second on a tab left", tabbed);
    row("the same, reloading while hidden (old)", old);
    row("a bare web view reloading the markup", bare);
    if (!switchFound)
        std::printf(
            "  NOTE: ZELBannerView has no setReloadsWhileHidden here: both banner rows run the same behaviour\n");
    printRatio("two banners / bare view", tabbed.perHour() / bare.perHour(), 1.2);
    printRatio("two banners / old behaviour", tabbed.perHour() / old.perHour(),
               "what is left of the old behaviour's cost");

    std::printf("\n2. Every banner hidden (third tab), %.0f s window  wake-ups  switches  timers  /ads\n",
                kQuietWindowSeconds);
    printQuiet("two banners on tabs left", quiet);
    printQuiet("the same, reloading while hidden (old)", quietOld);
    std::printf(
        "  (wake-ups: main-loop polls that slept and returned; switches: the main thread's context switches\n"
        "   from /proc; timers: the component's timers and delayed calls run)\n");
    session.printLogSummary();
    return 0;
}
