#pragma once
// An ad message: what a page says to the component by navigating to a
// message URL, as a name and string parameters.
//
//   qmsg://any-authority/name?query    name from the path, parameters from the query
//   orvik://launch?url=u               "open" {"a": "browser", "u": u}
//   orvik://closecanvas                "close", no parameters
//   orvik://log?query                  "log", parameters from the query

#include <optional>
#include <string>

#include "platform/URL.h"
#include "platform/Value.h"

inline constexpr const char kURLNotificationScheme[] = "qmsg";
inline constexpr const char kURLOrvikNotificationScheme[] = "orvik";
inline constexpr const char kURLKey[] = "url";
inline constexpr const char kObjectKey[] = "object";
inline constexpr const char kJSReceiveMessageMethod[] = "RUMA_ReceiveMessage";

// Names of the messages the component acts on. The hidden request page
// answers with one of the first three; ad pages send the others.
inline constexpr const char kZELMessageLoadAdURL[] = "loadAdURL";
inline constexpr const char kZELMessageInvalidRequest[] = "invalidRequest";
inline constexpr const char kZELMessageUnableToServe[] = "unableToServe";
inline constexpr const char kZELMessageOpen[] = "open";
inline constexpr const char kZELMessageClose[] = "close";
inline constexpr const char kZELMessageSettings[] = "settings";

class ZELNotification {
public:
    // Schemes compare case-sensitively: "QMSG" is an ordinary navigation.
    static bool isQMSGNotificationURL(const platform::URL& url);
    static bool isOrvikNotificationURL(const platform::URL& url);
    static bool isNotificationURL(const platform::URL& url);

    // The message the URL carries, or no value (not a message URL, an empty or
    // undecodable path, an unknown older-form action).
    static std::optional<ZELNotification> notificationFromURL(const platform::URL& url);

    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    // String values under lower-case keys; no value for "close".
    const std::optional<platform::Dictionary>& parameters() const { return parameters_; }
    void setParameters(std::optional<platform::Dictionary> parameters) { parameters_ = std::move(parameters); }

    std::string description() const;

private:
    ZELNotification(std::string name, std::optional<platform::Dictionary> parameters)
        : name_(std::move(name)), parameters_(std::move(parameters)) {}

    std::string name_;
    std::optional<platform::Dictionary> parameters_;
};
