#include "View/ZELWebViewDelegate.h"

#include <cstdint>
#include <cstdlib>

#include "Network/ZELClickTracker.h"
#include "Notification/ZELNotification.h"
#include "Notification/ZELNotificationCenter.h"
#include "Opener/ZELOpener.h"
#include "Utility/ZELIdentifierUtilities.h"
#include "Utility/ZELNetworkUtilities.h"
#include "ViewController/ZELFullScreenAdScreen.h"
#include "platform/Application.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "platform/Services.h"
#include "platform/ViewController.h"
#include "signals/Signals.h"

namespace {

std::optional<std::string> stringParameter(const std::optional<platform::Dictionary>& parameters,
                                           const std::string& key) {
    if (!parameters) return std::nullopt;
    auto it = parameters->find(key);
    if (it == parameters->end()) return std::nullopt;
    if (const std::string* s = it->second.asString()) return *s;
    return it->second.textForm();
}

std::vector<std::string> splitAtCommas(const std::string& text) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        pieces.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return pieces;
}

}  // namespace

ZELWebViewDelegate::ZELWebViewDelegate() : opener_(std::make_unique<ZELOpener>()) {}

ZELWebViewDelegate::~ZELWebViewDelegate() = default;

void ZELWebViewDelegate::loadedFirstPage(platform::WebView&) {}

void ZELWebViewDelegate::webViewDidStartLoad(platform::WebView&) {}

void ZELWebViewDelegate::webViewDidFailLoadWithError(platform::WebView&, const platform::Error&) {}

void ZELWebViewDelegate::webViewDidFinishLoad(platform::WebView& webView) {
    notifyWebViewOfOrientationChange(webView, platform::Application::shared().statusBarOrientation());
    if (!hasLoadedAtLeastOnce_) {
        hasLoadedAtLeastOnce_ = true;
        loadedFirstPage(webView);
    }
}

void ZELWebViewDelegate::postWebAction(platform::WebView& webView, const platform::Dictionary& action) {
    platform::NotificationCenter::defaultCenter().post(ZELWebViewDelegateDidReceiveWebAction, &webView,
                                                       platform::Value(action));
}

bool ZELWebViewDelegate::webViewShouldStartLoadWithRequest(platform::WebView& webView,
                                                           const platform::URLRequest& request,
                                                           platform::NavigationType type) {
    const platform::URL& url = request.url;
    const std::string scheme = platform::toLowerASCII(url.scheme());

    ZELNetworkUtilities::setUserAgentString(request.valueForHTTPHeaderField("User-Agent"));
    opener_->setViewController(viewController_);
    opener_->setOpeningWebView(std::static_pointer_cast<platform::WebView>(webView.weak_from_this().lock()));

    platform::Dictionary action{{"u", platform::Value(url.absoluteString())}};

    if (ZELNotification::isNotificationURL(url)) {
        handleMessage(webView, url, action);
        return false;  // a message URL is never loaded
    }

    const bool unreported = type == platform::NavigationType::Other && url.path().size() < 2;
    if (!unreported) postWebAction(webView, action);

    if (scheme == "mailto") {
        opener_->openEmailComposer(url);
        return false;
    }
    if (scheme == "file") return false;
    if (scheme == "about" || scheme == "http" || scheme == "https") return true;
    opener_->openApp(url);
    return false;
}

