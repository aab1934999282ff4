#include "platform/ViewController.h"

#include <map>

#include "platform/Application.h"
#include "platform/Backend.h"
#include "platform/InterfaceFile.h"
#include "platform/RunLoop.h"
#include "platform/Services.h"
#include "platform/Window.h"

namespace platform {
namespace {
std::map<const View*, std::weak_ptr<ViewController>>& viewOwners() {
    // Never destroyed: controllers still alive at exit look themselves up.
    static auto* owners = new std::map<const View*, std::weak_ptr<ViewController>>();
    return *owners;
}
std::weak_ptr<ViewController>& firstResponderSlot() {
    static auto* slot = new std::weak_ptr<ViewController>();
    return *slot;
}
}  // namespace

ViewController::ViewController() = default;
ViewController::ViewController(std::string interfaceName) : interfaceName_(std::move(interfaceName)) {}

ViewController::~ViewController() {
    if (view_) viewOwners().erase(view_.get());
}

std::shared_ptr<View> ViewController::view() {
    if (!view_) {
        loadView();
        if (!view_) setView(std::make_shared<View>(Screen::main().applicationFrame()));
        viewDidLoad();
    }
    return view_;
}

void ViewController::setView(std::shared_ptr<View> view) {
    if (view_) viewOwners().erase(view_.get());
    view_ = std::move(view);
    if (view_) viewOwners()[view_.get()] = weak_from_this();
}

std::shared_ptr<ViewController> ViewController::controllerForView(const View* view) {
    auto it = viewOwners().find(view);
    return it == viewOwners().end() ? nullptr : it->second.lock();
}

void ViewController::loadView() {
    if (interfaceName_.empty()) return;
    std::string error;
    auto v = InterfaceFile::loadView(interfaceName_, *this, &error);
    if (!v) {
        log("interface file \"" + interfaceName_ + "\" not loaded: " + error);
        return;
    }
    setView(std::move(v));
}

void ViewController::didReceiveMemoryWarning() {
    if (!view_ || view_->window() || view_->superview()) return;
    setView(nullptr);
    viewDidUnload();
}

std::shared_ptr<ViewController> ViewController::parentViewController() const {
    if (auto p = parent_.lock()) return p;
    return presenting_.lock();
}

void ViewController::adoptChild(const std::shared_ptr<ViewController>& child) {
    if (!child) return;
    child->parent_ = weak_from_this();
    child->orientation_ = orientation_;
}

void ViewController::releaseChild(const std::shared_ptr<ViewController>& child) {
    if (child && child->parent_.lock().get() == this) child->parent_.reset();
}

bool ViewController::shouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation) {
    return orientation == InterfaceOrientation::Portrait;
}

// ---- Appearance

void ViewController::beginAppearanceTransition(bool appearing, bool animated) {
    if (appearing) {
        if (appearance_ == Appearance::Appeared || appearance_ == Appearance::Appearing) return;
        view();
        appearance_ = Appearance::Appearing;
        appearanceAnimated_ = animated;
        viewWillAppear(animated);
    } else {
        if (appearance_ == Appearance::Disappeared || appearance_ == Appearance::Disappearing) return;
        appearance_ = Appearance::Disappearing;
        appearanceAnimated_ = animated;
        viewWillDisappear(animated);
    }
    for (auto& child : appearanceChildren()) child->beginAppearanceTransition(appearing, animated);
}

void ViewController::endAppearanceTransition() {
    if (appearance_ == Appearance::Appearing) {
        appearance_ = Appearance::Appeared;
        viewDidAppear(appearanceAnimated_);
    } else if (appearance_ == Appearance::Disappearing) {
        appearance_ = Appearance::Disappeared;
        viewDidDisappear(appearanceAnimated_);
    } else {
        return;
    }
    for (auto& child : appearanceChildren()) child->endAppearanceTransition();
}

// ---- Rotation

void ViewController::rotateTo(InterfaceOrientation orientation, double duration) {
    willRotateToInterfaceOrientation(orientation, duration);
    for (auto& child : childControllers()) child->rotateTo(orientation, duration);
}

void ViewController::finishRotation(InterfaceOrientation from, InterfaceOrientation to) {
    orientation_ = to;
    didRotateFromInterfaceOrientation(from);
    for (auto& child : childControllers()) child->finishRotation(from, to);
}

// ---- First responder

