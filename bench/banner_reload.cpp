// A reload of a shown banner against a bare web view, in one process on the
// real backend and nimbra-adserver on loopback: an application keeps its
// banners, so one stays shown and reloads each round, beside a bare WebKit
// view loading the same ad URL.
#include <cstdio>

#include "support/BannerBench.h"

using namespace bench;

int main() {
    BannerSession session;
    auto& bench = session.bench;

    std::shared_ptr<ZELBannerView> resident;
    session.coldLoad(resident);
    const auto markupURL = resident->getPrivate()->adHTMLBaseURL();
    spinFor(1.5);  // trackers, the defaults' autosave

    BareContenders bare(markupURL->absoluteString());
    std::vector<BannerLoad> reloads;
    interleave(kRounds, {[&] {
                             spinFor(0.05);
                             const BannerLoad l = bench.load(resident);
                             if (!l.ok) fail("reload failed: " + l.error);
                             reloads.push_back(l);
                             spinFor(0.25);
                         },
                         [&] { bare.newView(); }, [&] { bare.sameView(); }});
    bench.release(resident);

    session.printHeader(markupURL);
    std::printf(
        "\n1. Time to ad (ms)                   median      min      max   n  | loadRequest  build URL   markup   render\n");
    printLoadRow("banner, reload (same banner)", reloads);
    bare.printRows();
    printRatio("reload / bare (new view)", medianTotal(reloads) / median(bare.newViews), 1.2);
    session.printLogSummary();
    return 0;
}