bool ZELWebViewDelegate::handleMessage(platform::WebView& webView, const platform::URL& url,
                                       platform::Dictionary& action) {
    auto message = ZELNotification::notificationFromURL(url);
    // A message URL that yields no message has no name: refused, not reported.
    if (!message) return false;
    const std::string& name = message->name();
    action["a"] = platform::Value(name);
    postWebAction(webView, action);

    const auto& parameters = message->parameters();
    if (name == "click") {
        trackURLString(stringParameter(parameters, "u"), true);
    } else if (name == kZELMessageClose) {
        if (auto screen = std::dynamic_pointer_cast<ZELFullScreenAdScreen>(viewController())) screen->relinquishScreen();
    } else if (name == "httpTrack") {
        trackURLString(stringParameter(parameters, "u"), false);
    } else if (name == "log") {
        platform::log(stringParameter(parameters, "string").value_or(""));
    } else if (name == kZELMessageOpen) {
        opener_->openNotification(*message);
    } else if (name == "touch") {
        processTouchSignals(parameters.value_or(platform::Dictionary()));
    } else if (name == "vibrate") {
        platform::playSystemSound(platform::kSystemSoundVibrate);
    } else if (name == "canOpenURLs") {
        auto urls = stringParameter(parameters, "urls");
        processCanOpenURLs(urls ? splitAtCommas(*urls) : std::vector<std::string>(), webView);
    } else if (name == "evalInOpener") {
        if (!openingWebView()) return true;
        auto script = stringParameter(parameters, "js").value_or("");
        // Never from inside the navigation decision: on a later turn, and only
        // while this delegate and the asking web view are still alive.
        std::weak_ptr<platform::View> weakAsking = webView.weak_from_this();
        platform::RunLoop::main().postTask(weakFactory_.getWeakPtr(), [weakAsking, script](ZELWebViewDelegate& self) {
            if (auto asking = std::dynamic_pointer_cast<platform::WebView>(weakAsking.lock()))
                self.evaluateJavaScriptInOpener(script, *asking);
        });
    } else {
        // The sender travels weakly: a message from a web view destroyed
        // meanwhile must not reach observers of a new one at its address.
        ZELNotificationCenter::defaultCenter().postNotificationFromURL(
            url, std::weak_ptr<const void>(webView.weak_from_this()), 0.0);
    }
    return true;
}

void ZELWebViewDelegate::evaluateJavaScriptInOpener(const std::string& script, platform::WebView& askingWebView) {
    auto opening = openingWebView();
    if (!opening) return;
    std::weak_ptr<platform::View> weakAsking = askingWebView.weak_from_this();
    opening->evaluateJavaScript(script, [weakAsking](std::optional<std::string> result) {
        auto asking = std::dynamic_pointer_cast<platform::WebView>(weakAsking.lock());
        if (!asking) return;
        ZELNotificationCenter::postJSNotification(
            "evalJavaScriptInOpenerResult", platform::Dictionary{{"result", platform::Value(result.value_or(""))}},
            *asking);
    });
}

void ZELWebViewDelegate::processCanOpenURLs(const std::vector<std::string>& urls, platform::WebView& webView) {
    auto answer = ZELIdentifierUtilities::sharedInstance().canOpenURLs(urls);
    ZELNotificationCenter::postJSNotification("openableURLs", answer, webView);
}

void ZELWebViewDelegate::trackURLString(const std::optional<std::string>& urlString, bool appendSpamSignals) {
    if (!tracker_) tracker_ = ZELClickTracker::create();
    // A message without "u" has nothing to track.
    if (!urlString) return;
    auto url = platform::URL::parse(*urlString);
    if (!url) return;
    if (appendSpamSignals) {
        if (auto ai = ZELNetworkUtilities::parameterValueForKey("ai", *url)) {
            std::string signals;
            if (zel_gmcs(*ai, signals)) {
                if (auto withSignals = ZELNetworkUtilities::appendQueryKey(signals, std::nullopt, *url)) url = withSignals;
            }
        }
    }
    tracker_->trackURL(url);
}

int ZELWebViewDelegate::intForKey(const std::string& key, const platform::Dictionary& dictionary) {
    auto it = dictionary.find(key);
    if (it == dictionary.end()) return -1;
    auto text = it->second.textForm();
    // intValue: leading integer digits, 0 when there are none.
    if (!text) return 0;
    long value = std::strtol(text->c_str(), nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int>(value);
}

void ZELWebViewDelegate::processTouchSignals(const platform::Dictionary& parameters) {
    zel_htg(intForKey("tx", parameters), intForKey("ty", parameters), intForKey("td", parameters));
}

void ZELWebViewDelegate::notifyWebViewOfOrientationChange(platform::WebView& webView,
                                                          platform::InterfaceOrientation orientation) {
    int angle;
    switch (orientation) {
        case platform::InterfaceOrientation::Portrait: angle = 0; break;
        case platform::InterfaceOrientation::PortraitUpsideDown: angle = 180; break;
        case platform::InterfaceOrientation::LandscapeRight: angle = 90; break;
        case platform::InterfaceOrientation::LandscapeLeft: angle = -90; break;
        default: return;
    }
    webView.evaluateJavaScript("window.__defineGetter__('orientation',function(){return " + std::to_string(angle) +
                               ";});window.onorientationchange();");
}
