#include "WebView/ZELWebViewDelegate.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "Network/ZELClickTracker.h"
#include "Notification/ZELNotification.h"
#include "Notification/ZELNotificationCenter.h"
#include "Opener/ZELOpener.h"
#include "Utility/ZELIdentifierUtilities.h"
#include "Utility/ZELLogText.h"
#include "Utility/ZELNetworkUtilities.h"
#include "WebView/ZELUserActivation.h"
#include "WebView/ZELWebView.h"
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

ZELWebViewDelegate::ZELWebViewDelegate(ZELMessageScope scope)
    : scope_(scope), opener_(std::make_unique<ZELOpener>(*this)) {}

ZELWebViewDelegate::~ZELWebViewDelegate() = default;

bool ZELWebViewDelegate::scopeAllows(ZELMessageScope scope, std::string_view name) {
    static constexpr std::string_view kRequestPage[] = {kZELMessageLoadAdURL, kZELMessageInvalidRequest,
                                                        kZELMessageUnableToServe, "log"};
    static constexpr std::string_view kAd[] = {"click",         kZELMessageClose, "httpTrack", "log",
                                               kZELMessageOpen, "touch",          "vibrate",   "canOpenURLs"};
    const auto in = [name](const auto& list) {
        return std::find(std::begin(list), std::end(list), name) != std::end(list);
    };
    const bool known = in(kRequestPage) || in(kAd) || name == "evalInOpener";
    switch (scope) {
    case ZELMessageScope::RequestPage: return in(kRequestPage);
    case ZELMessageScope::Banner: return in(kAd) || !known;
    case ZELMessageScope::WebApp: return in(kAd) || name == "evalInOpener" || !known;
    case ZELMessageScope::None: break;
    }
    return false;
}

void ZELWebViewDelegate::setOpeningWebView(std::weak_ptr<platform::WebView> webView) {
    openingWebView_ = webView;
    // What this page opens comes from the same ad.
    opener_->setOpeningWebView(std::move(webView));
}

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

ZELUserActivation* ZELWebViewDelegate::activation() const {
    // Only the component's ad views hold one: the request page never opens anything.
    auto view = std::dynamic_pointer_cast<ZELWebView>(servedView_.lock());
    return view ? &view->userActivation() : nullptr;
}

bool ZELWebViewDelegate::mayOpen() {
    auto* userActivation = activation();
    return userActivation && userActivation->isActive();
}

void ZELWebViewDelegate::useActivation() {
    if (auto* userActivation = activation()) userActivation->use();
}

bool ZELWebViewDelegate::shouldLogRefusal() {
    if (auto* userActivation = activation()) return userActivation->noteRefusal();
    return !std::exchange(refusalLogged_, true);
}

void ZELWebViewDelegate::noteUserGesture(platform::WebView& webView) {
    servedView_ = webView.weak_from_this();
    if (!webView.navigationHasUserGesture()) return;
    if (auto* userActivation = activation()) userActivation->grantForGesture();
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
    noteUserGesture(webView);

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

void ZELWebViewDelegate::handleMessage(platform::WebView& webView, const platform::URL& url,
                                       platform::Dictionary& action) {
    auto message = ZELNotification::notificationFromURL(url);
    // A message URL that yields no message has no name: refused, not reported.
    if (!message) return;
    const std::string& name = message->name();
    if (!scopeAllows(scope_, name)) {
        if (!std::exchange(messageRefusalLogged_, true))
            platform::log("<Nimbra> A page sent a message its view does not take (" + ZELLogText::printable(name) +
                          "); refused.");
        return;
    }
    action["a"] = platform::Value(name);
    postWebAction(webView, action);

    const auto& parameters = message->parameters();
    if (name == "click") {
        trackURLString(stringParameter(parameters, "u"), true);
    } else if (name == kZELMessageClose) {
        if (auto screen = std::dynamic_pointer_cast<ZELFullScreenAdScreen>(viewController()))
            screen->relinquishScreen();
    } else if (name == "httpTrack") {
        trackURLString(stringParameter(parameters, "u"), false);
    } else if (name == "log") {
        platform::log(ZELLogText::printable(stringParameter(parameters, "string").value_or("")));
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
        if (!openingWebView()) return;
        auto script = stringParameter(parameters, "js").value_or("");
        // Never from inside the navigation decision: on a later turn, and only
        // while this delegate and the asking web view are still alive.
        std::weak_ptr<platform::View> weakAsking = webView.weak_from_this();
        platform::RunLoop::main().postTask(weakFactory_.getWeakPtr(), [weakAsking, script](ZELWebViewDelegate& self) {
            if (auto asking = std::dynamic_pointer_cast<platform::WebView>(weakAsking.lock()))
                self.evaluateJavaScriptInOpener(script, *asking);
        });
    } else {
        receiveMessage(webView, url, *message);
    }
}

void ZELWebViewDelegate::receiveMessage(platform::WebView& webView, const platform::URL& url, const ZELNotification&) {
    // To the component's own center, never the platform's: a page must not
    // speak for the platform or for the component's screens. The sender
    // travels weakly: a message from a web view destroyed meanwhile must not
    // reach observers of a new one at its address.
    ZELNotificationCenter::defaultCenter().postNotificationFromURL(
        url, std::weak_ptr<const void>(webView.weak_from_this()), 0.0);
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
    // Not a way to list what is installed: only the schemes an ad may be
    // handed to are asked about, and only so many.
    std::vector<std::string> asked;
    platform::Dictionary answer;
    for (const std::string& text : urls) {
        if (answer.size() + asked.size() >= kMaxCanOpenURLs) break;
        const auto url = platform::URL::parse(text);
        if (url && ZELOpener::mayHandToDesktop(url->scheme())) asked.push_back(text);
        else answer[text] = platform::Value(false);
    }
    for (auto& [text, openable] : ZELIdentifierUtilities::sharedInstance().canOpenURLs(asked)) answer[text] = openable;
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
                if (auto withSignals = ZELNetworkUtilities::appendQueryKey(signals, std::nullopt, *url))
                    url = withSignals;
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
