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
    // Both live to the end of the process.
    static ZELNotificationCenter* center = new ZELNotificationCenter(*new platform::NotificationCenter());
    return *center;
}

ZELNotificationCenter::ZELNotificationCenter(platform::NotificationCenter& center) : center_(center) {}

platform::Observation ZELNotificationCenter::observe(const std::string& name, const void* sender,
                                                     platform::NotificationCenter::Callback callback) {
    return center_.observe(name, sender, std::move(callback));
}

void ZELNotificationCenter::postNotificationFromURL(const URL& url, const void* sender) {
    std::optional<ZELNotification> message = ZELNotification::notificationFromURL(url);
    if (!message) {
        return;
    }
    Value userInfo = message->parameters() ? Value(*message->parameters()) : Value();
    center_.post(message->name(), sender, userInfo);
}

void ZELNotificationCenter::postNotificationFromURL(const URL& url, std::weak_ptr<const void> sender, double delay) {
    // An empty pointer means "no sender"; one that has expired means "gone".
    const std::weak_ptr<const void> empty;
    const bool hadSender = sender.owner_before(empty) || empty.owner_before(sender);
    platform::RunLoop::main().postTask(
        weakFactory_.getWeakPtr(),
        [url, sender = std::move(sender), hadSender](ZELNotificationCenter& center) {
            std::shared_ptr<const void> alive = sender.lock();
            if (hadSender && !alive) return;
            center.postNotificationFromURL(url, alive.get());
        },
        delay);
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
