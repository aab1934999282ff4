#pragma once
// The web-app screen: a page (a URL or ready markup) over the whole screen with
// no toolbar, a small close button in the top left corner and a spinner until
// the first page has loaded. The page hears "onshow" once, when it is both
// loaded and on screen, and "onhide" each time the screen goes.

#include <memory>
#include <optional>
#include <string>

#include "ViewController/ZELViewController.h"
#include "platform/URL.h"

class ZELScreenFactory;
class ZELWebAppViewControllerPrivate;
class ZELWebView;

class ZELWebAppViewController : public ZELViewController {
public:
    static std::shared_ptr<ZELWebAppViewController> init() { return make<ZELWebAppViewController>(); }

    std::shared_ptr<ZELWebAppViewControllerPrivate> vars() const;
    std::shared_ptr<ZELWebView> webView() const;

    // Before the screen first appears the last page given waits; a URL wins
    // over markup.
    void load(const std::optional<platform::URL>& url);
    void loadHTML(const std::optional<std::string>& html, const std::optional<platform::URL>& baseURL);
    // Where the screens the page opens come from (none: the page opens none).
    void setScreenFactory(const ZELScreenFactory* factory);

    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void didRotateFromInterfaceOrientation(platform::InterfaceOrientation from) override;

    static constexpr double kCloseButtonSize = 32;
    static constexpr double kSpinnerSize = 20;

protected:
    friend class ZELViewController;
    ZELWebAppViewController() = default;
    std::shared_ptr<ZELViewControllerPrivate> createPrivateData() override;
    void setUp() override;
};
