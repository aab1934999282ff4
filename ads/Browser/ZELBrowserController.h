#pragma once
// The in-app browser: a full-screen ad screen with the page above a toolbar of
// back, forward, reload (a spinner while loading), open outside and done. It
// is built when it first appears, loads the URL it was given (with the
// referring page), keeps the toolbar in step with the page, and closes by
// itself when the user comes back to the application and no page ever loaded.

#include <memory>
#include <optional>
#include <string>

#include "ViewController/ZELViewController.h"
#include "platform/Image.h"
#include "platform/Toolbar.h"
#include "platform/URL.h"

class ZELBrowserControllerPrivate;
class ZELWebView;

class ZELBrowserController : public ZELViewController {
public:
    static std::shared_ptr<ZELBrowserController> init() { return make<ZELBrowserController>(); }

    std::shared_ptr<ZELBrowserControllerPrivate> vars() const;
    std::shared_ptr<ZELWebView> webView() const;
    std::shared_ptr<platform::Toolbar> toolbar() const;

    void load(const std::optional<platform::URL>& url, const std::optional<platform::URL>& referringURL);
    void load(const std::optional<platform::URL>& url) { load(url, std::nullopt); }
    void back();
    void forward();
    void reload();
    void stop();
    void openInSafari();
    void refreshToolbar();
    void createToolbarButtons();
    std::shared_ptr<platform::BarButtonItem> buttonWithImage(std::shared_ptr<platform::Image> image,
                                                             const std::string& name, int width, bool enabled,
                                                             void (ZELBrowserController::*action)());
    void appDidEnterForeground();

    void viewWillAppear(bool animated) override;
    void didRotateFromInterfaceOrientation(platform::InterfaceOrientation from) override;

    // Toolbar heights: a phone in landscape gets the low bar.
    static constexpr double kToolbarHeight = 44;
    static constexpr double kLandscapePhoneToolbarHeight = 30;

protected:
    friend class ZELViewController;
    ZELBrowserController() = default;
    std::shared_ptr<ZELViewControllerPrivate> createPrivateData() override;
    void setUp() override;
};
