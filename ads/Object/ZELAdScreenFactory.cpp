#include "Object/ZELAdScreenFactory.h"

#include "Browser/ZELBrowserController.h"
#include "WebApp/ZELWebAppViewController.h"

namespace {

std::shared_ptr<ZELWebAppViewController> webAppScreen(const ZELScreenSettings& settings,
                                                      const ZELScreenFactory& factory) {
    auto screen = ZELWebAppViewController::init();
    screen->setSupportedOrientations(settings.orientations);
    screen->setOpeningWebView(settings.openingWebView);
    screen->setDelegateManager(settings.delegateManager);
    // Its page may open screens of its own.
    screen->setScreenFactory(&factory);
    return screen;
}

}  // namespace

const ZELAdScreenFactory& ZELAdScreenFactory::shared() {
    static const auto* factory = new ZELAdScreenFactory();
    return *factory;
}

std::shared_ptr<ZELViewController> ZELAdScreenFactory::browser(const platform::URL& url,
                                                               const std::optional<platform::URL>& referrer,
                                                               const ZELScreenSettings& settings) const {
    auto browser = ZELBrowserController::init();
    browser->setSupportedOrientations(settings.orientations);
    browser->setOpeningWebView(settings.openingWebView);
    browser->load(url, referrer);
    browser->setDelegateManager(settings.delegateManager);
    return browser;
}

std::shared_ptr<ZELViewController> ZELAdScreenFactory::webApp(const platform::URL& url,
                                                              const ZELScreenSettings& settings) const {
    auto screen = webAppScreen(settings, *this);
    screen->load(url);
    return screen;
}

std::shared_ptr<ZELViewController> ZELAdScreenFactory::webAppWithHTML(const std::string& html,
                                                                      const ZELScreenSettings& settings) const {
    auto screen = webAppScreen(settings, *this);
    screen->loadHTML(html, std::nullopt);
    return screen;
}
