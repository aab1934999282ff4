#include "Notification/ZELNotificationCenter.h"

#include "Notification/ZELNotification.h"
#include "Utility/ZELMacros.h"
#include "platform/Backend.h"
#include "platform/RunLoop.h"
#include "platform/WebView.h"

using platform::Dictionary;
using platform::URL;
using platform::Value;

ZELNotificationCenter& ZELNotificationCenter::defaultCenter() {
    // Lives to the end of the process, like the center it speaks for.
    static ZELNotificationCenter* center = new ZELNotificationCenter(platform::NotificationCenter::defaultCenter());
    return *center;
}

ZELNotificationCenter::ZELNotificationCenter(platform::NotificationCenter& center) : center_(center) {}

ZELNotificationCenter::~ZELNotificationCenter() {
    if (platform::hasBackend()) {
        platform::RunLoop::main().cancelPerformRequests(this);
    }
}

void ZELNotificationCenter::addObserver(const void* observer, const std::string& name, const void* sender,
                                        platform::NotificationCenter::Callback callback) {
    center_.addObserver(observer, name, sender, std::move(callback));
}

void ZELNotificationCenter::removeObserver(const void* observer) { center_.removeObserver(observer); }

void ZELNotificationCenter::removeObserver(const void* observer, const std::string& name, const void* sender) {
    center_.removeObserver(observer, name, sender);
}

void ZELNotificationCenter::postNotificationFromURL(const URL& url, const void* sender) {
    std::optional<ZELNotification> message = ZELNotification::notificationFromURL(url);
    if (!message) {
        return;
    }
    Value userInfo = message->parameters() ? Value(*message->parameters()) : Value();
    center_.post(message->name(), sender, userInfo);
}

void ZELNotificationCenter::postNotificationFromURL(const URL& url, const void* sender, double delay) {
    // Aimed at this center, so that destroying it drops what is still pending.
    platform::RunLoop::main().performAfterDelay(this, delay, [this, url, sender] {
        postNotificationFromURL(url, sender);
    });
}

void ZELNotificationCenter::postNotificationFromURL(const URL& url, std::weak_ptr<const void> sender, double delay) {
    // An empty pointer means "no sender"; one that has expired means "gone".
    const std::weak_ptr<const void> empty;
    const bool hadSender = sender.owner_before(empty) || empty.owner_before(sender);
    platform::RunLoop::main().performAfterDelay(this, delay, [this, url, sender = std::move(sender), hadSender] {
        std::shared_ptr<const void> alive = sender.lock();
        if (hadSender && !alive) {
            return;
        }
        postNotificationFromURL(url, alive.get());
    });
}

std::string ZELNotificationCenter::scriptForJSNotification(const std::string& name,
                                                           const std::optional<Dictionary>& userInfo) {
    std::string script = std::string(kJSReceiveMessageMethod) + "('" + name + "'";
    if (userInfo) {
        script += ", " + ZELMacros::jsonify(Value(*userInfo)).value_or(std::string());
    }
    script += ");";
    return script;
}

void ZELNotificationCenter::postJSNotification(const std::string& name, const std::optional<Dictionary>& userInfo,
                                               platform::WebView& webView) {
    webView.evaluateJavaScript(scriptForJSNotification(name, userInfo));
}
