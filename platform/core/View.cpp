#include "platform/View.h"

#include <algorithm>
#include <utility>

#include "platform/Backend.h"

namespace platform {

namespace {

// Stores a property's new value; false when it had it already (nothing to tell).
template <class T, class V>
bool update(T& field, V&& value) {
    if (field == value) return false;
    field = std::forward<V>(value);
    return true;
}

// Spreads a change of the superview's extent over the flexible parts of one
// axis (leading margin, size, trailing margin) in proportion to their current
// extents; when they are all zero, in equal shares.
void resizeAxis(double& origin, double& size, double oldExtent, double delta, bool flexLead, bool flexSize,
                bool flexTrail) {
    const int flexible = flexLead + flexSize + flexTrail;
    if (flexible == 0 || delta == 0) return;
    const double lead = origin;
    const double trail = oldExtent - origin - size;
    double total = 0;
    if (flexLead) total += lead;
    if (flexSize) total += size;
    if (flexTrail) total += trail;
    auto share = [&](double part) { return total > 0 ? delta * part / total : delta / flexible; };
    double dLead = flexLead ? share(lead) : 0;
    double dSize = flexSize ? share(size) : 0;
    origin += dLead;
    size = std::max(0.0, size + dSize);
}

}  // namespace

View::View(const Rect& frame) : frame_(frame) { peer_ = backend().makeViewPeer(*this); }

View::View(const Rect& frame, NoPeer) : frame_(frame) {}

View::~View() {
    for (auto& sub : subviews_) sub->superview_.reset();
    subviews_.clear();
    if (peer_) peer_->subviewsChanged();
    peer_.reset();
}

void View::setPeer(std::unique_ptr<ViewPeer> peer) { peer_ = std::move(peer); }

void View::setFrame(const Rect& frame) {
    if (frame == frame_) return;
    const Size oldSize = frame_.size;
    frame_ = frame;
    if (frame_.size.width < 0) frame_.size.width = 0;
    if (frame_.size.height < 0) frame_.size.height = 0;
    if (peer_) peer_->frameChanged();
    if (!(oldSize == frame_.size)) {
        resizeSubviews(oldSize);
        didChangeSize();
    }
}

void View::resizeSubviews(Size oldSize) {
    const double dw = frame_.size.width - oldSize.width;
    const double dh = frame_.size.height - oldSize.height;
    // Copy: a subview's reaction may change the list.
    const auto subs = subviews_;
    for (const auto& sub : subs) {
        const unsigned m = sub->autoresizingMask_;
        if (m == kAutoresizingNone) continue;
        Rect f = sub->frame_;
        resizeAxis(f.origin.x, f.size.width, oldSize.width, dw, m & kAutoresizingFlexibleLeftMargin,
                   m & kAutoresizingFlexibleWidth, m & kAutoresizingFlexibleRightMargin);
        resizeAxis(f.origin.y, f.size.height, oldSize.height, dh, m & kAutoresizingFlexibleTopMargin,
                   m & kAutoresizingFlexibleHeight, m & kAutoresizingFlexibleBottomMargin);
        sub->setFrame(f);
    }
}

void View::setHidden(bool hidden) {
    if (update(hidden_, hidden) && peer_) peer_->propertiesChanged();
}

void View::setUserInteractionEnabled(bool enabled) {
    if (update(userInteractionEnabled_, enabled) && peer_) peer_->propertiesChanged();
}

void View::setOpaque(bool opaque) {
    if (update(opaque_, opaque) && peer_) peer_->propertiesChanged();
}

void View::setBackgroundColor(const Color& color) {
    if (update(backgroundColor_, color) && peer_) peer_->propertiesChanged();
}

void View::setClipsToBounds(bool clips) {
    if (update(clipsToBounds_, clips) && peer_) peer_->propertiesChanged();
}

void View::setAccessibilityLabel(std::string label) {
    if (update(accessibilityLabel_, std::move(label)) && peer_) peer_->accessibilityChanged();
}

void View::setAccessibilityRole(AccessibilityRole role) {
    if (update(accessibilityRole_, role) && peer_) peer_->accessibilityChanged();
}

void View::setAccessibilityViewIsModal(bool modal) {
    if (accessibilityModal_ == modal) return;
    accessibilityModal_ = modal;
    // What it covers is the superview's business.
    if (auto parent = superview(); parent && parent->peer_) parent->peer_->subviewsChanged();
}

void View::requestKeyboardFocus() {
    if (peer_) peer_->focusRequested();
}

void View::setWatchesVisibility(bool watch) {
    if (update(watchesVisibility_, watch) && peer_) peer_->watchVisibility(watch);
}

void View::setVisibleOnScreen(bool visible) {
    if (visibleOnScreen_ == visible) return;
    visibleOnScreen_ = visible;
    visibilityDidChange();
}

void View::addSubview(const std::shared_ptr<View>& view) { insertSubviewAtIndex(view, subviews_.size()); }

void View::insertSubviewAtIndex(const std::shared_ptr<View>& view, size_t index) {
    // A view cannot hold itself or one of its ancestors: that would make a cycle.
    if (!view || isDescendantOf(*view)) return;
    const auto keep = view;  // the old parent's list may hold the last reference
    const auto oldParent = view->superview();
    if (oldParent) {
        auto& list = oldParent->subviews_;
        list.erase(std::remove(list.begin(), list.end(), view), list.end());
        if (oldParent.get() != this && oldParent->peer_) oldParent->peer_->subviewsChanged();
    }
    index = std::min(index, subviews_.size());
    subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), view);
    view->superview_ = weak_from_this();
    if (peer_) peer_->subviewsChanged();
    if (oldParent.get() != this) view->didMoveToSuperview();
}

void View::removeFromSuperview() {
    auto parent = superview();
    if (!parent) return;
    const auto self = shared_from_this();  // the parent's list may hold the last reference
    auto& list = parent->subviews_;
    list.erase(std::remove(list.begin(), list.end(), self), list.end());
    superview_.reset();
    if (parent->peer_) parent->peer_->subviewsChanged();
    didMoveToSuperview();
}

bool View::isDescendantOf(const View& other) const {
    if (this == &other) return true;
    for (auto p = superview(); p; p = p->superview())
        if (p.get() == &other) return true;
    return false;
}

std::shared_ptr<Window> View::window() const {
    auto parent = superview();
    return parent ? parent->window() : nullptr;
}

std::shared_ptr<View> View::hitTest(Point point, const Event* event) {
    if (hidden_ || !userInteractionEnabled_ || !bounds().contains(point)) return nullptr;
    // Copy: a subview's hit test may change the list.
    const auto subs = subviews_;
    for (auto it = subs.rbegin(); it != subs.rend(); ++it) {
        const Rect f = (*it)->frame_;
        if (auto hit = (*it)->hitTest(Point{point.x - f.origin.x, point.y - f.origin.y}, event)) return hit;
    }
    return weak_from_this().lock();
}

}  // namespace platform
