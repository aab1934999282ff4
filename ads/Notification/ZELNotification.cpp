#include "Notification/ZELNotification.h"

#include <cstdio>
#include <exception>

#include "Utility/ZELNetworkUtilities.h"

using platform::Dictionary;
using platform::URL;
using platform::Value;

namespace {

std::optional<ZELNotification> none() { return std::nullopt; }

}  // namespace

bool ZELNotification::isQMSGNotificationURL(const URL& url) { return url.scheme() == kURLNotificationScheme; }

bool ZELNotification::isOrvikNotificationURL(const URL& url) { return url.scheme() == kURLOrvikNotificationScheme; }

bool ZELNotification::isNotificationURL(const URL& url) {
    return isQMSGNotificationURL(url) || isOrvikNotificationURL(url);
}

std::optional<ZELNotification> ZELNotification::notificationFromURL(const URL& url) {
    // Message URLs come from ad pages: anything unexpected means no message.
    try {
        if (isQMSGNotificationURL(url)) {
            // The name is the decoded path after its leading "/"; a path that
            // is empty, relative or does not decode carries no name.
            const std::string raw = url.rawPath();
            if (raw.empty() || raw.front() != '/') {
                return none();
            }
            std::optional<std::string> path = platform::percentDecode(raw);
            if (!path || path->empty() || path->front() != '/') {
                return none();
            }
            return ZELNotification(path->substr(1), ZELNetworkUtilities::dictionaryFromQueryString(url.query()));
        }
        if (isOrvikNotificationURL(url)) {
            const std::string action = url.host();
            if (action == "launch") {
                Dictionary query = ZELNetworkUtilities::dictionaryFromQueryString(url.query());
                Dictionary parameters{{"a", Value("browser")}};
                if (auto target = query.find(kURLKey); target != query.end()) {
                    parameters["u"] = target->second;
                }
                return ZELNotification(kZELMessageOpen, std::move(parameters));
            }
            if (action == "closecanvas") {
                return ZELNotification(kZELMessageClose, std::nullopt);
            }
            if (action == "log") {
                return ZELNotification("log", ZELNetworkUtilities::dictionaryFromQueryString(url.query()));
            }
        }
    } catch (const std::exception&) {}
    return none();
}

std::string ZELNotification::description() const {
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return "ZELNotification<" + std::string(address) + ">: name:" + name_ +
           " parameters:" + (parameters_ ? Value(*parameters_).description() : std::string("(null)"));
}
