// The application starts on the desktop backend with its four tabs and shows
// the bundled page.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "Classes/Mensajes.h"
#include "Classes/Screens.h"
#include "integration/support/GtkTestEnvironment.h"
#include "platform/ApplicationMain.h"
#include "platform/InterfaceFile.h"
#include "platform/TabBarController.h"
#include "platform/Window.h"

namespace {

using nimbra::test::spinFor;
using nimbra::test::spinUntil;

TEST(MensajesAppTest, StartsWithFourTabsAndShowsTheBundledPage) {
    nimbra::test::gtkBackend();
    mensajes::registerClasses();
    platform::InterfaceFile::setSearchDirectory(MENSAJES_RESOURCES_DIR);
    std::string error;
    ASSERT_TRUE(platform::launchApplication("MainWindow", &error)) << error;
    EXPECT_EQ(platform::ApplicationLifecycle::shared().state(), platform::ApplicationState::Active);

    auto window = platform::Window::keyWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->frame(), platform::Rect(0, 0, 320, 480));
    auto tabs = std::dynamic_pointer_cast<platform::TabBarController>(window->rootViewController());
    ASSERT_TRUE(tabs);
    ASSERT_EQ(tabs->viewControllers().size(), 4u);
    std::vector<std::string> titles;
    for (auto& b : tabs->tabBar()->buttons()) titles.push_back(b->title());
    EXPECT_EQ(titles, (std::vector<std::string>{"SMS Aurora", "SMS Web", "Sin conexión", "Ayuda"}));
    EXPECT_EQ(tabs->view()->frame(), platform::Rect(0, 20, 320, 460));

    // The tab is chosen by a tap on its button, as a person would.
    tabs->tabBar()->buttons()[2]->touchDown();
    tabs->tabBar()->buttons()[2]->touchUp(true);
    auto fourth = std::dynamic_pointer_cast<FourthViewController>(tabs->selectedViewController());
    ASSERT_TRUE(fourth);
    ASSERT_TRUE(fourth->webView3);
    EXPECT_TRUE(fourth->webView3->isLoading());
    EXPECT_EQ(fourth->webView3->frame(), platform::Rect(0, 0, 320, 361));
    ASSERT_TRUE(spinUntil(
        [&] {
            auto r = fourth->webView3->request();
            return r && r->url.absoluteString().ends_with("auroramovil.html") && !fourth->webView3->isLoading();
        },
        20));
    std::optional<std::string> title;
    fourth->webView3->evaluateJavaScript("document.title", [&](std::optional<std::string> t) { title = t; });
    ASSERT_TRUE(spinUntil([&] { return title.has_value(); }, 10));
    EXPECT_EQ(*title, "Aurora Móvil · Mensajes");
    // The polling timers stop the spinner once the page is idle.
    ASSERT_TRUE(spinUntil([&] { return !fourth->activado->isAnimating(); }, 5));

    if (const char* shot = std::getenv("NIMBRA_SCREENSHOT")) {
        spinFor(1.5);
        std::string command = std::string("xwd -root -silent | convert xwd:- -crop 320x480+0+0 png:") + shot;
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
}

}  // namespace
