#pragma once
// A push button: an image and/or a title, target actions by control event.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Image.h"
#include "platform/View.h"

namespace platform {

enum class ButtonType : int { Custom = 0, RoundedRect = 1 };

// Control events, numbered as the platform numbers them.
enum ControlEvent : unsigned {
    kControlEventTouchDown = 1u << 0,
    kControlEventTouchUpInside = 1u << 6,
    kControlEventTouchUpOutside = 1u << 7,
    kControlEventValueChanged = 1u << 12,
};

// Pictures the toolkit draws from its own icon set.
enum class ButtonSymbol : int { None = 0, Refresh, Action, Stop, Reply, Add };

class Button : public View {
public:
    explicit Button(ButtonType type = ButtonType::Custom, const Rect& frame = Rect());
    static std::shared_ptr<Button> buttonWithType(ButtonType type) { return std::make_shared<Button>(type); }

    ButtonType buttonType() const { return type_; }
    std::shared_ptr<Image> image() const { return image_; }
    void setImage(std::shared_ptr<Image> image);
    const std::string& title() const { return title_; }
    void setTitle(std::string title);
    ButtonSymbol symbol() const { return symbol_; }
    void setSymbol(ButtonSymbol symbol);
    bool isBold() const { return bold_; }
    void setBold(bool bold);
    Color titleColor() const { return titleColor_; }
    void setTitleColor(const Color& color);

    bool showsTouchWhenHighlighted() const { return glow_; }
    void setShowsTouchWhenHighlighted(bool glow);
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted);
    bool isSelected() const { return selected_; }
    void setSelected(bool selected);

    // Returns a token for removeTarget.
    int addTarget(std::function<void()> action, unsigned controlEvents);
    void removeTarget(int token);
    // Runs the actions registered for any of the events (nothing when disabled).
    void sendActionsForControlEvents(unsigned controlEvents);

    // For the toolkit: the pointer went down and came up inside (or not).
    void touchDown();
    void touchUp(bool inside);

private:
    void changed();
    struct Target {
        int token;
        unsigned events;
        std::function<void()> action;
    };
    ButtonType type_;
    std::shared_ptr<Image> image_;
    std::string title_;
    ButtonSymbol symbol_ = ButtonSymbol::None;
    bool bold_ = false;
    Color titleColor_ = Color::white();
    bool glow_ = false;
    bool enabled_ = true;
    bool highlighted_ = false;
    bool selected_ = false;
    std::vector<Target> targets_;
    int nextToken_ = 1;
};

}  // namespace platform
