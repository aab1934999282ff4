#include "Opener/ZELOpener.h"

#include "Notification/ZELNotification.h"

namespace {
std::string describe(const char* what, const std::optional<platform::URL>& url) {
    return std::string(what) + (url ? " " + url->absoluteString() : std::string());
}
}  // namespace

void ZELOpener::openNotification(const ZELNotification& notification) {
    lastRequest_ = "open " + notification.name();
}

void ZELOpener::openBrowserToURL(const std::optional<platform::URL>& url, int) {
    lastRequest_ = describe("browser", url);
}

void ZELOpener::openWebApp(const std::optional<platform::URL>& url, int) { lastRequest_ = describe("webapp", url); }

void ZELOpener::openWebAppWithHTML(const std::optional<std::string>&, int) { lastRequest_ = "webapp html"; }

void ZELOpener::openApp(const std::optional<platform::URL>& url) { lastRequest_ = describe("app", url); }

void ZELOpener::openEmailComposer(const std::optional<platform::URL>& url) { lastRequest_ = describe("mail", url); }

void ZELOpener::didOpen() {}
