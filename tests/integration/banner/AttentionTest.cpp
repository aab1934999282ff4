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

// A banner screen's banner, with a recorder as its delegate.
struct Watched {
    std::shared_ptr<ZELBannerView> banner;
    std::shared_ptr<BannerRecorder> recorder = std::make_shared<BannerRecorder>();
    // Hidden, and the load in flight (if any) over.
    bool settledHidden() const { return !banner->isVisibleOnScreen() && !banner->getPrivate()->isMakingRequest(); }
};

Watched bannerOfTab(LaunchedMensajes& app, size_t tab) {
    app.tabs->setSelectedIndex(tab);
    auto screen = std::dynamic_pointer_cast<BannerWebScreen>(app.tabs->selectedViewController());
    Watched watched;
    if (screen && screen->banner()) {
        watched.banner = screen->banner();
        watched.banner->setDelegate(watched.recorder);
    }
    return watched;
}

// Reloads every second; the remote pages stay on this machine.
LaunchedMensajes::Pages localPages() { return {{"MENSAJES_FIRST_PAGE", "/landing"}, {"MENSAJES_THIRD_PAGE", "/landing/2"}}; }
constexpr double kQuiet = 2.5;  // refresh intervals in which a hidden banner must ask nothing

// The "Sin conexión" banner, left for the first tab, stops while the first
// goes on; shown again after its interval, it asks again.
TEST(BannerAttention, ABannerOnATabThatIsLeftAsksAgainOnlyWhenItsTabIsShown) {
    LaunchedMensajes app({"--refresh-rate", "1"}, localPages());
    ASSERT_TRUE(app.tabs) << "mensajes did not launch";
    const Watched fourth = bannerOfTab(app, 2);
    ASSERT_TRUE(fourth.banner);
    ASSERT_TRUE(spinUntil([&] { return fourth.recorder->callbacks() >= 1; }, kAdTimeout));
    const Watched first = bannerOfTab(app, 0);
    ASSERT_TRUE(first.banner);
    ASSERT_TRUE(spinUntil([&] { return fourth.settledHidden(); }, kAdTimeout));
    const int heard = fourth.recorder->callbacks();
    spinFor(kQuiet);
    EXPECT_EQ(fourth.recorder->callbacks(), heard) << "the hidden banner asked for an ad";
    EXPECT_GE(first.recorder->callbacks(), 1) << "the banner in view did not reload";
    app.tabs->setSelectedIndex(2);
    EXPECT_TRUE(spinUntil([&] { return fourth.recorder->callbacks() > heard; }, kAdTimeout));
}

TEST(BannerAttention, AMinimisedWindowAsksForNothing) {
    LaunchedMensajes app({"--refresh-rate", "1"}, localPages());
    ASSERT_TRUE(app.tabs) << "mensajes did not launch";
    nimbra::test::XInput x;
    if (!x.available()) GTEST_SKIP() << "no X display";
    const Watched first = bannerOfTab(app, 0);
    ASSERT_TRUE(first.banner);
    ASSERT_TRUE(spinUntil([&] { return app.server.counter("ads") >= 2; }, kAdTimeout));
    ASSERT_TRUE(x.minimize(*app.window, true));
    ASSERT_TRUE(spinUntil([&] { return first.settledHidden(); }, kAdTimeout));
    const int asked = app.server.counter("ads");
    spinFor(kQuiet);
    EXPECT_EQ(app.server.counter("ads"), asked);
    ASSERT_TRUE(x.minimize(*app.window, false));
    EXPECT_TRUE(spinUntil([&] { return app.server.counter("ads") > asked; }, kAdTimeout));
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
    ASSERT_TRUE(spinUntil([&] { return !app.up() || app.log().find(kWhy) != std::string::npos; }, kAdTimeout)) << app.log();
    spinFor(5);  // the server comes up late
    AdServerProcess server({"--port", std::to_string(port), "--refresh-rate", "600"});
    ASSERT_TRUE(server.ok()) << "nimbra-adserver did not start on port " << port;
    EXPECT_TRUE(spinUntil([&] { return !app.up() || server.counter("ads") >= 1; }, 5 + 10 + 20 + kAdTimeout)) << app.log();
    EXPECT_TRUE(app.up()) << app.log();
    EXPECT_EQ(app.end(), std::optional<int>(0));
    std::filesystem::remove_all(root);
}

}  // namespace
