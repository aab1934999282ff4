// A new banner against a bare web view, in one process on the real backend
// and nimbra-adserver on loopback: time from loadRequest to
// adViewDidReceiveAd, cold (the first load of the process, nothing stored)
// and warm (the support script fresh in the store, a new banner each round),
// beside a bare WebKit view loading the same ad URL. A process has one cold
// load: more come from copies of this one, each with empty folders of its own.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "Object/ZELPreparedBuildPage.h"
#include "support/BannerBench.h"

using namespace bench;

namespace {

constexpr int kColdCopies = 4;
constexpr char kColdOnly[] = "--cold-only";

struct ColdRun {
    BannerLoad load;
    double bareMs = 0;  // the same process's bare warm load, median
};

// The copy's cold load and its bare baseline, on one line of its output.
int coldOnly() {
    BannerSession session;
    std::shared_ptr<ZELBannerView> banner;
    const BannerLoad cold = session.coldLoad(banner);
    const auto markupURL = banner->getPrivate()->adHTMLBaseURL()->absoluteString();
    spinFor(1.5);
    BareContenders bare(markupURL);
    for (int i = 0; i < 5; ++i) bare.newView();
    std::printf("cold %.3f %.3f %.3f %.3f %.3f %.3f\n", cold.totalMs, cold.syncMs, cold.buildMs, cold.markupMs,
                cold.renderMs, median(bare.newViews));
    return 0;
}

// Runs this program again with empty folders of its own and reads its line.
std::optional<ColdRun> coldInACopy(int copy) {
    const auto root =
        std::filesystem::temp_directory_path() / ("cold-" + std::to_string(getpid()) + "-" + std::to_string(copy));
    const std::string command = "HOME=" + (root / "home").string() + " XDG_CONFIG_HOME=" + (root / "config").string() +
                                " XDG_CACHE_HOME=" + (root / "cache").string() +
                                " XDG_DATA_HOME=" + (root / "data").string() + " /proc/" + std::to_string(getpid()) +
                                "/exe " + kColdOnly;
    for (const char* sub : {"home", "config", "cache", "data"}) std::filesystem::create_directories(root / sub);
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
        pclose(pipe);
    }
    std::filesystem::remove_all(root);
    const auto at = out.find("cold ");
    if (at == std::string::npos) return std::nullopt;
    std::istringstream line(out.substr(at + 5));
    ColdRun run;
    run.load.ok = true;
    line >> run.load.totalMs >> run.load.syncMs >> run.load.buildMs >> run.load.markupMs >> run.load.renderMs >>
        run.bareMs;
    if (!line) return std::nullopt;
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == kColdOnly) return coldOnly();
    BannerSession session;
    auto& bench = session.bench;

    std::shared_ptr<ZELBannerView> first;
    const double coldAskedAfterMs = msSince(session.started);
    const BannerLoad cold = session.coldLoad(first);
    const auto markupURL = first->getPrivate()->adHTMLBaseURL();
    spinFor(1.5);  // trackers, the defaults' autosave
    auto second = bench.makeBanner(0);
    const BannerLoad secondLoad = bench.load(second);
    if (!secondLoad.ok) fail("second banner failed: " + secondLoad.error);
    spinFor(1.5);
    bench.release(first);
    bench.release(second);
    spinFor(1.5);
    const auto afterColdCounters = serverCounters(session.server.port());

    // Each contender gets a moment before the clock starts and after it stops
    // (trackers, teardown) so none pays for another. An application keeps its
    // banners: one stays shown through the rounds while new ones come and go.
    BareContenders bare(markupURL->absoluteString());
    auto resident = bench.makeBanner(0);
    if (!bench.load(resident).ok) fail("the resident banner failed");
    std::vector<BannerLoad> warm;
    int warmWithPreparedPage = 0;
    interleave(kRounds, {[&] {
                             auto banner = bench.makeBanner(361);
                             spinFor(0.05);
                             warmWithPreparedPage += ZELPreparedBuildPage::readyWebView() != nullptr;
                             const BannerLoad l = bench.load(banner);
                             if (!l.ok) fail("warm load failed: " + l.error);
                             warm.push_back(l);
                             spinFor(0.25);
                             bench.release(banner);
                         },
                         [&] { bare.newView(); }, [&] { bare.sameView(); }});
    bench.release(resident);
    spinFor(0.1);
    // Each cold load against the bare load of its own process.
    std::vector<BannerLoad> colds{cold};
    std::vector<double> coldRatios;
    for (int copy = 0; copy < kColdCopies; ++copy) {
        if (auto run = coldInACopy(copy)) {
            colds.push_back(run->load);
            coldRatios.push_back(run->load.totalMs / run->bareMs);
        }
    }
    const bool preparedPageOutlivedBanners = ZELPreparedBuildPage::hasPreparedPage();
    const auto afterWarmCounters = serverCounters(session.server.port());

    const double bareNewMs = median(bare.newViews), bareSameMs = median(bare.sameViews);
    const double warmMs = medianTotal(warm);
    session.printHeader(markupURL);
    std::printf(
        "\n1. Time to ad (ms)                   median      min      max   n  | loadRequest  build URL   markup   render\n");
    printLoadRow("banner, cold (first load)", {cold});
    printLoadRow("  the same in fresh processes", std::vector<BannerLoad>(colds.begin() + 1, colds.end()));
    printLoadRow("banner, second (first warm)", {secondLoad});
    printLoadRow("banner, warm (new banner each)", warm);
    bare.printRows();
    printRatio("warm / bare (new view)", warmMs / bareNewMs, 1.5);
    std::printf("  new banners that found a request page prepared ahead: %d of %zu; after the last banner went: %s\n",
                warmWithPreparedPage, warm.size(), preparedPageOutlivedBanners ? "STILL THERE" : "gone");
    printRatio("warm / bare (same view)", warmMs / bareSameMs);
    coldRatios.push_back(cold.totalMs / bareNewMs);
    printRatio("cold / bare (new view), median of processes", median(coldRatios), 3);
    std::printf("  each process's cold load against its own bare load:");
    for (double r : coldRatios) std::printf(" %.2fx", r);
    std::printf("\n");
    std::printf(
        "  the cold load was asked for %.0f ms after the start (web engine started then); a web process was %s\n",
        coldAskedAfterMs, session.engineUpAtColdLoad ? "up" : "NOT up yet");
    printRatio("cold / bare (same view)", cold.totalMs / bareSameMs);
    std::printf("  server: support script fetched %ld time(s) (304: %ld) for %ld banner loads; /ads %ld, /im %ld\n",
                afterWarmCounters.script, afterWarmCounters.script304, 3 + static_cast<long>(warm.size()),
                afterWarmCounters.ads, afterWarmCounters.imp);
    std::printf("  (after the cold and second loads: script %ld, 304 %ld)\n", afterColdCounters.script,
                afterColdCounters.script304);
    session.printLogSummary();
    return 0;
}
