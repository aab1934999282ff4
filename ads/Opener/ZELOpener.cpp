#include "Opener/ZELOpener.h"

#include "Browser/ZELBrowserController.h"
#include "Network/ZELClickTracker.h"
#include "Utility/ZELNetworkUtilities.h"
#include "WebApp/ZELWebAppViewController.h"
#include "Delegate/ZELDelegateManager.h"
#include "Notification/ZELNotification.h"
#include "Object/ZELObjectPrivate.h"
#include "Statistics/ZELStatistics.h"
#include "View/ZELWebView.h"
#include "platform/Application.h"
#include "platform/RunLoop.h"
#include "platform/Services.h"

#include <algorithm>
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

std::shared_ptr<ZELWebAppViewController> ZELOpener::webAppOrientations(ZELOrientationSetting supportedOrientations) {
    auto screen = ZELWebAppViewController::init();
    screen->setSupportedOrientations(supportedOrientations);
    screen->setOpeningWebView(openingWebView_);
    screen->setDelegateManager(delegateManager_);
    return screen;
}

void ZELOpener::presentWebApp(const std::shared_ptr<ZELWebAppViewController>& screen) {
    screen->presentFromViewController(viewController());
    didOpen();
}

void ZELOpener::openWebApp(const std::optional<platform::URL>& url, ZELOrientationSetting supportedOrientations) {
    if (!viewController() || !url || !mayOpenFromAd()) return;
    auto screen = webAppOrientations(supportedOrientations);
    screen->load(url);
    presentWebApp(screen);
}

void ZELOpener::openWebAppWithHTML(const std::optional<std::string>& html, ZELOrientationSetting supportedOrientations) {
    if (!viewController() || !html || !mayOpenFromAd()) return;
    auto screen = webAppOrientations(supportedOrientations);
    screen->loadHTML(html, std::nullopt);
    presentWebApp(screen);
}

namespace {

// One attempt at handing the URL over: trackings still in flight get a few
// short waits first. Needs nothing of the opener, so a tap still leads out
// when the banner that was tapped has gone meanwhile.
void handOver(platform::URL url, std::shared_ptr<ZELDelegateManager> manager, int waitsLeft) {
    if (ZELClickTracker::activeTrackings() && waitsLeft > 0) {
        platform::RunLoop::main().postDelayedTask(ZELOpener::kTrackingWaitSeconds,
                                                  [url = std::move(url), manager = std::move(manager), waitsLeft] {
                                                      handOver(url, manager, waitsLeft - 1);
                                                  });
        return;
    }
    auto& application = platform::Application::shared();
    if (!application.canOpenURL(url)) {
        // Nothing here handles the scheme: the application stays as it is.
        platform::log("<Nimbra> No application opens " + url.absoluteString());
        return;
    }
    if (manager) manager->willLeaveApplication();
    // On the next turn: never from inside the page's navigation decision.
    platform::RunLoop::main().postDelayedTask(0, [url = std::move(url)] {
        if (!platform::Application::shared().openURL(url))
            platform::log("<Nimbra> The application for " + url.absoluteString() + " did not start");
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

void ZELOpener::openApp(const std::optional<platform::URL>& url) {
    if (!url || !mayOpenFromAd()) return;
    // One tap, one report of the click-tracking URLs: the waits below are
    // for the trackings this starts, not a reason to report again.
    didOpen();
    handOver(*url, delegateManager_, kTrackingWaits);
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

void ZELOpener::openEmailComposer(const std::optional<platform::URL>& url) {
    auto controller = viewController();
    if (!controller || !url || !mayOpenFromAd()) return;
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
    didOpen();
}

void ZELOpener::mailComposeControllerDidFinishWithResult(platform::MailComposeViewController& composer,
                                                         platform::MailComposeResult result,
                                                         const platform::Error* error) {
    if (result == platform::MailComposeResult::Failed)
        platform::log("<Nimbra> The message was not sent: " + (error ? error->description : std::string("no reason")));
    composer.dismissModalViewControllerAnimated(true);
    if (auto controller = viewController()) controller->becomeFirstResponder();
}

void ZELOpener::didOpen() {
    if (auto controller = adController_.lock()) controller->trackURLs(controller->pendingClickURLs());
}