bool ViewController::becomeFirstResponder() {
    if (!canBecomeFirstResponder()) return false;
    auto current = firstResponderSlot().lock();
    if (current.get() == this) return true;
    firstResponderSlot() = weak_from_this();
    return true;
}
bool ViewController::resignFirstResponder() {
    if (firstResponderSlot().lock().get() == this) firstResponderSlot().reset();
    return true;
}
bool ViewController::isFirstResponder() const { return firstResponderSlot().lock().get() == this; }

// ---- Presentation

std::shared_ptr<ViewController> ViewController::presentationHost() {
    auto host = shared_from_this();
    while (auto p = host->parent_.lock()) host = p;
    return host;
}

Rect ViewController::presentationFrame() const {
    auto hostView = view_;
    if (hostView)
        if (auto window = hostView->window()) return window->applicationFrame();
    return Screen::main().applicationFrame();
}

void ViewController::completePendingTransitions() {
    if (!dismissing_.empty()) finishDismissal();
    for (auto c = modal_; c; c = c->modal_)
        if (c->transition_ == Transition::Presenting) c->finishPresentation();
}

void ViewController::presentModalViewController(const std::shared_ptr<ViewController>& controller, bool animated) {
    if (!controller || controller.get() == this) return;
    auto host = presentationHost();
    host->completePendingTransitions();
    if (host->modal_) {
        // Something is up already: the new screen goes on top of it.
        host->modal_->presentModalViewController(controller, animated);
        return;
    }
    if (controller->presenting_.lock() || controller->parent_.lock()) {
        log("a view controller that is already shown cannot be presented again");
        return;
    }
    auto hostView = host->view();
    auto window = hostView->window();
    host->modal_ = controller;
    controller->presenting_ = host;
    controller->orientation_ = host->orientation_;
    controller->transition_ = Transition::Presenting;
    auto v = controller->view();
    v->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
    v->setFrame(window ? window->applicationFrame() : hostView->bounds());
    // It covers what it is presented over: that is out of reach while it is up.
    v->setAccessibilityViewIsModal(true);
    bool onScreen = host->appearance_ == Appearance::Appeared || host->appearance_ == Appearance::Appearing;
    if (onScreen) {
        host->beginAppearanceTransition(false, animated);
        controller->beginAppearanceTransition(true, animated);
    }
    if (window) window->addSubview(v);
    else hostView->addSubview(v);
    if (animated) {
        auto* presented = controller.get();
        controller->presentationEnd_.start(kModalTransitionDuration, [presented] { presented->finishPresentation(); });
    } else {
        controller->finishPresentation();
    }
}

void ViewController::finishPresentation() {
    if (transition_ != Transition::Presenting) return;
    transition_ = Transition::None;
    auto keep = shared_from_this();
    presentationEnd_.stop();
    if (auto host = presenting_.lock())
        if (host->appearance_ == Appearance::Disappearing) host->endAppearanceTransition();
    if (appearance_ == Appearance::Appearing) endAppearanceTransition();
}

void ViewController::dismissModalViewControllerAnimated(bool animated) {
    auto host = presentationHost();
    if (!host->modal_) {
        if (host->dismissing_.empty())
            if (auto presenter = host->presenting_.lock()) presenter->dismissModalViewControllerAnimated(animated);
        return;
    }
    host->completePendingTransitions();
    if (!host->modal_) return;
    std::vector<std::shared_ptr<ViewController>> chain;
    for (auto c = host->modal_; c; c = c->modal_) chain.push_back(c);
    auto top = chain.back();
    bool onScreen = top->appearance_ == Appearance::Appeared || top->appearance_ == Appearance::Appearing;
    for (auto& c : chain) c->transition_ = Transition::Dismissing;
    host->dismissing_ = chain;
    host->modal_.reset();
    if (onScreen) {
        top->beginAppearanceTransition(false, animated);
        host->beginAppearanceTransition(true, animated);
    }
    if (animated) {
        auto* presenter = host.get();
        host->dismissalEnd_.start(kModalTransitionDuration, [presenter] { presenter->finishDismissal(); });
    } else {
        host->finishDismissal();
    }
}

void ViewController::finishDismissal() {
    auto chain = std::move(dismissing_);
    dismissing_.clear();
    if (chain.empty()) return;
    auto keep = shared_from_this();
    dismissalEnd_.stop();
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        if ((*it)->view_) (*it)->view_->removeFromSuperview();
    auto top = chain.back();
    if (top->appearance_ == Appearance::Disappearing) top->endAppearanceTransition();
    if (appearance_ == Appearance::Appearing) endAppearanceTransition();
    for (auto& c : chain) {
        c->presenting_.reset();
        c->transition_ = Transition::None;
        c->modal_.reset();
    }
}

}  // namespace platform
