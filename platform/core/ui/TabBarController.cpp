#include "platform/TabBarController.h"

#include <algorithm>

#include "platform/Application.h"
#include "platform/Backend.h"

namespace platform {

// ---- TabBar

TabBar::TabBar(const Rect& frame) : View(frame) {
    setBackgroundColor(Color{0.11, 0.11, 0.12, 1});
    setAccessibilityRole(AccessibilityRole::TabList);
}

void TabBar::setItems(const std::vector<TabBarItem>& items, std::function<void(size_t)> onSelect) {
    for (auto& b : buttons_) b->removeFromSuperview();
    buttons_.clear();
    for (size_t i = 0; i < items.size(); ++i) {
        auto b = std::make_shared<Button>(ButtonType::Custom);
        b->setAccessibilityRole(AccessibilityRole::Tab);
        b->setTitle(items[i].title);
        b->setImage(items[i].image);
        b->setAccessibilityLabel(items[i].title);
        b->setTitleColor(Color{0.6, 0.6, 0.6, 1});
        b->addTarget([onSelect, i] { onSelect(i); }, kControlEventTouchUpInside);
        addSubview(b);
        buttons_.push_back(b);
    }
    layout();
}

void TabBar::setSelected(size_t index) {
    for (size_t i = 0; i < buttons_.size(); ++i) {
        buttons_[i]->setSelected(i == index);
        buttons_[i]->setTitleColor(i == index ? Color::white() : Color{0.6, 0.6, 0.6, 1});
    }
}

void TabBar::didChangeSize() { layout(); }

void TabBar::layout() {
    if (buttons_.empty()) return;
    double w = frame().width() / double(buttons_.size());
    for (size_t i = 0; i < buttons_.size(); ++i)
        buttons_[i]->setFrame(Rect(double(i) * w + 2, 1, w - 4, frame().height() - 2));
}

// ---- TabBarController

TabBarController::TabBarController() = default;
TabBarController::~TabBarController() = default;

void TabBarController::loadView() {
    auto frame = Screen::main().applicationFrame();
    auto root = std::make_shared<View>(frame);
    root->setBackgroundColor(Color::black());
    content_ = std::make_shared<View>(Rect(0, 0, frame.width(), frame.height() - TabBar::kHeight));
    content_->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
    content_->setBackgroundColor(Color::white());
    tabBar_ = std::make_shared<TabBar>(Rect(0, frame.height() - TabBar::kHeight, frame.width(), TabBar::kHeight));
    tabBar_->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleTopMargin);
    root->addSubview(content_);
    root->addSubview(tabBar_);
    setView(root);
    setViewControllers(controllers_);
}

void TabBarController::setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers) {
    auto old = selectedViewController();
    bool shown = isAppeared();
    std::erase(controllers, nullptr);
    if (old && shown && (controllers.empty() || controllers[0] != old)) {
        old->beginAppearanceTransition(false, false);
        old->endAppearanceTransition();
    }
    for (auto& c : controllers_) {
        if (std::find(controllers.begin(), controllers.end(), c) != controllers.end()) continue;
        if (c->isViewLoaded()) c->view()->removeFromSuperview();
        releaseChild(c);
    }
    controllers_ = std::move(controllers);
    for (auto& c : controllers_) adoptChild(c);
    selected_ = 0;
    if (!tabBar_) return;  // the view is not loaded yet
    std::vector<TabBarItem> items;
    for (auto& c : controllers_) {
        auto item = c->tabBarItem();
        if (item.title.empty()) item.title = c->title();
        items.push_back(item);
    }
    std::weak_ptr<ViewController> weak = weak_from_this();
    tabBar_->setItems(items, [weak](size_t i) {
        if (auto self = std::dynamic_pointer_cast<TabBarController>(weak.lock())) self->setSelectedIndex(i);
    });
    tabBar_->setSelected(selected_);
    showSelected();
    if (auto now = selectedViewController(); now && shown && now != old) {
        now->beginAppearanceTransition(true, false);
        now->endAppearanceTransition();
    }
}

std::shared_ptr<ViewController> TabBarController::selectedViewController() const {
    return selected_ < controllers_.size() ? controllers_[selected_] : nullptr;
}

void TabBarController::setSelectedIndex(size_t index) {
    if (index >= controllers_.size() || index == selected_) return;
    auto old = selectedViewController();
    auto now = controllers_[index];
    bool shown = isAppeared();
    if (shown) {
        old->beginAppearanceTransition(false, false);
        now->beginAppearanceTransition(true, false);
    }
    selected_ = index;
    if (tabBar_) tabBar_->setSelected(index);
    showSelected();
    if (shown) {
        old->endAppearanceTransition();
        now->endAppearanceTransition();
    }
}

void TabBarController::showSelected() {
    if (!content_) return;
    auto selected = selectedViewController();
    for (auto& c : controllers_)
        if (c != selected && c->isViewLoaded() && c->view()->superview() == content_) c->view()->removeFromSuperview();
    if (!selected) return;
    auto v = selected->view();
    v->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
    v->setFrame(content_->bounds());
    if (v->superview() != content_) content_->addSubview(v);
}

bool TabBarController::shouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation) {
    if (controllers_.empty()) return ViewController::shouldAutorotateToInterfaceOrientation(orientation);
    for (auto& c : controllers_)
        if (!c->shouldAutorotateToInterfaceOrientation(orientation)) return false;
    return true;
}

bool TabBarController::canPerformKeyCommand(KeyCommand command) const {
    return (command == KeyCommand::NextTab || command == KeyCommand::PreviousTab) && controllers_.size() > 1;
}

void TabBarController::performKeyCommand(KeyCommand command) {
    if (!canPerformKeyCommand(command)) return;
    const size_t count = controllers_.size();
    setSelectedIndex((selected_ + (command == KeyCommand::NextTab ? 1 : count - 1)) % count);
    if (tabBar_ && selected_ < tabBar_->buttons().size()) tabBar_->buttons()[selected_]->requestKeyboardFocus();
}

std::vector<std::shared_ptr<ViewController>> TabBarController::appearanceChildren() const {
    if (auto s = selectedViewController()) return {s};
    return {};
}

}  // namespace platform
