#pragma once
// View controllers: a lazily loaded view, its appearance callbacks, modal
// presentation and interface rotation.

#include <memory>
#include <string>
#include <vector>

#include "platform/Geometry.h"
#include "platform/Image.h"
#include "platform/Outlets.h"
#include "platform/RunLoop.h"
#include "platform/View.h"

namespace platform {

enum class ModalPresentationStyle : int { FullScreen = 0, PageSheet = 1, FormSheet = 2, CurrentContext = 3 };
enum class ModalTransitionStyle : int { CoverVertical = 0, FlipHorizontal = 1, CrossDissolve = 2, PartialCurl = 3 };

struct TabBarItem {
    std::string title;
    std::shared_ptr<Image> image;
    int tag = 0;
};

// Keys that do the same thing on every screen that takes them: Escape
// (Cancel) closes a screen as its close or Cancel control would; Ctrl+Page
// Down and Up switch to the next and previous tab.
enum class KeyCommand : int { Cancel, NextTab, PreviousTab };

// Seconds an animated presentation or dismissal takes.
inline constexpr double kModalTransitionDuration = 0.3;

class ViewController : public Connectable, public std::enable_shared_from_this<ViewController> {
public:
    ViewController();
    // The view comes from the interface file of that name (see InterfaceFile.h).
    explicit ViewController(std::string interfaceName);
    ~ViewController() override;
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    const std::string& interfaceName() const { return interfaceName_; }

    // Loads the view on first use (loadView, then viewDidLoad).
    std::shared_ptr<View> view();
    bool isViewLoaded() const { return view_ != nullptr; }
    void setView(std::shared_ptr<View> view);
    // The controller whose view this is, if any.
    static std::shared_ptr<ViewController> controllerForView(const View* view);

    // Builds the view: from the interface file when one is named, otherwise a
    // plain view of the application frame's size.
    virtual void loadView();
    virtual void viewDidLoad() {}
    virtual void viewDidUnload() {}
    virtual void viewWillAppear(bool animated) { (void)animated; }
    virtual void viewDidAppear(bool animated) { (void)animated; }
    virtual void viewWillDisappear(bool animated) { (void)animated; }
    virtual void viewDidDisappear(bool animated) { (void)animated; }
    // Drops the view when it is in no window (then viewDidUnload).
    virtual void didReceiveMemoryWarning();

    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }
    const TabBarItem& tabBarItem() const { return tabBarItem_; }
    void setTabBarItem(TabBarItem item) { tabBarItem_ = std::move(item); }

    // The container holding this controller, or the controller presenting it.
    std::shared_ptr<ViewController> parentViewController() const;
    std::shared_ptr<ViewController> presentingViewController() const { return presenting_.lock(); }
    std::shared_ptr<ViewController> modalViewController() const { return modal_; }

    // Shows the controller over this one (over the topmost controller already
    // presented, if any), covering the window's application frame.
    void presentModalViewController(const std::shared_ptr<ViewController>& controller, bool animated);
    // Sent to the presenter, dismisses every controller presented above it;
    // sent to a presented controller with nothing above it, goes to its presenter.
    void dismissModalViewControllerAnimated(bool animated);
    bool isBeingPresented() const { return transition_ == Transition::Presenting; }
    bool isBeingDismissed() const { return transition_ == Transition::Dismissing; }

    ModalPresentationStyle modalPresentationStyle() const { return presentationStyle_; }
    void setModalPresentationStyle(ModalPresentationStyle s) { presentationStyle_ = s; }
    ModalTransitionStyle modalTransitionStyle() const { return transitionStyle_; }
    void setModalTransitionStyle(ModalTransitionStyle s) { transitionStyle_ = s; }

    InterfaceOrientation interfaceOrientation() const { return orientation_; }
    // Portrait only unless a subclass says otherwise.
    virtual bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation);
    virtual void willRotateToInterfaceOrientation(InterfaceOrientation to, double duration) {
        (void)to;
        (void)duration;
    }
    virtual void didRotateFromInterfaceOrientation(InterfaceOrientation from) { (void)from; }

    // Key commands reach the controller the user sees (Window::keyCommandTarget).
    virtual bool canPerformKeyCommand(KeyCommand command) const {
        (void)command;
        return false;
    }
    virtual void performKeyCommand(KeyCommand command) { (void)command; }

    virtual bool canBecomeFirstResponder() const { return true; }
    bool becomeFirstResponder();
    bool resignFirstResponder();
    bool isFirstResponder() const;

    // Appearance, driven by containers, windows and presentations; forwarded to
    // appearanceChildren(). A second begin in the same direction is ignored.
    void beginAppearanceTransition(bool appearing, bool animated);
    void endAppearanceTransition();
    bool isAppeared() const { return appearance_ == Appearance::Appeared; }

    // Rotation, driven by the window; forwarded to appearanceChildren().
    void rotateTo(InterfaceOrientation orientation, double duration);
    void finishRotation(InterfaceOrientation from, InterfaceOrientation to);

protected:
    // Children that appear and rotate with this controller (a container's
    // visible child).
    virtual std::vector<std::shared_ptr<ViewController>> appearanceChildren() const { return {}; }
    // Every child, shown or not (they all turn with the container).
    virtual std::vector<std::shared_ptr<ViewController>> childControllers() const { return appearanceChildren(); }
    // Containers adopt their children.
    void adoptChild(const std::shared_ptr<ViewController>& child);
    void releaseChild(const std::shared_ptr<ViewController>& child);

private:
    enum class Appearance { Disappeared, Appearing, Appeared, Disappearing };
    enum class Transition { None, Presenting, Dismissing };
    std::shared_ptr<ViewController> presentationHost();
    void finishPresentation();
    void finishDismissal();
    void completePendingTransitions();
    Rect presentationFrame() const;

    std::string interfaceName_;
    std::shared_ptr<View> view_;
    std::string title_;
    TabBarItem tabBarItem_;
    std::weak_ptr<ViewController> parent_;
    std::weak_ptr<ViewController> presenting_;
    std::shared_ptr<ViewController> modal_;
    // Controllers being dismissed above this presenter (kept until done).
    std::vector<std::shared_ptr<ViewController>> dismissing_;
    ModalPresentationStyle presentationStyle_ = ModalPresentationStyle::FullScreen;
    ModalTransitionStyle transitionStyle_ = ModalTransitionStyle::CoverVertical;
    InterfaceOrientation orientation_ = InterfaceOrientation::Portrait;
    Appearance appearance_ = Appearance::Disappeared;
    bool appearanceAnimated_ = false;
    Transition transition_ = Transition::None;
    // The ends of animated transitions; they go with the controller.
    OneShotTimer presentationEnd_;
    OneShotTimer dismissalEnd_;
};

}  // namespace platform
