// mensajes in this process for minutes against nimbra-adserver reloading every
// second: its two banner screens take turns and the window is minimised and
// restored over and over. What it holds (memory, descriptors, web views,
// main-loop sources and timers) must stay where it was after the warm-up, and
// the ads must keep coming, each screen's in its own banner in its bottom strip. NIMBRA_SOAK_SECONDS sets the length
// (`make soak`).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "../platform/gtk/services/GlibRunLoop.h"
#include "Classes/Constants.h"
#include "Classes/Screens.h"
#include "integration/banner/BannerSupport.h"

namespace {

using nimbra::test::now;
using nimbra::test::spinFor;
using nimbra::test::spinUntil;

// A figure from a /proc status file ("VmRSS:", "Anonymous:"), in kB.
long procField(const std::string& path, const std::string& field) {
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(field)) return std::atol(line.c_str() + field.size());
    return 0;
}

// Sources attached to GLib's default context: every id handed out so far
// that still names a live source.
int glibSources() {
    GMainContext* context = g_main_context_default();
    platform::gtk::GAttachedSource probe(g_idle_source_new());
    const guint last = g_source_attach(probe.get(), context);
    probe.reset();
    int n = 0;
    for (guint id = 1; id < last; ++id) n += g_main_context_find_source_by_id(context, id) != nullptr;
    return n;
}

struct Figures {
    long rssKB, pssKB, anonKB;
    int fds, webViews, sources, timers, ads, impressions;
};

Figures measure(const nimbra::test::AdServerProcess& server) {
    Figures f{};
    f.rssKB = procField("/proc/self/status", "VmRSS:");
    // PSS moves when other programs on the machine map the same libraries or
    // stop; anonymous memory (heaps, JavaScript) is what a leak grows.
    f.pssKB = procField("/proc/self/smaps_rollup", "Pss:");
    f.anonKB = procField("/proc/self/smaps_rollup", "Anonymous:");
    for (const auto& [pid, names] : nimbra::test::descendantsOf(::getpid()))
        if (names[0] != "nimbra-adserver") {
            const std::string rollup = "/proc/" + std::to_string(pid) + "/smaps_rollup";
            f.pssKB += procField(rollup, "Pss:");
            f.anonKB += procField(rollup, "Anonymous:");
        }
    f.fds = int(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
    f.webViews = platform::WebView::liveCount();
    f.sources = glibSources();
    f.timers = int(dynamic_cast<platform::gtk::GlibRunLoop&>(platform::RunLoop::main()).queuedCount());
    f.ads = server.counter("ads");
    f.impressions = server.counter("imp");
    return f;
}

TEST(Soak, MensajesHoldsStillWhileItsBannersReloadEverySecond) {
    const char* asked = std::getenv("NIMBRA_SOAK_SECONDS");
    const double seconds = asked ? std::atof(asked) : 120;
    const double warmUp = std::max(20.0, seconds / 4);
    // The remote screens stay on this machine.
    banner_test::LaunchedMensajes app({"--refresh-rate", "1", "--exit-after", std::to_string(int(seconds) + 120)},
                                      {{"MENSAJES_FIRST_PAGE", "/landing"}, {"MENSAJES_THIRD_PAGE", "/landing/2"}});
    ASSERT_TRUE(app.tabs) << "mensajes did not launch";
    auto& tabs = app.tabs;
    auto& window = app.window;
    const auto& server = app.server;
    auto recorder = std::make_shared<banner_test::BannerRecorder>();

    // A turn: each banner screen for two seconds, then a second minimised.
    auto turn = [&] {
        for (size_t tab : {size_t(2), size_t(0)}) {
            tabs->setSelectedIndex(tab);
            for (const auto& screen : tabs->viewControllers())
                if (auto carrier = std::dynamic_pointer_cast<BannerWebScreen>(screen); carrier && carrier->banner())
                    carrier->banner()->setDelegate(recorder);
            spinFor(2);
        }
        window->setHidden(true);
        spinFor(1);
        window->setHidden(false);
    };
    // Measured minimised, on the first tab, once the loads in flight are over.
    auto quietFigures = [&] {
        tabs->setSelectedIndex(0);
        window->setHidden(true);
        spinFor(3);
        const Figures f = measure(server);
        window->setHidden(false);
        return f;
    };
    const double start = now();
    while (now() - start < warmUp) turn();
    const Figures warm = quietFigures();
    const double measured = now();
    while (now() - start < seconds) turn();
    const Figures end = quietFigures();
    const double span = now() - measured;

    std::printf("[ soak     ] %.0f s, figures after %.0f s of warm-up and at the end:\n", seconds, warmUp);
    std::printf(
        "[ soak     ] resident memory %ld -> %ld kB; its processes: anonymous %ld -> %ld kB, PSS %ld -> %ld kB\n",
        warm.rssKB, end.rssKB, warm.anonKB, end.anonKB, warm.pssKB, end.pssKB);
    std::printf("[ soak     ] descriptors %d -> %d, web views %d -> %d, GLib sources %d -> %d, loop timers %d -> %d\n",
                warm.fds, end.fds, warm.webViews, end.webViews, warm.sources, end.sources, warm.timers, end.timers);
    std::printf("[ soak     ] %d ads and %d impressions in %.0f s, %zu failures told\n", end.ads - warm.ads,
                end.impressions - warm.impressions, span, recorder->codes.size());
    EXPECT_LE(end.rssKB, warm.rssKB * 110 / 100);
    EXPECT_LE(end.anonKB, warm.anonKB * 115 / 100);
    // A kept-alive connection to the server or a tracker may be open or not
    // at either moment; a leak of one a reload would be over a hundred.
    EXPECT_LE(end.fds, warm.fds + 4);
    EXPECT_LE(end.webViews, warm.webViews);
    EXPECT_LE(end.sources, warm.sources + 5);
    EXPECT_LE(end.timers, warm.timers + 2);
    // The banner in view reloads every second while the window is up, 4 s of each 5.
    EXPECT_GE(end.ads - warm.ads, int(span / 2));
    EXPECT_GE(end.impressions - warm.impressions, 2 * int(span / 2));
    EXPECT_EQ(recorder->codes, std::vector<long>{});
    std::vector<std::shared_ptr<ZELBannerView>> banners;
    for (size_t tab : {size_t(0), size_t(2)}) {
        SCOPED_TRACE(tab);
        tabs->setSelectedIndex(tab);
        auto carrier = std::dynamic_pointer_cast<BannerWebScreen>(tabs->selectedViewController());
        ASSERT_TRUE(carrier && carrier->banner());
        auto banner = banners.emplace_back(carrier->banner());
        EXPECT_TRUE(spinUntil([&] { return banner_test::showsAd(*banner); }, banner_test::kAdTimeout));
        EXPECT_EQ(banner->frame(), platform::Rect(0, 361, 320, 50));
        EXPECT_EQ(banner->superview(), carrier->view());
        EXPECT_EQ(banner->adUnitID(), mensajes::kAdUnitID);
    }
    EXPECT_NE(banners.front(), banners.back());
}

}  // namespace
