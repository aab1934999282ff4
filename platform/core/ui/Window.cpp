#include "platform/Window.h"

#include <algorithm>

#include "platform/Application.h"
#include "platform/Backend.h"
#include "platform/ViewController.h"

namespace platform {
namespace {
std::weak_ptr<Window>& keySlot() {
    static auto* slot = new std::weak_ptr<Window>();
    return *slot;
}
}  // namespace

Window::Window(const Rect& frame) : View(frame, NoPeer{}) {
    setHidden(true);  // until made key and visible
    setBackgroundColor(Color::black());
    setPeer(backend().makeViewPeer(*this));
}

Window::~Window() = default;

std::shared_ptr<Window> Window::window() const {
    return std::dynamic_pointer_cast<Window>(std::const_pointer_cast<View>(weak_from_this().lock()));
}

std::shared_ptr<ViewController> Window::rootViewController() const {
    if (auto root = root_.lock()) return root;
    for (auto& v : subviews())
        if (auto c = ViewController::controllerForView(v.get())) return c;
    return nullptr;
}

void Window::setRootViewController(std::shared_ptr<ViewController> controller) {
    auto old = root_.lock();
    if (old == controller) return;
    if (old) {
        if (old->isAppeared()) {
            old->beginAppearanceTransition(false, false);
            old->endAppearanceTransition();
        }
        if (old->isViewLoaded()) old->view()->removeFromSuperview();
    }
    ownedRoot_ = controller;
    root_ = controller;
    if (!controller) return;
    auto v = controller->view();
    v->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
    v->setFrame(applicationFrame());
    insertSubviewAtIndex(v, 0);
    if (visible_) {
        controller->beginAppearanceTransition(true, false);
        controller->endAppearanceTransition();
    }
}

void Window::makeKeyAndVisible() {
    // Key first: the toolkit may report the window on screen while it is shown.
    keySlot() = window();
    visible_ = true;
    setHidden(false);
    auto root = rootViewController();
    if (!root || root->isAppeared()) return;
    auto v = root->view();
    if (v->superview().get() != this) {
        v->setFrame(applicationFrame());
        insertSubviewAtIndex(v, 0);
    }
    root->beginAppearanceTransition(true, false);
    root->endAppearanceTransition();
}

bool Window::isKeyWindow() const { return keySlot().lock().get() == this; }
std::shared_ptr<Window> Window::keyWindow() { return keySlot().lock(); }

std::shared_ptr<ViewController> Window::topViewController() const {
    auto c = rootViewController();
    while (c && c->modalViewController()) c = c->modalViewController();
    return c;
}

std::shared_ptr<ViewController> Window::keyCommandTarget(KeyCommand command) const {
    auto top = topViewController();
    // A screen on its way out takes no more keys.
    if (!top || top->isBeingDismissed() || !top->canPerformKeyCommand(command)) return nullptr;
    return top;
}

Rect Window::applicationFrame() const { return Application::shared().applicationFrameWithin(bounds()); }

bool Window::deviceDidRotate(InterfaceOrientation orientation) {
    if (orientation == InterfaceOrientation::Unknown) return false;
    auto top = topViewController();
    if (!top || !top->shouldAutorotateToInterfaceOrientation(orientation)) return false;
    auto& app = Application::shared();
    auto from = app.statusBarOrientation();
    if (from == orientation) return true;
    std::vector<std::shared_ptr<ViewController>> chain;
    for (auto c = rootViewController(); c; c = c->modalViewController()) chain.push_back(c);
    constexpr double kRotationDuration = 0.3;
    for (auto& c : chain) c->rotateTo(orientation, kRotationDuration);
    app.setStatusBarOrientation(orientation);
    setFrame(orientedRect(frame(), orientation));
    statusBarDidChange();
    for (auto& c : chain) c->finishRotation(from, orientation);
    return true;
}

void Window::statusBarDidChange() {
    for (auto c = rootViewController(); c; c = c->modalViewController())
        if (c->isViewLoaded() && c->view()->superview().get() == this) c->view()->setFrame(applicationFrame());
}

}  // namespace platform
