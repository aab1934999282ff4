#include "platform/Toolbar.h"

#include <algorithm>

#include "platform/Backend.h"
#include "platform/Localization.h"

namespace platform {

// ---- BarButtonItem

std::shared_ptr<BarButtonItem> BarButtonItem::systemItem(BarButtonSystemItem item, Action action) {
    auto b = std::shared_ptr<BarButtonItem>(new BarButtonItem());
    b->system_ = item;
    b->action_ = std::move(action);
    if (item == BarButtonSystemItem::Done) b->style_ = BarButtonItemStyle::Done;
    return b;
}
std::shared_ptr<BarButtonItem> BarButtonItem::withImage(std::shared_ptr<Image> image, BarButtonItemStyle style,
                                                        Action action) {
    auto b = std::shared_ptr<BarButtonItem>(new BarButtonItem());
    b->image_ = std::move(image);
    b->style_ = style;
    b->action_ = std::move(action);
    return b;
}
std::shared_ptr<BarButtonItem> BarButtonItem::withTitle(std::string title, BarButtonItemStyle style, Action action) {
    auto b = std::shared_ptr<BarButtonItem>(new BarButtonItem());
    b->title_ = std::move(title);
    b->style_ = style;
    b->action_ = std::move(action);
    return b;
}
std::shared_ptr<BarButtonItem> BarButtonItem::withCustomView(std::shared_ptr<View> view) {
    auto b = std::shared_ptr<BarButtonItem>(new BarButtonItem());
    b->customView_ = std::move(view);
    return b;
}

void BarButtonItem::setStyle(BarButtonItemStyle style) {
    style_ = style;
    apply();
}
void BarButtonItem::setWidth(double width) { width_ = std::max(0.0, width); }
void BarButtonItem::setEnabled(bool enabled) {
    enabled_ = enabled;
    apply();
}
void BarButtonItem::setAccessibilityLabel(std::string label) {
    accessibilityLabel_ = std::move(label);
    apply();
}
void BarButtonItem::setAction(Action action) { action_ = std::move(action); }

namespace {
const char* systemTitle(BarButtonSystemItem item) {
    switch (item) {
    case BarButtonSystemItem::Done: return localized("Done");
    case BarButtonSystemItem::Cancel: return localized("Cancel");
    case BarButtonSystemItem::Edit: return localized("Edit");
    case BarButtonSystemItem::Save: return localized("Save");
    default: return nullptr;
    }
}
ButtonSymbol systemSymbol(BarButtonSystemItem item) {
    switch (item) {
    case BarButtonSystemItem::Refresh: return ButtonSymbol::Refresh;
    case BarButtonSystemItem::Action: return ButtonSymbol::Action;
    case BarButtonSystemItem::Stop: return ButtonSymbol::Stop;
    case BarButtonSystemItem::Reply: return ButtonSymbol::Reply;
    case BarButtonSystemItem::Add:
    case BarButtonSystemItem::Compose: return ButtonSymbol::Add;
    default: return ButtonSymbol::None;
    }
}
// Characters, not bytes: translations carry accents.
double titleWidth(const std::string& title) {
    const auto characters = std::count_if(title.begin(), title.end(), [](char c) { return (c & 0xC0) != 0x80; });
    return 8.0 * double(characters) + 20;
}
}  // namespace

double BarButtonItem::naturalWidth() const {
    if (width_ > 0) return width_;
    if (customView_) return customView_->frame().width();
    if (system_) {
        if (isSpace()) return 0;
        if (auto* t = systemTitle(*system_)) return titleWidth(t);
        return 30;
    }
    if (image_) return image_->size().width + 10;
    return titleWidth(title_);
}

void BarButtonItem::apply() const {
    if (customView_) {
        // A custom view (a spinner, say) is read by the item's label.
        if (accessibilityElement_ && !accessibilityLabel_.empty())
            customView_->setAccessibilityLabel(accessibilityLabel_);
        return;
    }
    auto button = std::dynamic_pointer_cast<Button>(represented_.lock());
    if (!button) return;
    button->setEnabled(enabled_);
    button->setAccessibilityLabel(accessibilityLabel_);
    button->setBold(style_ == BarButtonItemStyle::Done);
}

// ---- Toolbar

Toolbar::Toolbar(const Rect& frame) : View(frame, NoPeer{}) {
    setBackgroundColor(tint_);
    setAccessibilityRole(AccessibilityRole::Toolbar);
    setPeer(backend().makeViewPeer(*this));
}

void Toolbar::setTintColor(const Color& color) {
    tint_ = color;
    setBackgroundColor(color);
}

std::shared_ptr<View> Toolbar::makeItemView(const std::shared_ptr<BarButtonItem>& item) {
    if (item->customView_) return item->customView_;
    if (item->isSpace()) return nullptr;
    auto button = std::make_shared<Button>(ButtonType::Custom);
    button->setShowsTouchWhenHighlighted(true);
    if (item->image_) button->setImage(item->image_);
    if (!item->title_.empty()) button->setTitle(item->title_);
    if (item->system_) {
        if (auto* t = systemTitle(*item->system_)) button->setTitle(t);
        button->setSymbol(systemSymbol(*item->system_));
    }
    // The item may change its action later: look it up at tap time.
    std::weak_ptr<BarButtonItem> weakItem = item;
    button->addTarget(
        [weakItem] {
            if (auto it = weakItem.lock())
                if (auto action = it->action_) action();
        },
        kControlEventTouchUpInside);
    return button;
}

void Toolbar::setItems(std::vector<std::shared_ptr<BarButtonItem>> items, bool) {
    std::erase(items, nullptr);
    std::vector<std::shared_ptr<View>> placed;
    for (auto& item : items) {
        // An item already on this bar keeps its view: a bar refreshed while a
        // finger is on one of its buttons must not lose the tap.
        std::shared_ptr<View> view = item->representedView();
        if (!view || view->superview().get() != this) view = makeItemView(item);
        item->represented_ = view;
        if (view) {
            if (view->superview().get() != this) addSubview(view);
            placed.push_back(view);
        }
        item->apply();
    }
    for (auto& old : placed_)
        if (std::find(placed.begin(), placed.end(), old) == placed.end()) old->removeFromSuperview();
    // Subviews in the items' order: the order a screen reader reads them in.
    for (size_t i = 0; i < placed.size(); ++i)
        if (i >= subviews().size() || subviews()[i] != placed[i]) insertSubviewAtIndex(placed[i], i);
    placed_ = std::move(placed);
    items_ = std::move(items);
    layoutItems();
}

void Toolbar::didChangeSize() { layoutItems(); }

void Toolbar::layoutItems() {
    double w = frame().width(), h = frame().height();
    double fixed = 0;
    int flexible = 0;
    for (auto& item : items_) {
        if (item->isFlexibleSpace()) ++flexible;
        else fixed += item->naturalWidth();
    }
    double gaps = items_.empty() ? 0 : kItemSpacing * double(items_.size() - 1);
    double spare = std::max(0.0, w - 2 * kEdgeInset - fixed - gaps);
    double flexWidth = flexible ? spare / flexible : 0;
    double x = kEdgeInset;
    for (auto& item : items_) {
        double iw = item->isFlexibleSpace() ? flexWidth : item->naturalWidth();
        if (auto view = item->representedView()) {
            double ih = item->customView_ ? view->frame().height() : std::min(h, 32.0);
            view->setFrame(Rect(x, (h - ih) / 2, iw, ih));
        }
        x += iw + kItemSpacing;
    }
}

}  // namespace platform
