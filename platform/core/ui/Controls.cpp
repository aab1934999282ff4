// The simple views: label, activity indicator, scroll view and button. Their
// state lives here; the peer reads it back after each change.
#include <algorithm>

#include "platform/ActivityIndicatorView.h"
#include "platform/Backend.h"
#include "platform/Button.h"
#include "platform/Label.h"
#include "platform/Localization.h"
#include "platform/ScrollView.h"

namespace platform {

// ---- Label

Label::Label(const Rect& frame) : View(frame, NoPeer{}) {
    setBackgroundColor(Color::clear());
    setOpaque(false);
    setPeer(backend().makeViewPeer(*this));
}
void Label::changed() {
    if (auto* p = peer()) p->propertiesChanged();
}
void Label::setText(std::string text) {
    text_ = std::move(text);
    changed();
}
void Label::setFontSize(double points) {
    fontSize_ = points > 0 ? points : 17;
    changed();
}
void Label::setBold(bool bold) {
    bold_ = bold;
    changed();
}
void Label::setTextColor(const Color& color) {
    textColor_ = color;
    changed();
}
void Label::setTextAlignment(TextAlignment alignment) {
    alignment_ = alignment;
    changed();
}
void Label::setNumberOfLines(int lines) {
    lines_ = std::max(0, lines);
    changed();
}

// ---- ActivityIndicatorView

Size ActivityIndicatorView::sizeForStyle(ActivityIndicatorStyle style) {
    return style == ActivityIndicatorStyle::WhiteLarge ? Size{37, 37} : Size{20, 20};
}

ActivityIndicatorView::ActivityIndicatorView(ActivityIndicatorStyle style)
    : ActivityIndicatorView(Rect(0, 0, sizeForStyle(style).width, sizeForStyle(style).height), style) {}

ActivityIndicatorView::ActivityIndicatorView(const Rect& frame, ActivityIndicatorStyle style)
    : View(frame, NoPeer{}), style_(style) {
    setOpaque(false);
    View::setHidden(true);  // stopped
    setAccessibilityRole(AccessibilityRole::ProgressIndicator);
    setAccessibilityLabel(localized("Loading"));
    setPeer(backend().makeViewPeer(*this));
}
void ActivityIndicatorView::changed() {
    if (auto* p = peer()) p->propertiesChanged();
}
void ActivityIndicatorView::setStyle(ActivityIndicatorStyle style) {
    style_ = style;
    changed();
}
void ActivityIndicatorView::startAnimating() {
    if (animating_) return;
    animating_ = true;
    if (hidesWhenStopped_) setHidden(false);
    changed();
}
void ActivityIndicatorView::stopAnimating() {
    if (!animating_) return;
    animating_ = false;
    if (hidesWhenStopped_) setHidden(true);
    changed();
}
void ActivityIndicatorView::setHidesWhenStopped(bool hides) {
    hidesWhenStopped_ = hides;
    if (!animating_) setHidden(hides);
    changed();
}

// ---- ScrollView

ScrollView::ScrollView(const Rect& frame) : View(frame, NoPeer{}) {
    setClipsToBounds(true);
    setPeer(backend().makeViewPeer(*this));
}
void ScrollView::changed() {
    if (auto* p = peer()) p->propertiesChanged();
}
Point ScrollView::maximumContentOffset() const {
    return {std::max(0.0, contentSize_.width - frame().width()), std::max(0.0, contentSize_.height - frame().height())};
}
void ScrollView::setContentSize(Size size) {
    contentSize_ = {std::max(0.0, size.width), std::max(0.0, size.height)};
    setContentOffset(contentOffset_);  // re-clamp
    changed();
}
void ScrollView::setContentOffset(Point offset) {
    auto max = maximumContentOffset();
    contentOffset_ = {std::clamp(offset.x, 0.0, max.x), std::clamp(offset.y, 0.0, max.y)};
    changed();
}
void ScrollView::userDidScroll(Point offset) {
    if (!scrollEnabled_) return;
    auto max = maximumContentOffset();
    contentOffset_ = {std::clamp(offset.x, 0.0, max.x), std::clamp(offset.y, 0.0, max.y)};
}
void ScrollView::setScrollEnabled(bool enabled) {
    scrollEnabled_ = enabled;
    changed();
}
void ScrollView::didChangeSize() { setContentOffset(contentOffset_); }

// ---- Button

Button::Button(ButtonType type, const Rect& frame) : View(frame, NoPeer{}), type_(type) {
    setOpaque(false);
    if (type == ButtonType::RoundedRect) titleColor_ = Color{0.2, 0.3, 0.5, 1};
    setAccessibilityRole(AccessibilityRole::Button);
    setPeer(backend().makeViewPeer(*this));
}
void Button::changed() {
    if (auto* p = peer()) p->propertiesChanged();
}
void Button::setImage(std::shared_ptr<Image> image) {
    image_ = std::move(image);
    changed();
}
void Button::setTitle(std::string title) {
    title_ = std::move(title);
    changed();
}
void Button::setSymbol(ButtonSymbol symbol) {
    symbol_ = symbol;
    changed();
}
void Button::setBold(bool bold) {
    bold_ = bold;
    changed();
}
void Button::setTitleColor(const Color& color) {
    titleColor_ = color;
    changed();
}
void Button::setShowsTouchWhenHighlighted(bool glow) {
    glow_ = glow;
    changed();
}
void Button::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (!enabled) highlighted_ = false;
    changed();
}
void Button::setHighlighted(bool highlighted) {
    highlighted_ = highlighted && enabled_;
    changed();
}
void Button::setSelected(bool selected) {
    selected_ = selected;
    changed();
}
int Button::addTarget(std::function<void()> action, unsigned controlEvents) {
    int token = nextToken_++;
    targets_.push_back({token, controlEvents, std::move(action)});
    return token;
}
void Button::removeTarget(int token) {
    std::erase_if(targets_, [token](const Target& t) { return t.token == token; });
}
void Button::sendActionsForControlEvents(unsigned controlEvents) {
    if (!enabled_ || !isUserInteractionEnabled()) return;
    // An action may remove targets or destroy the button's owner: run copies,
    // and keep the button alive for the loop.
    auto self = weak_from_this().lock();
    auto targets = targets_;
    for (auto& t : targets)
        if ((t.events & controlEvents) && t.action) t.action();
}
void Button::touchDown() {
    if (!enabled_) return;
    setHighlighted(true);
    sendActionsForControlEvents(kControlEventTouchDown);
}
void Button::touchUp(bool inside) {
    bool was = highlighted_;
    setHighlighted(false);
    if (!was) return;
    sendActionsForControlEvents(inside ? kControlEventTouchUpInside : kControlEventTouchUpOutside);
}

}  // namespace platform
