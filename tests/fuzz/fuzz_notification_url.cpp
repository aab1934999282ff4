// Message URLs as a page could write them: parsing never crashes, and a
// message always has string parameters (or none only for "close").
#include "FuzzSupport.h"
#include "Notification/ZELNotification.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<platform::URL> url =
        platform::URL::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!url) return 0;
    const std::optional<ZELNotification> message = ZELNotification::notificationFromURL(*url);
    if (!message) return 0;
    FUZZ_CHECK(ZELNotification::isNotificationURL(*url));
    FUZZ_CHECK(message->parameters() || message->name() == "close");
    if (message->parameters())
        for (const auto& entry : *message->parameters()) FUZZ_CHECK(entry.second.isString());
    (void)message->description();
    return 0;
}
