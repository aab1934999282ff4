#pragma once
// Views: a toolkit-neutral tree of rectangles in points. Each view has a
// backend peer (a GTK widget in a frame container, or a plain record on sim)
// made when the view is constructed; the tree's state lives here.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Geometry.h"

namespace platform {

class Window;
class ViewPeer;

struct Color {
    double red = 0, green = 0, blue = 0, alpha = 0;
    static Color clear() { return {0, 0, 0, 0}; }
    static Color black() { return {0, 0, 0, 1}; }
    static Color white() { return {1, 1, 1, 1}; }
    bool operator==(const Color&) const = default;
};

// Autoresizing mask bits.
enum AutoresizingMask : unsigned {
    kAutoresizingNone = 0,
    kAutoresizingFlexibleLeftMargin = 1,
    kAutoresizingFlexibleWidth = 2,
    kAutoresizingFlexibleRightMargin = 4,
    kAutoresizingFlexibleTopMargin = 8,
    kAutoresizingFlexibleHeight = 16,
    kAutoresizingFlexibleBottomMargin = 32,
};

// What a view is to assistive technology (screen readers, keyboard access).
// A view's role is decided once, before it is first shown.
enum class AccessibilityRole : int {
    None = 0,           // a layout box: neutral, not read; what it holds is
    Group,              // a group of what it holds, read with its label
    Button,             // a push button
    Tab,                // a tab of a tab list, selected or not
    TabList,            // the tabs that switch the screen below them
    Toolbar,            // a bar of controls
    ProgressIndicator,  // something under way (busy while it turns)
    Advertisement,      // an ad, read as one
};

struct Event {
    enum class Type : int { Touches = 0, Motion = 1, RemoteControl = 2 };
    Type type = Type::Touches;
};

class View : public std::enable_shared_from_this<View> {
public:
    explicit View(const Rect& frame = Rect());
    virtual ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    Rect frame() const { return frame_; }
    void setFrame(const Rect& frame);  // resizes subviews by their masks
    Rect bounds() const { return Rect(0, 0, frame_.width(), frame_.height()); }
    unsigned autoresizingMask() const { return autoresizingMask_; }
    void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }

    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden);
    bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
    void setUserInteractionEnabled(bool enabled);
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool opaque);
    Color backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(const Color& color);
    bool clipsToBounds() const { return clipsToBounds_; }
    void setClipsToBounds(bool clips);

    const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
    std::shared_ptr<View> superview() const { return superview_.lock(); }
    void addSubview(const std::shared_ptr<View>& view);  // retained; moved if it had a parent
    void insertSubviewAtIndex(const std::shared_ptr<View>& view, size_t index);
    void removeFromSuperview();
    bool isDescendantOf(const View& other) const;
    // The window this view is in, or null.
    virtual std::shared_ptr<Window> window() const;

    // Accessibility. The label is what a screen reader reads for the view (a
    // button without one is read by its title). A view that is modal makes
    // its superview's earlier subviews (what it covers) unreachable by
    // keyboard and screen reader while it is there; the toolkit moves the
    // focus into it when it comes and back to where it was when it goes.
    const std::string& accessibilityLabel() const { return accessibilityLabel_; }
    void setAccessibilityLabel(std::string label);
    AccessibilityRole accessibilityRole() const { return accessibilityRole_; }
    void setAccessibilityRole(AccessibilityRole role);
    bool accessibilityViewIsModal() const { return accessibilityModal_; }
    void setAccessibilityViewIsModal(bool modal);
    // Moves the keyboard (and screen reader) focus to this view, or to the
    // first control in it.
    void requestKeyboardFocus();

    // Whether the user can see the view: in a shown window that is not
    // minimised, with it and every view above it shown (on the selected tab),
    // and not empty. Known only while the view watches it: the backend then
    // reports each change on the main loop, through visibilityDidChange().
    // False until the first report.
    void setWatchesVisibility(bool watch);
    bool watchesVisibility() const { return watchesVisibility_; }
    bool isVisibleOnScreen() const { return visibleOnScreen_; }
    // For the backend: what it sees now.
    void setVisibleOnScreen(bool visible);

    // Sees every touch or click before the view handles it; point in this view's
    // coordinates. Returns the deepest view that takes it (or null).
    virtual std::shared_ptr<View> hitTest(Point point, const Event* event);

    ViewPeer* peer() const { return peer_.get(); }

protected:
    // For subclasses that make a specialised peer.
    struct NoPeer {};
    View(const Rect& frame, NoPeer);
    void setPeer(std::unique_ptr<ViewPeer> peer);
    virtual void didMoveToSuperview() {}
    virtual void didChangeSize() {}
    virtual void visibilityDidChange() {}

private:
    void resizeSubviews(Size oldSize);
    Rect frame_;
    unsigned autoresizingMask_ = kAutoresizingNone;
    bool hidden_ = false;
    bool userInteractionEnabled_ = true;
    bool opaque_ = true;
    Color backgroundColor_ = Color::clear();
    bool clipsToBounds_ = false;
    std::string accessibilityLabel_;
    AccessibilityRole accessibilityRole_ = AccessibilityRole::None;
    bool accessibilityModal_ = false;
    bool watchesVisibility_ = false;
    bool visibleOnScreen_ = false;
    std::vector<std::shared_ptr<View>> subviews_;
    std::weak_ptr<View> superview_;
    std::unique_ptr<ViewPeer> peer_;
};

// The backend's side of a view; the View calls it after each change.
class ViewPeer {
public:
    virtual ~ViewPeer() = default;
    virtual void frameChanged() {}
    virtual void propertiesChanged() {}  // hidden, interaction, opacity, colour, clipping
    virtual void subviewsChanged() {}
    virtual void accessibilityChanged() {}  // label, role, modality
    virtual void focusRequested() {}
    // Start or stop reporting the view's visibility (View::setVisibleOnScreen).
    virtual void watchVisibility(bool) {}
};

}  // namespace platform
