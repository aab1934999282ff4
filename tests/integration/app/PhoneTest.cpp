// Mensajes on a phone's screen: under the phone compositor (phoc, headless, a
// 360 x 720 point screen at scale 2) and on a virtual X screen of the same
// size. The window fills what it is given, the banner's strip and the tab bar
// stay at the bottom, the ad requests report where the banner really is, and
// a tap from the compositor's own pointer opens the ad. Without an input
// seat, or with a compositor socket the web sandbox cannot hand on, the
// application says so and ends.
#include <gtest/gtest.h>

#include "integration/support/Phone.h"

namespace {

namespace fs = std::filesystem;
using namespace nimbra::test;

constexpr int kWidth = 360, kHeight = 720;
// The 320 x 50 banner centred at the bottom of a 360 x 720 phone's content,
// and at its place in the default 320 x 480 window.
const nlohmann::json kPhoneBanner = {{"x", 20}, {"y", 601}, {"w", 320}, {"h", 50}},
                     kDefaultBanner = {{"x", 0}, {"y", 361}, {"w", 320}, {"h", 50}};

// Whether an ad request reported the banner at `frame` on a screen of `size`.
::testing::AssertionResult placed(const nlohmann::json& request, const nlohmann::json& frame, const std::string& size) {
    const auto& query = request["query"];
    const std::string screen = query.value("u_w", std::string("?")) + " x " + query.value("u_h", std::string("?"));
    if (queryJson(request, "ad_frame") == frame && screen == size) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the banner at " << queryJson(request, "ad_frame") << " on " << screen;
}

// Takes screenshots until one shows the first tab laid out for the screen.
template <typename Screen>
::testing::AssertionResult laidOut(const Screen& screen, int scale, int width, int height) {
    std::vector<std::string> faults{"no screenshot"};
    spinUntil(
        [&] {
            if (auto shot = screen.screenshot()) faults = phoneLayoutFaults(*shot, scale, width, height);
            return faults.empty();
        },
        15);
    if (faults.empty()) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << "at " << width << " x " << height << ":";
    for (const auto& fault : faults) failure << "\n  " << fault;
    return failure;
}

class Phone : public ::testing::Test {
protected:
    void SetUp() override { gtkBackend(); }
    void TearDown() override {
        phoc.reset();
        fs::remove_all(root);
    }
    // phoc on the phone's screen at scale 2, its socket in mensajes' runtime folder.
    bool startPhoc() {
        if (!installed("phoc") || !installed("grim") || !installed("wlr-randr")) return false;
        phoc = std::make_unique<Phoc>(root / "phoc", root / "runtime", kWidth * 2, kHeight * 2, 2);
        return phoc->ready();
    }
    std::unique_ptr<RunningMensajes> start(const AdServerProcess& server, const Environment& environment) {
        return std::make_unique<RunningMensajes>(root, server.origin(), NIMBRA_MENSAJES_PATH, fs::temp_directory_path(),
                                                 environment);
    }
    fs::path root = freshRoot("phone");
    std::unique_ptr<Phoc> phoc;
};

constexpr const char* kNeedsPhoc = "phoc, grim and wlr-randr are needed (scripts/install-deps)";

// It fills the screen, and a tap on the banner opens the browser.
TEST_F(Phone, MensajesIsUsableUnderThePhoneCompositor) {
    ASSERT_TRUE(startPhoc()) << kNeedsPhoc << "\n" << (phoc ? phoc->log() : "");
    VirtualPointer pointer(phoc->clients());
    ASSERT_TRUE(pointer.ready()) << "no virtual pointer: " << phoc->log();
    // Out of the pictures' way: over the page.
    ASSERT_TRUE(pointer.move(100, 300, kWidth, kHeight));
    AdServerProcess server({"--creatives", "browser", "--refresh-rate", "600"});
    auto app = start(server, phoc->clients());
    ASSERT_TRUE(spinUntil([&] { return !app->up() || server.counter("imp") >= 1; }, 30)) << "no ad shown\n"
                                                                                         << app->log();
    ASSERT_TRUE(app->up()) << app->log();
    // The first request already tells where the banner is on this screen.
    const auto ads = server.requestsTo("ads");
    ASSERT_FALSE(ads.empty());
    EXPECT_TRUE(placed(ads[0], kPhoneBanner, "360 x 720"));
    EXPECT_TRUE(laidOut(*phoc, 2, kWidth, kHeight));
    // The phone turned on its side: a landscape window of the same area.
    ASSERT_TRUE(phoc->transform("90"));
    EXPECT_TRUE(laidOut(*phoc, 2, kHeight, kWidth));
    ASSERT_TRUE(phoc->transform("normal"));
    EXPECT_TRUE(laidOut(*phoc, 2, kWidth, kHeight));
    // A tap on the ad opens its landing page in the in-app browser, over the
    // whole screen: the page where the status bar was, the browser's black
    // toolbar across the bottom.
    ASSERT_TRUE(pointer.tap(kWidth / 2, kPhoneBanner["y"].get<int>() + 25, kWidth, kHeight));
    EXPECT_TRUE(spinUntil([&] { return server.counter("landing") >= 1; }, 20)) << app->log();
    EXPECT_TRUE(spinUntil(
        [&] {
            const auto shot = phoc->screenshot();
            constexpr Rgb kBlack{0, 0, 0};
            return shot && shot->width == kWidth * 2 && !shot->at(1, 1).near(kBlack, 8) &&
                   shot->at(1, kHeight * 2 - 1).near(kBlack, 8) &&
                   shot->at(kWidth * 2 - 1, kHeight * 2 - 1).near(kBlack, 8);
        },
        15));
    EXPECT_EQ(app->end(), std::optional<int>(0));
}

TEST_F(Phone, OnAPhoneSizedXScreenTheResizedWindowIsLaidOutTheSameWay) {
    ASSERT_TRUE(installed("Xvfb") && installed("xdotool") && installed("import"))
        << "Xvfb, xdotool and ImageMagick are needed (scripts/install-deps)";
    XScreen screen(root / "x11", kWidth, kHeight);
    ASSERT_TRUE(screen.ready());
    AdServerProcess server({"--refresh-rate", "1"});
    auto app = start(server, screen.clients());
    ASSERT_TRUE(spinUntil([&] { return !app->up() || server.counter("ads") >= 1; }, 30)) << app->log();
    // At its default size the window is the 320 x 480 phone, as before.
    const auto first = server.requestsTo("ads");
    ASSERT_FALSE(first.empty());
    EXPECT_TRUE(placed(first[0], kDefaultBanner, "320 x 480"));
    ASSERT_TRUE(runCommand({"xdotool", "search", "--sync", "--name", "^Mensajes$", "windowsize", "%@",
                            std::to_string(kWidth), std::to_string(kHeight)},
                           screen.clients()));
    // The next reload reports the banner where it is now.
    EXPECT_TRUE(
        spinUntil([&] { return bool(placed(server.requestsTo("ads").back(), kPhoneBanner, "360 x 720")); }, 15));
    EXPECT_TRUE(laidOut(screen, 1, kWidth, kHeight));
    EXPECT_EQ(app->end(), std::optional<int>(0));
}

// What the launch comes to on a compositor: without a seat (no pointer made)
// a clear line and status 1; the web sandbox hands page processes the socket
// from the runtime folder by its name, so an absolute WAYLAND_DISPLAY there
// works and one elsewhere is refused, never a crash of the web engine.
TEST_F(Phone, WhereItCannotWorkItSaysSoAndEnds) {
    ASSERT_TRUE(startPhoc()) << kNeedsPhoc << "\n" << (phoc ? phoc->log() : "");
    std::unique_ptr<VirtualPointer> pointer;
    const fs::path other = root / "other-runtime";
    fs::create_directories(other);
    fs::permissions(other, fs::perms::owner_all, fs::perm_options::replace);
    const std::string socket = phoc->socket().string();
    // clang-format off
    const struct {
        const char* what;
        bool seat;
        Environment environment;
        std::optional<int> status;  // none: it runs and shows an ad
        const char* says;
    } launches[] = {
        {"no seat", false, {}, 1, "no input seat"},
        {"absolute socket in the runtime folder", true, {{"WAYLAND_DISPLAY", socket}}, std::nullopt, ""},
        {"absolute socket elsewhere", true, {{"WAYLAND_DISPLAY", socket}, {"XDG_RUNTIME_DIR", other.string()}}, 1, "outside XDG_RUNTIME_DIR"},
    };
    // clang-format on
    for (const auto& launch : launches) {
        SCOPED_TRACE(launch.what);
        // The compositor's seat comes with its first input device, the pointer.
        if (launch.seat && !pointer) pointer = std::make_unique<VirtualPointer>(phoc->clients());
        ASSERT_TRUE(!launch.seat || pointer->ready());
        AdServerProcess server;
        auto environment = phoc->clients();
        environment.insert(environment.end(), launch.environment.begin(), launch.environment.end());
        auto app = start(server, environment);
        if (launch.status) {
            EXPECT_EQ(app->end(false, 30), launch.status);
            EXPECT_NE(app->log().find(launch.says), std::string::npos) << app->log();
            EXPECT_EQ(server.counter("ads"), 0);
            continue;
        }
        EXPECT_TRUE(spinUntil([&] { return !app->up() || server.counter("imp") >= 1; }, 30)) << app->log();
        EXPECT_EQ(app->end(), std::optional<int>(0)) << app->log();
    }
}

}  // namespace
