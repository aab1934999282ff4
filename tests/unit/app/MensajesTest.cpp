// The tab application on the sim backend: what each screen loads, how the
// polling timers drive the spinners and the status bar indicator, the
// orientations the screens accept, and the layout on a larger screen.
#include "Classes/Constants.h"
#include "Classes/Mensajes.h"
#include "Classes/Screens.h"
#include "View/ZELBannerView.h"
#include "platform/ApplicationLifecycle.h"
#include "platform/Button.h"
#include "platform/InterfaceFile.h"
#include "platform/TabBarController.h"
#include "platform/Window.h"
#include "unit/support/SimTest.h"

#include <nlohmann/json.hpp>

namespace {

using platform::InterfaceOrientation;
using platform::sim::SimWebViewPeer;

class MensajesTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        platform::ApplicationLifecycle::shared().reset();
        mensajes::registerClasses();
        platform::InterfaceFile::setSearchDirectory(MENSAJES_RESOURCES_DIR);
        // The banners' requests: the parameters each hands the support script.
        sim().http().route("http://127.0.0.1:8090/ruma/sdk-core-v40.js",
                           platform::sim::SimResponse::ok("function RUMA_buildAdURL(p){}"));
        sim().web().setPageBehaviour(
            [this](SimWebViewPeer&, const platform::sim::SimWebLoad& load) { recordRequest(load.html); });
        sim().web().setScriptBehaviour([this](SimWebViewPeer&, const std::string& script) { recordRequest(script); });
        sim().mainScreen().setBounds(screen);
        ASSERT_TRUE(platform::launchApplication("MainWindow"));
        // The window system gives the window the screen before anything runs.
        platform::Window::keyWindow()->setFrame(screen);
        tabs =
            std::dynamic_pointer_cast<platform::TabBarController>(platform::Window::keyWindow()->rootViewController());
        first = std::dynamic_pointer_cast<FirstViewController>(tabs->viewControllers()[0]);
        third = std::dynamic_pointer_cast<ThirdViewController>(tabs->viewControllers()[1]);
        fourth = std::dynamic_pointer_cast<FourthViewController>(tabs->viewControllers()[2]);
        sim().runUntilIdle();
    }
    void recordRequest(const std::string& text) {
        // The call follows the script that defines the function.
        const std::string call = "RUMA_buildAdURL(";
        const size_t start = text.rfind(call);
        if (start == std::string::npos) return;
        const size_t end = text.rfind(')', text.find("</script>", start));
        auto parameters =
            nlohmann::json::parse(text.substr(start + call.size(), end - start - call.size()), nullptr, false);
        if (parameters.is_object()) requests.push_back(std::move(parameters));
    }
    // Where the banner of the last request was, and on what screen.
    std::vector<double> lastFrame() const {
        const auto& f = requests.back()["ad_frame"];
        return {f.value("x", -1.0), f.value("y", -1.0), f.value("w", -1.0), f.value("h", -1.0)};
    }
    std::string lastScreen() const {
        return requests.back().value("u_w", "?") + " x " + requests.back().value("u_h", "?");
    }
    platform::Rect screen{0, 0, 320, 480};
    std::vector<nlohmann::json> requests;
    void TearDown() override {
        platform::ApplicationLifecycle::shared().reset();
        platform::InterfaceFile::setSearchDirectory("");
        SimTest::TearDown();
    }
    static SimWebViewPeer& peer(const std::shared_ptr<platform::WebView>& web) { return *SimWebViewPeer::of(*web); }
    static int loadsOf(const std::shared_ptr<platform::WebView>& web, const std::string& address) {
        return int(std::ranges::count_if(peer(web).loads(),
                                         [&](const auto& l) { return l.request.url.absoluteString() == address; }));
    }
    std::shared_ptr<platform::TabBarController> tabs;
    std::shared_ptr<FirstViewController> first;
    std::shared_ptr<ThirdViewController> third;
    std::shared_ptr<FourthViewController> fourth;
};

