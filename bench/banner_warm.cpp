// A new banner against a bare web view, in one process on the real backend
// and nimbra-adserver on loopback: time from loadRequest to
// adViewDidReceiveAd, cold (the first load of the process, nothing stored)
// and warm (the support script fresh in the store, a new banner each round),
// beside a bare WebKit view loading the same ad URL.
#include <cstdio>

#include "Object/ZELPreparedBuildPage.h"
#include "support/BannerBench.h"

using namespace bench;

int main() {
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
    const bool preparedPageOutlivedBanners = ZELPreparedBuildPage::hasPreparedPage();
    const auto afterWarmCounters = serverCounters(session.server.port());

    const double bareNewMs = median(bare.newViews), bareSameMs = median(bare.sameViews);
    const double warmMs = medianTotal(warm);
    session.printHeader(markupURL);
    std::printf(
        "\n1. Time to ad (ms)                   median      min      max   n  | loadRequest  build URL   markup   render\n");
    printLoadRow("banner, cold (first load)", {cold});
    printLoadRow("banner, second (first warm)", {secondLoad});
    printLoadRow("banner, warm (new banner each)", warm);
    bare.printRows();
    printRatio("warm / bare (new view)", warmMs / bareNewMs, 1.5);
    std::printf("  new banners that found a request page prepared ahead: %d of %zu; after the last banner went: %s\n",
                warmWithPreparedPage, warm.size(), preparedPageOutlivedBanners ? "STILL THERE" : "gone");
    printRatio("warm / bare (same view)", warmMs / bareSameMs);
    printRatio("cold / bare (new view)", cold.totalMs / bareNewMs, 3);
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
