#pragma once
// mensajes in this process against nimbra-adserver, with real pointer taps on
// its first tab's banner (the X test extension on the virtual display).

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Classes/Mensajes.h"
#include "Classes/Screens.h"
#include "Object/ZELObjectPrivate.h"
#include "View/ZELBannerView.h"
#include "View/ZELWebView.h"
#include "ViewController/ZELViewController.h"
#include "integration/banner/BannerSupport.h"
#include "integration/support/XInput.h"
#include "platform/Application.h"
#include "platform/InterfaceFile.h"
#include "platform/TabBarController.h"
#include "platform/Window.h"

namespace banner_test {

using adserver_test::AdServerProcess;
using nimbra::test::spinFor;
using nimbra::test::spinUntil;

class MensajesTap : public ::testing::Test {
protected:
    static constexpr double kRefreshSeconds = 3;
    // The creatives the server's plain ads take turns with.
    virtual std::string creatives() const = 0;

    void SetUp() override {
        nimbra::test::gtkBackend();
        platform::ApplicationLifecycle::shared().reset();
        ZELObjectPrivate::resetProcessState();
        server = std::make_unique<AdServerProcess>(std::vector<std::string>{
            "--refresh-rate", std::to_string(int(kRefreshSeconds)), "--creatives", creatives()});
        ASSERT_TRUE(server->ok()) << "nimbra-adserver did not start";
        environment = std::make_unique<ServerEnvironment>(server->origin(), server->origin());
        mensajes::registerClasses();
        platform::InterfaceFile::setSearchDirectory(MENSAJES_RESOURCES_DIR);
        std::string error;
        ASSERT_TRUE(platform::launchApplication("MainWindow", &error)) << error;
        window = platform::Window::keyWindow();
        ASSERT_TRUE(window);
        tabs = std::dynamic_pointer_cast<platform::TabBarController>(window->rootViewController());
        ASSERT_TRUE(tabs);
        first = std::dynamic_pointer_cast<FirstViewController>(tabs->selectedViewController());
        ASSERT_TRUE(first && first->banner());
        if (!input.available()) GTEST_SKIP() << "no X display with the test extension";
    }
    void TearDown() override {
        if (tabs) tabs->dismissModalViewControllerAnimated(false);
        first.reset();
        tabs.reset();
        if (window) window->setHidden(true);
        window.reset();
        spinFor(0.2);
        environment.reset();
        server.reset();
        platform::ApplicationLifecycle::shared().reset();
        forgetVisitorCookie();
    }

    std::shared_ptr<ZELBannerView> banner() const { return first->banner(); }
    // The ad screen over the application, if it is of that kind.
    template <typename Screen>
    std::shared_ptr<Screen> screen() const {
        return std::dynamic_pointer_cast<Screen>(tabs->modalViewController());
    }
    // Waits for a shown ad of the given number, then taps it as a person would.
    void tapAdNumber(int number) {
        const std::string label = "Ad #" + std::to_string(number);
        ASSERT_TRUE(spinUntil(
            [&] {
                if (banner()->getPrivate()->state() != kZELStateShown) return false;
                auto text = visibleText(*banner()->webView());
                return text && text->find(label) != std::string::npos;
            },
            kAdTimeout))
            << "no " << label << " on the first tab";
        spinFor(0.3);  // a tap in the ad's first moment is no click
        ASSERT_TRUE(input.clickAt(*banner(), 160, 25));
    }
    // An ad screen comes up and shows a page whose address holds the text.
    template <typename Screen>
    std::shared_ptr<Screen> waitForScreenShowing(const std::string& page) {
        std::shared_ptr<Screen> shown;
        spinUntil(
            [&] {
                shown = screen<Screen>();
                if (!shown || !shown->webView() || shown->webView()->isLoading()) return false;
                auto request = shown->webView()->request();
                return request && request->url.absoluteString().find(page) != std::string::npos;
            },
            kAdTimeout);
        return shown;
    }
    // Taps a control of a screen, as a person would once it is all the way up,
    // and waits for the screen to go.
    void tapToClose(ZELViewController& shown, const platform::View& control) {
        ASSERT_TRUE(spinUntil([&] { return shown.view()->isUserInteractionEnabled(); }, 5));
        ASSERT_TRUE(input.clickAt(control, control.bounds().width() / 2, control.bounds().height() / 2));
        ASSERT_TRUE(spinUntil([&] { return !tabs->modalViewController(); }, 10)) << "the screen stayed up";
    }
    void screenshot(const char* variable) {
        const char* shot = std::getenv(variable);
        if (!shot) return;
        nimbra::test::spinFor(1.0);
        std::string command = std::string("xwd -root -silent | convert xwd:- -crop 320x480+0+0 png:") + shot;
        EXPECT_EQ(std::system(command.c_str()), 0);
    }

    std::unique_ptr<AdServerProcess> server;
    std::unique_ptr<ServerEnvironment> environment;
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<platform::TabBarController> tabs;
    std::shared_ptr<FirstViewController> first;
    nimbra::test::XInput input;
};

}  // namespace banner_test
