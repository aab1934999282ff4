#pragma once
// The base of the component's full-screen screens (the in-app browser and the
// web-app screen): it puts itself on screen over the application, takes
// itself away again, tells which interface orientations it accepts, and
// reports the screen's life. While it is up it hides the status bar, keeps
// the device awake and pauses the banners' reload (through the two
// notifications below); the first screen of a stack tells the application
// willPresentScreen, willDismissScreen and didDismissScreen.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ViewController/ZELFullScreenAdScreen.h"
#include "ViewController/ZELOrientationSetting.h"
#include "platform/RunLoop.h"
#include "platform/ViewController.h"
#include "platform/WeakPtr.h"
#include "platform/WebView.h"

class ZELDelegateManager;
class ZELViewControllerPrivate;

class ZELViewController : public platform::ViewController, public ZELFullScreenAdScreen {
public:
    // A new screen of the given kind, set up.
    template <typename T>
    static std::shared_ptr<T> make() {
        std::shared_ptr<T> screen(new T());
        screen->setUp();
        return screen;
    }
    static std::shared_ptr<ZELViewController> init() { return make<ZELViewController>(); }
    ~ZELViewController() override;

    const std::shared_ptr<ZELViewControllerPrivate>& getPrivate() const { return private_; }

    std::shared_ptr<ZELDelegateManager> delegateManager() const;
    void setDelegateManager(std::shared_ptr<ZELDelegateManager> manager);
    ZELOrientationSetting supportedOrientations() const;
    // An unset setting (0) leaves the old one.
    void setSupportedOrientations(ZELOrientationSetting setting);
    std::shared_ptr<platform::WebView> openingWebView() const;
    void setOpeningWebView(std::weak_ptr<platform::WebView> webView);
    bool statusBarWasHidden() const;
    void setStatusBarWasHidden(bool hidden);

    static ZELOrientationSetting orientationFromString(const std::optional<std::string>& text) {
        return ZELOrientationFromString(text);
    }

    // Whether the screen went up (or started to) with this call.
    bool presentFromViewController(const std::shared_ptr<platform::ViewController>& controller);
    // Whether something opened from an ad is already in front of what a new
    // screen or mail composer would be presented from: an ad screen or a
    // composer over the application, or anything over the ad screen itself.
    static bool isScreenShowingOver(const std::shared_ptr<platform::ViewController>& from);
    void presentSelfFrom(const std::shared_ptr<platform::ViewController>& controller);
    void relinquishScreen() override;
    bool isFirstZELViewController() const;

    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) override;
    // Escape closes the screen as its close or Done control would.
    bool canPerformKeyCommand(platform::KeyCommand command) const override;
    void performKeyCommand(platform::KeyCommand command) override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;

    // Seconds after which a screen presented from a controller other than the
    // key window's root hears viewDidAppear again.
    static constexpr double kSecondAppearanceDelay = 0.6;

protected:
    ZELViewController() = default;
    // The private object of this kind of screen; subclasses return their own.
    virtual std::shared_ptr<ZELViewControllerPrivate> createPrivateData();
    virtual void setUp();
    // A control's action: runs while the screen lives, the screen held for
    // the call (the action may be what lets it go, as Done does).
    template <typename T>
    std::function<void()> action(void (T::*method)()) {
        return platform::bindWeak(weakFactory_.getWeakPtr(), [method](ZELViewController& screen) {
            const auto protect = platform::protectForCall(screen);
            (static_cast<T&>(screen).*method)();
        });
    }

private:
    // What presenting took from the application, given back: shared by
    // relinquishing, a refused presentation and a screen taken away by
    // someone else.
    void giveBackScreen(ZELViewControllerPrivate& vars);
    // Ends the pair of full-screen notifications this screen began.
    void endCover(ZELViewControllerPrivate& vars);

    std::shared_ptr<ZELViewControllerPrivate> private_;
    platform::WeakPtrFactory<ZELViewController> weakFactory_{this};
};
