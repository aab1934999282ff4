#pragma once
// The application's window: the phone screen. Its root view controller fills
// the application frame; presented controllers go on top of it. The window
// system may give it another size at any time (a phone's screen, a desktop
// user's drag): the screens follow.

#include <memory>

#include "platform/View.h"
#include "platform/ViewController.h"

namespace platform {

class Window : public View {
public:
    explicit Window(const Rect& frame = Rect());
    ~Window() override;

    std::shared_ptr<Window> window() const override;

    // Without one set, the first subview that is a controller's view acts as
    // the root (an application may simply add its controller's view).
    std::shared_ptr<ViewController> rootViewController() const;
    void setRootViewController(std::shared_ptr<ViewController> controller);

    // Shows the window, makes it the key window, and has the root controller
    // appear.
    void makeKeyAndVisible();
    bool isKeyWindow() const;
    static std::shared_ptr<Window> keyWindow();

    // The controller the user sees: the root, or the last one presented over it.
    std::shared_ptr<ViewController> topViewController() const;

    // The controller that takes a key command now: the one the user sees, when
    // it takes that command; null otherwise (the key then goes to the focus).
    std::shared_ptr<ViewController> keyCommandTarget(KeyCommand command) const;

    // The device turned: when the top controller accepts the orientation, the
    // window takes the screen's new shape, the status bar follows and the
    // controllers hear willRotate/didRotate. Returns whether the interface turned.
    bool deviceDidRotate(InterfaceOrientation orientation);

    // The screen area for controllers' views (window coordinates).
    Rect applicationFrame() const;

    // Called when the status bar shows or hides: full-screen views follow.
    void statusBarDidChange();

protected:
    void didChangeSize() override { statusBarDidChange(); }

private:
    std::weak_ptr<ViewController> root_;
    std::shared_ptr<ViewController> ownedRoot_;
    bool visible_ = false;
};

}  // namespace platform
