#include "Opener/ZELOpener.h"

#include "Notification/ZELNotification.h"

// The destinations arrive with the full-screen screens.
void ZELOpener::openNotification(const ZELNotification&) {}

void ZELOpener::openBrowserToURL(const std::optional<platform::URL>&, ZELOrientationSetting) {}

void ZELOpener::openWebApp(const std::optional<platform::URL>&, ZELOrientationSetting) {}

void ZELOpener::openWebAppWithHTML(const std::optional<std::string>&, ZELOrientationSetting) {}

void ZELOpener::openApp(const std::optional<platform::URL>&) {}

void ZELOpener::openEmailComposer(const std::optional<platform::URL>&) {}

void ZELOpener::didOpen() {}
