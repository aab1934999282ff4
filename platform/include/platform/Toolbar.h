#pragma once
// A bar of buttons and custom views. Items are laid out from left to right;
// flexible spaces share the width that is left.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Button.h"
#include "platform/Image.h"
#include "platform/View.h"

namespace platform {

// System items, numbered as the platform numbers them.
enum class BarButtonSystemItem : int {
    Done = 0,
    Cancel = 1,
    Edit = 2,
    Save = 3,
    Add = 4,
    FlexibleSpace = 5,
    FixedSpace = 6,
    Compose = 7,
    Reply = 8,
    Action = 9,
    Refresh = 13,
    Stop = 14,
};
enum class BarButtonItemStyle : int { Plain = 0, Bordered = 1, Done = 2 };

class Toolbar;

class BarButtonItem {
public:
    using Action = std::function<void()>;
    static std::shared_ptr<BarButtonItem> systemItem(BarButtonSystemItem item, Action action = {});
    static std::shared_ptr<BarButtonItem> withImage(std::shared_ptr<Image> image, BarButtonItemStyle style,
                                                    Action action);
    static std::shared_ptr<BarButtonItem> withTitle(std::string title, BarButtonItemStyle style, Action action);
    static std::shared_ptr<BarButtonItem> withCustomView(std::shared_ptr<View> view);

    bool isFlexibleSpace() const { return system_ && *system_ == BarButtonSystemItem::FlexibleSpace; }
    bool isSpace() const {
        return system_ &&
               (*system_ == BarButtonSystemItem::FlexibleSpace || *system_ == BarButtonSystemItem::FixedSpace);
    }
    const std::optional<BarButtonSystemItem>& systemItemKind() const { return system_; }
    std::shared_ptr<Image> image() const { return image_; }
    const std::string& title() const { return title_; }
    std::shared_ptr<View> customView() const { return customView_; }
    BarButtonItemStyle style() const { return style_; }
    void setStyle(BarButtonItemStyle style);

    double width() const { return width_; }  // 0: the item's natural width
    void setWidth(double width);
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);
    const std::string& accessibilityLabel() const { return accessibilityLabel_; }
    void setAccessibilityLabel(std::string label);
    bool isAccessibilityElement() const { return accessibilityElement_; }
    void setIsAccessibilityElement(bool v) { accessibilityElement_ = v; }
    void setAction(Action action);
    const Action& action() const { return action_; }

    // The view that shows the item once it is on a toolbar (a button or the
    // custom view); null for spaces or before it is placed.
    std::shared_ptr<View> representedView() const { return represented_.lock(); }
    // Width it takes on a bar when no width is set.
    double naturalWidth() const;

private:
    friend class Toolbar;
    BarButtonItem() = default;
    void apply() const;
    std::optional<BarButtonSystemItem> system_;
    std::shared_ptr<Image> image_;
    std::string title_;
    std::shared_ptr<View> customView_;
    BarButtonItemStyle style_ = BarButtonItemStyle::Plain;
    double width_ = 0;
    bool enabled_ = true;
    std::string accessibilityLabel_;
    bool accessibilityElement_ = true;
    Action action_;
    std::weak_ptr<View> represented_;
};

class Toolbar : public View {
public:
    explicit Toolbar(const Rect& frame = Rect());

    const std::vector<std::shared_ptr<BarButtonItem>>& items() const { return items_; }
    void setItems(std::vector<std::shared_ptr<BarButtonItem>> items, bool animated = false);
    Color tintColor() const { return tint_; }
    void setTintColor(const Color& color);

    static constexpr double kEdgeInset = 6;
    static constexpr double kItemSpacing = 10;

private:
    void didChangeSize() override;
    void layoutItems();
    static std::shared_ptr<View> makeItemView(const std::shared_ptr<BarButtonItem>& item);
    std::vector<std::shared_ptr<BarButtonItem>> items_;
    std::vector<std::shared_ptr<View>> placed_;
    Color tint_ = Color{0.25, 0.3, 0.38, 1};
};

}  // namespace platform
