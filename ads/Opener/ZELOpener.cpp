#include "Opener/ZELOpener.h"

#include "Delegate/ZELDelegateManager.h"
#include "Network/ZELClickTracker.h"
#include "Notification/ZELNotification.h"
#include "Statistics/ZELStatistics.h"
#include "Utility/ZELLogText.h"
#include "Utility/ZELNetworkUtilities.h"
#include "ViewController/ZELViewController.h"
#include "platform/Application.h"
#include "platform/RunLoop.h"
#include "platform/Services.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

std::optional<std::string> parameter(const ZELNotification& message, const char* key) {
    const auto& parameters = message.parameters();
    if (!parameters) return std::nullopt;
    auto it = parameters->find(key);
    if (it == parameters->end()) return std::nullopt;
    if (const std::string* text = it->second.asString()) return *text;
    return it->second.textForm();
}

std::string shown(const platform::URL& url) { return ZELLogText::printable(url.absoluteString()); }

}  // namespace

bool ZELOpener::mayHandToDesktop(std::string_view scheme) {
    static constexpr std::array<std::string_view, 6> kSchemes{"http", "https", "tel", "sms", "mailto", "appstream"};
    const std::string lower = platform::toLowerASCII(std::string(scheme));
    return std::find(kSchemes.begin(), kSchemes.end(), lower) != kSchemes.end();
}

bool ZELOpener::refuse(const std::string& why) {
    if (client_.shouldLogRefusal()) platform::log("<Nimbra> " + why);
    return false;
}

bool ZELOpener::mayOpen() {
    // Ad content comes from outside: without the user's own activation it may
    // not put a screen over the application or send the user elsewhere.
    return client_.mayOpen() || refuse("The page asked to open something without the user's activation; refused.");
}

bool ZELOpener::didOpen() {
    ++openings_;
    client_.useActivation();
    client_.trackURLs(client_.pendingClickURLs());
    return true;
}

ZELOrientationSetting ZELOpener::orientationFromCode(const std::optional<std::string>& code) {
    if (code == "p") return kZELOrientationPortrait;
    if (code == "l") return kZELOrientationLandscape;
    return kZELOrientationAny;
}

bool ZELOpener::openNotification(const ZELNotification& message) {
    const auto action = parameter(message, "a");
    const auto text = parameter(message, "u");
    const std::optional<platform::URL> url = text ? platform::URL::parse(*text) : std::nullopt;
    const auto html = parameter(message, "html");
    if (!url && !(html && action == "webapp")) return false;
    const ZELOrientationSetting orientations = orientationFromCode(parameter(message, "o"));
    auto statistics = ZELStatistics::sharedStatistics();
    const auto clickURL = statistics->clickURL(url);
    bool opened;
    if (action == "browser" || action == "video") {
        opened = openBrowserToURL(clickURL, orientations);
    } else if (action == "webapp") {
        opened = clickURL ? openWebApp(clickURL, orientations) : openWebAppWithHTML(html, orientations);
    } else {
        opened = openApp(clickURL);
    }
    // An "open" is a click, counted when it opened something.
    if (opened) statistics->countClick(url);
    return opened;
}

ZELScreenSettings ZELOpener::screenSettings(ZELOrientationSetting orientations) const {
    return ZELScreenSettings{orientations, openingWebView_, delegateManager_};
}

bool ZELOpener::present(const std::shared_ptr<ZELViewController>& screen,
                        const std::shared_ptr<platform::ViewController>& controller) {
    // The screen keeps itself while it is up.
    return screen && screen->presentFromViewController(controller) && didOpen();
}

bool ZELOpener::openBrowserToURL(const std::optional<platform::URL>& url, ZELOrientationSetting supportedOrientations) {
    auto controller = viewController();
    if (!controller || !url || !mayOpen() || !screens_) return false;
    return present(screens_->browser(*url, referringURL_, screenSettings(supportedOrientations)), controller);
}

bool ZELOpener::openWebApp(const std::optional<platform::URL>& url, ZELOrientationSetting supportedOrientations) {
    auto controller = viewController();
    if (!controller || !url || !mayOpen() || !screens_) return false;
    return present(screens_->webApp(*url, screenSettings(supportedOrientations)), controller);
}

bool ZELOpener::openWebAppWithHTML(const std::optional<std::string>& html,
                                   ZELOrientationSetting supportedOrientations) {
    auto controller = viewController();
    if (!controller || !html || !mayOpen() || !screens_) return false;
    return present(screens_->webAppWithHTML(*html, screenSettings(supportedOrientations)), controller);
}

