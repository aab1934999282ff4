#pragma once
// How the opener gets the screens it opens. The in-app browser and the
// web-app screen sit above the opener (their pages have openers of their
// own), so it asks for them through this; the ad controller hands its
// factory to the banner's page, and each web-app screen to its own page.

#include <memory>
#include <optional>
#include <string>

#include "ViewController/ZELOrientationSetting.h"
#include "platform/URL.h"

namespace platform {
class WebView;
}
class ZELDelegateManager;
class ZELViewController;

// What every screen an ad opens gets: the orientations it allows, the ad web
// view it came from and where it reports its life.
struct ZELScreenSettings {
    ZELOrientationSetting orientations = kZELOrientationAny;
    std::weak_ptr<platform::WebView> openingWebView;
    std::shared_ptr<ZELDelegateManager> delegateManager;
};

class ZELScreenFactory {
public:
    virtual ~ZELScreenFactory() = default;
    // The in-app browser, loading the URL with the page it came from as referrer.
    virtual std::shared_ptr<ZELViewController> browser(const platform::URL& url,
                                                       const std::optional<platform::URL>& referrer,
                                                       const ZELScreenSettings& settings) const = 0;
    // The web-app screen, loading the URL.
    virtual std::shared_ptr<ZELViewController> webApp(const platform::URL& url,
                                                      const ZELScreenSettings& settings) const = 0;
    // The web-app screen with ready markup and no base URL.
    virtual std::shared_ptr<ZELViewController> webAppWithHTML(const std::string& html,
                                                              const ZELScreenSettings& settings) const = 0;
};