// The polling timers turn each web screen's spinner while its page loads;
// only the first screen shows the status bar's indicator with it. Every
// appearance loads the page again, no screen turns, and help writes to the
// author.
TEST_F(MensajesTest, TheTabsThroughTheirPagesRotationAndHelp) {
    auto& app = sim().application();
    sim().advance(1.0);
    EXPECT_TRUE(first->cargando->isAnimating() && app.isNetworkActivityIndicatorVisible());
    peer(first->webView).failLoad({platform::kURLErrorDomain, platform::kURLErrorNotConnectedToInternet, "offline"});
    sim().advance(1.0);
    EXPECT_FALSE(first->cargando->isAnimating() || app.isNetworkActivityIndicatorVisible());
    const int shows = app.networkIndicatorShowCount();
    tabs->setSelectedIndex(2);
    sim().runUntilIdle();
    sim().advance(1.0);
    EXPECT_TRUE(fourth->activado->isAnimating());
    peer(fourth->webView3).finishLoad();
    sim().advance(1.0);
    EXPECT_FALSE(fourth->activado->isAnimating());
    EXPECT_EQ(app.networkIndicatorShowCount(), shows);
    for (size_t tab : {1, 0, 1, 0}) tabs->setSelectedIndex(tab);
    for (const std::shared_ptr<platform::ViewController>& screen : tabs->viewControllers())
        for (auto o : {InterfaceOrientation::PortraitUpsideDown, InterfaceOrientation::LandscapeLeft,
                       InterfaceOrientation::LandscapeRight}) {
            EXPECT_FALSE(screen->shouldAutorotateToInterfaceOrientation(o));
            EXPECT_FALSE(platform::Window::keyWindow()->deviceDidRotate(o));
        }
    EXPECT_EQ(loadsOf(first->webView, mensajes::kFirstPageAddress), 3);
    EXPECT_EQ(loadsOf(third->webView2, mensajes::kThirdPageAddress), 2);
    tabs->setSelectedIndex(3);
    auto ayuda = std::dynamic_pointer_cast<AyudaViewController>(tabs->selectedViewController());
    std::shared_ptr<platform::Button> mail;
    for (auto& v : ayuda->scrollview->subviews())
        if (auto b = std::dynamic_pointer_cast<platform::Button>(v)) mail = b;
    ASSERT_TRUE(mail);
    mail->touchDown();
    mail->touchUp(true);
    ASSERT_EQ(app.openedURLs().size(), 1u);
    EXPECT_EQ(app.openedURLs()[0].absoluteString(), mensajes::kContactAddress);
}

class MensajesOnAPhoneTest : public MensajesTest {
protected:
    void SetUp() override {
        screen = platform::Rect(0, 0, 360, 720);
        MensajesTest::SetUp();
    }
};

// A larger screen: the pages grow, the tab bar stays at the bottom at full
// width, the 320 x 50 banner sits in the middle of the strip right above it
// (on every banner screen, also one first shown later), the help follows its
// width, and the requests tell where the banner is.
TEST_F(MensajesOnAPhoneTest, TheScreensFollowTheirMasksAndTheRequestsTheBanner) {
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(lastFrame(), (std::vector<double>{20, 601, 320, 50}));
    EXPECT_EQ(lastScreen(), "360 x 720");
    tabs->setSelectedIndex(2);
    sim().runUntilIdle();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(lastFrame(), (std::vector<double>{20, 601, 320, 50}));
    tabs->setSelectedIndex(3);
    auto ayuda = std::dynamic_pointer_cast<AyudaViewController>(tabs->selectedViewController());
    const auto& help = ayuda->scrollview->subviews();  // title, text, contact line, mail button
    ASSERT_EQ(help.size(), 4u);
    using platform::Rect;
    const std::pair<std::shared_ptr<platform::View>, Rect> frames[] = {
        {tabs->view(), Rect(0, 20, 360, 700)},      {tabs->tabBar(), Rect(0, 651, 360, 49)},
        {first->view(), Rect(0, 0, 360, 651)},      {first->webView, Rect(0, 0, 360, 601)},
        {first->banner(), Rect(20, 601, 320, 50)},  {fourth->webView3, Rect(0, 0, 360, 601)},
        {fourth->banner(), Rect(20, 601, 320, 50)}, {ayuda->scrollview, Rect(0, 0, 360, 651)},
        {help.front(), Rect(20, 16, 320, 30)},      {help.back(), Rect(80, 398, 200, 40)},
    };
    for (const auto& [view, frame] : frames) {
        ASSERT_TRUE(view);
        EXPECT_EQ(view->frame(), frame) << view->frame().x() << " " << view->frame().y() << " " << view->frame().width()
                                        << " " << view->frame().height();
    }
}

// Launched again with the support script kept from the first run, a banner
// builds its request at once: still from where it is shown, not from where
// its screen's interface file put it.
TEST_F(MensajesOnAPhoneTest, TheFirstRequestWithAKeptScriptTellsWhereTheBannerIs) {
    ASSERT_EQ(requests.size(), 1u);
    tabs.reset();
    first.reset();
    third.reset();
    fourth.reset();
    platform::ApplicationLifecycle::shared().reset();
    sim().runUntilIdle();
    ASSERT_TRUE(platform::launchApplication("MainWindow"));
    platform::Window::keyWindow()->setFrame(screen);
    sim().runUntilIdle();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(lastFrame(), (std::vector<double>{20, 601, 320, 50}));
}

TEST_F(MensajesTest, ScreensGoneMeanTheirTimersFallSilent) {
    tabs.reset();
    first.reset();
    platform::ApplicationLifecycle::shared().reset();
    sim().advance(3.0);  // no tick may reach the destroyed screen
    EXPECT_FALSE(sim().application().isNetworkActivityIndicatorVisible());
}

}  // namespace