namespace {

// One attempt at handing the URL over: trackings still in flight get a few
// short waits first. Needs nothing of the opener, so a tap still leads out
// when the banner that was tapped has gone meanwhile.
void handOver(platform::URL url, std::shared_ptr<ZELDelegateManager> manager, int waitsLeft) {
    if (ZELClickTracker::activeTrackings() && waitsLeft > 0) {
        platform::RunLoop::main().postDelayedTask(
            ZELOpener::kTrackingWaitSeconds,
            [url = std::move(url), manager = std::move(manager), waitsLeft] { handOver(url, manager, waitsLeft - 1); });
        return;
    }
    if (manager) manager->willLeaveApplication();
    // On the next turn: never from inside the page's navigation decision.
    platform::RunLoop::main().postDelayedTask(0, [url = std::move(url)] {
        if (!platform::Application::shared().openURL(url))
            platform::log("<Nimbra> The application for " + shown(url) + " did not start");
    });
}

std::vector<std::string> addressList(const platform::Dictionary& query, const char* key) {
    std::vector<std::string> list;
    auto it = query.find(key);
    const std::string* text = it == query.end() ? nullptr : it->second.asString();
    if (!text) return list;
    size_t start = 0;
    while (start <= text->size()) {
        const size_t comma = std::min(text->find(',', start), text->size());
        if (comma > start) list.push_back(text->substr(start, comma - start));
        start = comma + 1;
    }
    return list;
}

std::string queryText(const platform::Dictionary& query, const char* key) {
    auto it = query.find(key);
    const std::string* text = it == query.end() ? nullptr : it->second.asString();
    return text ? *text : std::string();
}

}  // namespace

bool ZELOpener::openApp(const std::optional<platform::URL>& url) {
    if (!url) return false;
    const std::string scheme = platform::toLowerASCII(url->scheme());
    if (scheme == "mailto") return openEmailComposer(url);
    if (!mayHandToDesktop(scheme)) return refuse("No other application is handed " + shown(*url) + "; refused.");
    if (!mayOpen()) return false;
    if (!platform::Application::shared().canOpenURL(*url)) {
        // Nothing here handles the scheme: the application stays as it is.
        return refuse("No application opens " + shown(*url));
    }
    // One opening, one report of the click-tracking URLs: the waits below
    // are for the trackings this starts, not a reason to report again.
    didOpen();
    handOver(*url, delegateManager_, kTrackingWaits);
    return true;
}

platform::MailMessage ZELOpener::mailMessageFromURL(const platform::URL& url) {
    const std::string text = url.absoluteString();
    const std::string rest = text.size() > 7 ? text.substr(7) : std::string();
    const size_t question = rest.find('?');
    platform::MailMessage message;
    // An address written with escapes ("a%40b.example") is still an address.
    const std::string recipient = rest.substr(0, question);
    message.to.push_back(platform::percentDecode(recipient).value_or(recipient));
    if (question != std::string::npos) {
        const platform::Dictionary query = ZELNetworkUtilities::dictionaryFromQueryString(rest.substr(question + 1));
        message.cc = addressList(query, "cc");
        message.bcc = addressList(query, "bcc");
        message.subject = queryText(query, "subject");
        message.body = queryText(query, "body");
    }
    return message;
}

class ZELOpener::MailRelay final : public platform::MailComposeViewControllerDelegate {
public:
    explicit MailRelay(platform::WeakPtr<ZELOpener> opener) : opener_(std::move(opener)) {}
    void mailComposeControllerDidFinishWithResult(platform::MailComposeViewController& composer,
                                                  platform::MailComposeResult result,
                                                  const platform::Error* error) override {
        if (auto* opener = opener_.get()) {
            opener->mailComposeControllerDidFinishWithResult(composer, result, error);
        } else {
            // The banner went while the composer was up: it still goes away.
            composer.dismissModalViewControllerAnimated(true);
        }
    }

private:
    platform::WeakPtr<ZELOpener> opener_;
};

bool ZELOpener::openEmailComposer(const std::optional<platform::URL>& url) {
    auto controller = viewController();
    if (!controller || !url || !mayOpen()) return false;
    // Like a second screen, a second composer is not stacked on the first.
    if (ZELViewController::isScreenShowingOver(controller))
        return refuse("A mail composer or ad screen is already showing; no new composer.");
    const platform::MailMessage message = mailMessageFromURL(*url);
    auto composer = std::make_shared<platform::MailComposeViewController>();
    if (!mailRelay_) mailRelay_ = std::make_shared<MailRelay>(weakFactory_.getWeakPtr());
    composer->setMailComposeDelegate(mailRelay_);
    composer->setToRecipients(message.to);
    composer->setCcRecipients(message.cc);
    composer->setBccRecipients(message.bcc);
    composer->setSubject(message.subject);
    composer->setMessageBody(message.body, false);
    composer->setModalTransitionStyle(platform::ModalTransitionStyle::CoverVertical);
    if (!platform::MailComposeViewController::canSendMail())
        platform::log("<Nimbra> No mail application is set up; the message can be written but not sent.");
    controller->presentModalViewController(composer, true);
    if (!composer->presentingViewController()) return refuse("The mail composer could not be shown.");
    return didOpen();
}

void ZELOpener::mailComposeControllerDidFinishWithResult(platform::MailComposeViewController& composer,
                                                         platform::MailComposeResult result,
                                                         const platform::Error* error) {
    if (result == platform::MailComposeResult::Failed)
        platform::log("<Nimbra> The message was not sent: " + (error ? error->description : std::string("no reason")));
    composer.dismissModalViewControllerAnimated(true);
    if (auto controller = viewController()) controller->becomeFirstResponder();
}
