// mensajes against nimbra-adserver on the real stack: a banner asks for ads
// only while it can be seen (its tab selected, its window not minimised), and
// one started while its server was down asks again once the server is up.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Classes/Screens.h"
#include "integration/banner/BannerSupport.h"
#include "integration/support/XInput.h"

namespace {

using namespace banner_test;

// The first tab's banner, reloading every second (the remote pages stay on
// this machine), left for another tab and hidden in a minimised window: it
// asks for nothing (once the load in flight is over) for a few of its
// intervals, and asks again when it is seen.
TEST(BannerAttention, AHiddenBannerAsksForNothingUntilItIsSeenAgain) {
    LaunchedMensajes app({"--refresh-rate", "1"},
                         {{"MENSAJES_FIRST_PAGE", "/landing"}, {"MENSAJES_THIRD_PAGE", "/landing/2"}});
    ASSERT_TRUE(app.tabs) << "mensajes did not launch";
    auto screen = std::dynamic_pointer_cast<BannerWebScreen>(app.tabs->selectedViewController());
    ASSERT_TRUE(screen && screen->banner());
    const auto banner = screen->banner();
    const auto recorder = std::make_shared<BannerRecorder>();
    banner->setDelegate(recorder);
    nimbra::test::XInput x;
    auto select = [&](size_t tab) {
        app.tabs->setSelectedIndex(tab);
        return true;
    };
    const std::tuple<const char*, std::function<bool()>, std::function<bool()>> hidings[] = {
        {"its tab left", [&] { return select(1); }, [&] { return select(0); }},
        {"the window minimised", [&] { return x.available() && x.minimize(*app.window, true); },
         [&] { return x.minimize(*app.window, false); }},
    };
    for (const auto& [what, hide, show] : hidings) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(spinUntil([&] { return recorder->callbacks() >= 2; }, kAdTimeout)) << "no reloads while seen";
        ASSERT_TRUE(hide()) << "no X display with the test extension";
        ASSERT_TRUE(spinUntil([&] { return !banner->isVisibleOnScreen() && !banner->getPrivate()->isMakingRequest(); },
                              kAdTimeout));
        const int heard = recorder->callbacks();
        spinFor(2.5);
        EXPECT_EQ(recorder->callbacks(), heard) << "the hidden banner asked for an ad";
        ASSERT_TRUE(show());
        EXPECT_TRUE(spinUntil([&] { return recorder->callbacks() > heard; }, kAdTimeout));
        recorder->events.clear();
    }
}

// A free port on the loopback interface for a server started later, below the
// range the system takes local ports of connections from: a connection to a
// port of that range where nobody listens may be given that same port and
// meet itself, and then hangs instead of being refused.
unsigned freePort() {
    for (unsigned port = 20000 + unsigned(::getpid()) % 10000, tries = 0; tries < 100; ++port, ++tries) {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        if (s < 0) return 0;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(uint16_t(port));
        const bool free = ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(s);
        if (free) return port;
    }
    return 0;
}

// Started while its server is down, mensajes says why it has no ad and asks
// again on its back-off (5 s, then 10 s, ...) until the server, up 5 s later,
// answers.
TEST(BannerAttention, ABannerStartedBeforeItsServerGetsAnAdOnceTheServerIsUp) {
    nimbra::test::gtkBackend();
    const unsigned port = freePort();
    ASSERT_NE(port, 0u);
    const auto root = nimbra::test::freshRoot("late-server");
    nimbra::test::RunningMensajes app(root, "http://127.0.0.1:" + std::to_string(port), NIMBRA_MENSAJES_PATH);
    ASSERT_TRUE(app.started());
    constexpr const char* kWhy = "<Nimbra> The server could not be reached (";
    ASSERT_TRUE(spinUntil([&] { return !app.up() || app.log().find(kWhy) != std::string::npos; }, kAdTimeout))
        << app.log();
    spinFor(5);  // the server comes up late
    AdServerProcess server({"--port", std::to_string(port), "--refresh-rate", "600"});
    ASSERT_TRUE(server.ok()) << "nimbra-adserver did not start on port " << port;
    // Asked twice a second: each question is a connection the server keeps
    // for a while, and a flood of them would use up its descriptors.
    double asked = 0;
    EXPECT_TRUE(spinUntil(
        [&] {
            if (nimbra::test::now() - asked < 0.5) return false;
            asked = nimbra::test::now();
            return !app.up() || server.counter("ads") >= 1;
        },
        5 + 10 + 20 + kAdTimeout))
        << app.log();
    EXPECT_TRUE(app.up()) << app.log();
    EXPECT_EQ(app.end(), std::optional<int>(0));
    std::filesystem::remove_all(root);
}

}  // namespace
