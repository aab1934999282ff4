// The tab application on the sim backend: what each screen loads, how the
// polling timers drive the spinners and the status bar indicator, and the
// orientations the screens accept. (Where the program finds its resources is
// the launch and install tests'.)
#include "Classes/Constants.h"
#include "Classes/Mensajes.h"
#include "Classes/Screens.h"
#include "platform/ApplicationMain.h"
#include "platform/Button.h"
#include "platform/InterfaceFile.h"
#include "platform/TabBarController.h"
#include "platform/Window.h"
#include "unit/support/SimTest.h"

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
        ASSERT_TRUE(platform::launchApplication("MainWindow"));
        tabs = std::dynamic_pointer_cast<platform::TabBarController>(platform::Window::keyWindow()->rootViewController());
        first = std::dynamic_pointer_cast<FirstViewController>(tabs->viewControllers()[0]);
        third = std::dynamic_pointer_cast<ThirdViewController>(tabs->viewControllers()[1]);
        fourth = std::dynamic_pointer_cast<FourthViewController>(tabs->viewControllers()[2]);
        sim().runUntilIdle();
    }
    void TearDown() override {
        platform::ApplicationLifecycle::shared().reset();
        platform::InterfaceFile::setSearchDirectory("");
        SimTest::TearDown();
    }
    static SimWebViewPeer& peer(const std::shared_ptr<platform::WebView>& web) { return *SimWebViewPeer::of(*web); }
    static int loadsOf(const std::shared_ptr<platform::WebView>& web, const std::string& address) {
        int n = 0;
        for (auto& l : peer(web).loads()) n += l.request.url.absoluteString() == address;
        return n;
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

TEST_F(MensajesTest, ScreensGoneMeanTheirTimersFallSilent) {
    tabs.reset();
    first.reset();
    platform::ApplicationLifecycle::shared().reset();
    sim().advance(3.0);  // no tick may reach the destroyed screen
    EXPECT_FALSE(sim().application().isNetworkActivityIndicatorVisible());
}

}  // namespace
