#pragma once
// The ad message center: posts messages from message URLs to observers inside
// the component, and delivers messages to pages through the page's receiving
// function. Its notification center is the component's own, not the
// platform's: a page's message never reaches an observer of the platform's
// notifications (the application's, or the screens' full-screen pair).

#include <memory>
#include <optional>
#include <string>

#include "platform/NotificationCenter.h"
#include "platform/URL.h"
#include "platform/Value.h"
#include "platform/WeakPtr.h"

namespace platform {
class WebView;
}

class ZELNotificationCenter {
public:
    // The shared message center, over a notification center of its own.
    static ZELNotificationCenter& defaultCenter();

    explicit ZELNotificationCenter(platform::NotificationCenter& center);
    ZELNotificationCenter(const ZELNotificationCenter&) = delete;
    ZELNotificationCenter& operator=(const ZELNotificationCenter&) = delete;

    platform::NotificationCenter& center() const { return center_; }

    // Observers name the message and, as sender, the web view whose messages
    // they want (null: any sender); they hear it until the observation ends.
    [[nodiscard]] platform::Observation observe(const std::string& name, const void* sender,
                                                platform::NotificationCenter::Callback callback);

    // Posts the URL's message (name, the sender's identity, the parameters as
    // user info); nothing when the URL carries no message.
    void postNotificationFromURL(const platform::URL& url, const void* sender);
    // The same after the delay on the main run loop (0: its next turn),
    // dropped when the sender is gone by then, so a message from a destroyed
    // web view never reaches an object now living at its address. An empty
    // sender posts with no sender.
    void postNotificationFromURL(const platform::URL& url, std::weak_ptr<const void> sender, double delay);

    // Evaluates "RUMA_ReceiveMessage('name', <payload as JSON>);" in the web
    // view, or "RUMA_ReceiveMessage('name');" without a payload.
    static void postJSNotification(const std::string& name, const std::optional<platform::Dictionary>& userInfo,
                                   platform::WebView& webView);
    // The script postJSNotification evaluates.
    static std::string scriptForJSNotification(const std::string& name,
                                               const std::optional<platform::Dictionary>& userInfo);

private:
    platform::NotificationCenter& center_;
    // Delayed postings die with the center.
    platform::WeakPtrFactory<ZELNotificationCenter> weakFactory_{this};
};
