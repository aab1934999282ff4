#pragma once
// Sends what an ad asks to open where it belongs: the in-app browser, the
// web-app screen, the mail composer or another application. Nothing opens
// without the user's own activation (the client says), and only an opening
// that took place uses it up and reports the click.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Opener/ZELOpenerClient.h"
#include "Opener/ZELScreenFactory.h"
#include "ViewController/ZELOrientationSetting.h"
#include "platform/MailComposeViewController.h"
#include "platform/URL.h"
#include "platform/WeakPtr.h"

namespace platform {
class ViewController;
class WebView;
}  // namespace platform
class ZELDelegateManager;
class ZELNotification;

class ZELOpener {
public:
    // The client answers for the page the openings come from: not owned,
    // it outlives the opener (a web view's delegate owns its opener).
    explicit ZELOpener(ZELOpenerClient& client) : client_(client) {}
    ZELOpener(const ZELOpener&) = delete;
    ZELOpener& operator=(const ZELOpener&) = delete;

    const std::shared_ptr<ZELDelegateManager>& delegateManager() const { return delegateManager_; }
    void setDelegateManager(std::shared_ptr<ZELDelegateManager> manager) { delegateManager_ = std::move(manager); }
    std::shared_ptr<platform::ViewController> viewController() const { return viewController_.lock(); }
    void setViewController(std::weak_ptr<platform::ViewController> controller) {
        viewController_ = std::move(controller);
    }
    const std::optional<platform::URL>& referringURL() const { return referringURL_; }
    void setReferringURL(std::optional<platform::URL> url) { referringURL_ = std::move(url); }
    // The ad web view the opened screens come from (handed to them).
    std::shared_ptr<platform::WebView> openingWebView() const { return openingWebView_.lock(); }
    void setOpeningWebView(std::weak_ptr<platform::WebView> webView) { openingWebView_ = std::move(webView); }
    // Where the screens come from; without one, no screen opens. Not owned:
    // factories live as long as the process.
    const ZELScreenFactory* screenFactory() const { return screens_; }
    void setScreenFactory(const ZELScreenFactory* factory) { screens_ = factory; }

    // Each answers whether the opening took place. An "open" message is a
    // click: counted when it opened something.
    bool openNotification(const ZELNotification& notification);
    bool openBrowserToURL(const std::optional<platform::URL>& url, ZELOrientationSetting supportedOrientations);
    bool openWebApp(const std::optional<platform::URL>& url, ZELOrientationSetting supportedOrientations);
    bool openWebAppWithHTML(const std::optional<std::string>& html, ZELOrientationSetting supportedOrientations);
    // Hands the URL to the desktop's application for its scheme, after
    // waiting a little for click trackings still in flight; a mail link goes
    // to the composer instead.
    bool openApp(const std::optional<platform::URL>& url);
    bool openEmailComposer(const std::optional<platform::URL>& url);
    void mailComposeControllerDidFinishWithResult(platform::MailComposeViewController& composer,
                                                  platform::MailComposeResult result, const platform::Error* error);

    // How many openings took place through this opener.
    unsigned openings() const { return openings_; }

    // The schemes another application may be handed: the web, calls, text
    // messages, mail (always through the composer) and the software centre.
    static bool mayHandToDesktop(std::string_view scheme);

    // How long openApp waits for trackings in flight, and how often.
    static constexpr double kTrackingWaitSeconds = 0.3;
    static constexpr int kTrackingWaits = 3;

    // What a mail link asks for: the recipient (percent-decoded) and, from
    // its query, cc and bcc (split at commas, empty pieces dropped), subject
    // and body.
    static platform::MailMessage mailMessageFromURL(const platform::URL& url);

    // The orientation an "open" message asks for: "p" portrait, "l" landscape,
    // anything else any.
    static ZELOrientationSetting orientationFromCode(const std::optional<std::string>& code);

private:
    class MailRelay;
    // Whether the user's activation allows an opening; a refusal is logged.
    bool mayOpen();
    bool refuse(const std::string& why);
    // An opening took place: the activation is used up, the ad's
    // click-tracking URLs reported.
    bool didOpen();
    // Puts the screen up over the view controller; an opening when it went up.
    bool present(const std::shared_ptr<ZELViewController>& screen,
                 const std::shared_ptr<platform::ViewController>& controller);
    ZELScreenSettings screenSettings(ZELOrientationSetting orientations) const;

    ZELOpenerClient& client_;
    std::shared_ptr<ZELDelegateManager> delegateManager_;
    std::weak_ptr<platform::ViewController> viewController_;
    std::optional<platform::URL> referringURL_;
    std::weak_ptr<platform::WebView> openingWebView_;
    const ZELScreenFactory* screens_ = nullptr;
    unsigned openings_ = 0;
    // The composer's delegate, which speaks for the opener while it lives.
    std::shared_ptr<MailRelay> mailRelay_;
    platform::WeakPtrFactory<ZELOpener> weakFactory_{this};
};
