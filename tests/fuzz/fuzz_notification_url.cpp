// Message URLs as a page could write them: parsing never crashes, and a
// message always has string parameters (or none only for "close").
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Notification/ZELNotification.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<platform::URL> url = platform::URL::parse(text);
    if (!url) {
        return 0;
    }
    const std::optional<ZELNotification> message = ZELNotification::notificationFromURL(*url);
    if (!message) {
        return 0;
    }
    if (!ZELNotification::isNotificationURL(*url)) {
        std::abort();
    }
    if (!message->parameters() && message->name() != "close") {
        std::abort();
    }
    if (message->parameters()) {
        for (const auto& entry : *message->parameters()) {
            if (!entry.second.isString()) {
                std::abort();
            }
        }
    }
    (void)message->description();
    return 0;
}
