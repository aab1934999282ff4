#include "Opener/ZELOpener.h"

#include "Browser/ZELBrowserController.h"
#include "Delegate/ZELDelegateManager.h"
#include "Notification/ZELNotification.h"
#include "Object/ZELObjectPrivate.h"
#include "Statistics/ZELStatistics.h"
#include "View/ZELWebView.h"
#include "platform/Application.h"
#include "platform/RunLoop.h"
#include "platform/Services.h"

namespace {

std::optional<std::string> parameter(const ZELNotification& message, const char* key) {
    const auto& parameters = message.parameters();
    if (!parameters) return std::nullopt;
    auto it = parameters->find(key);
    if (it == parameters->end()) return std::nullopt;
    if (const std::string* text = it->second.asString()) return *text;
    return it->second.textForm();
}

}  // namespace

ZELOrientationSetting ZELOpener::orientationFromCode(const std::optional<std::string>& code) {
    if (code == "p") return kZELOrientationPortrait;
    if (code == "l") return kZELOrientationLandscape;
    return kZELOrientationAny;
}

bool ZELOpener::mayOpenFromAd() const {
    auto controller = adController_.lock();
    // Screens opened by a tap open what their pages ask for.
    if (!controller) return true;
    return controller->mayOpenForUser();
}

void ZELOpener::openNotification(const ZELNotification& message) {
    const auto action = parameter(message, "a");
    const auto text = parameter(message, "u");
    const std::optional<platform::URL> url = text ? platform::URL::parse(*text) : std::nullopt;
    const auto html = parameter(message, "html");
    if (!url && !(html && action == "webapp")) return;
    if (!mayOpenFromAd()) return;
    const ZELOrientationSetting orientations = orientationFromCode(parameter(message, "o"));
    // Every "open" is a click, counted and rewritten by the statistics.
    const auto clickURL = ZELStatistics::sharedStatistics()->urlForClick(url);
    if (action == "browser" || action == "video") {
        openBrowserToURL(clickURL, orientations);
    } else if (action == "webapp") {
        if (clickURL) {
            openWebApp(clickURL, orientations);
        } else {
            openWebAppWithHTML(html, orientations);
        }
    } else {
        openApp(clickURL);
    }
}

void ZELOpener::openBrowserToURL(const std::optional<platform::URL>& url, ZELOrientationSetting supportedOrientations) {
    auto controller = viewController();
    if (!controller || !url || !mayOpenFromAd()) return;
    auto browser = ZELBrowserController::init();
    browser->setSupportedOrientations(supportedOrientations);
    browser->setOpeningWebView(openingWebView_);
    browser->load(url, referringURL_);
    browser->setDelegateManager(delegateManager_);
    // The screen keeps itself while it is up.
    browser->presentFromViewController(controller);
    didOpen();
}

// The web-app screen arrives with the next destinations.
void ZELOpener::openWebApp(const std::optional<platform::URL>&, ZELOrientationSetting) {}

void ZELOpener::openWebAppWithHTML(const std::optional<std::string>&, ZELOrientationSetting) {}

void ZELOpener::openApp(const std::optional<platform::URL>& url) {
    if (!url || !mayOpenFromAd()) return;
    didOpen();
    if (delegateManager_) delegateManager_->willLeaveApplication();
    // On the next turn: never from inside the page's navigation decision.
    platform::RunLoop::main().postDelayedTask(0, [url = *url] {
        if (!platform::Application::shared().openURL(url))
            platform::log("<Nimbra> No application opens " + url.absoluteString());
    });
}

void ZELOpener::openEmailComposer(const std::optional<platform::URL>&) {}

void ZELOpener::didOpen() {
    if (auto controller = adController_.lock()) controller->trackURLs(controller->pendingClickURLs());
}
