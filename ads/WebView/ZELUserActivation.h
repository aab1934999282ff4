#pragma once
// The user's own activation of an ad view: a press on it, or a key or
// assistive action on a link in it. Ad content comes from outside, so only
// this lets it open anything (a screen, the mail composer, another
// application): one activation allows at most one opening, for a few seconds,
// and the opening uses it up. A new ad drops it.

#include <optional>

class ZELUserActivation {
public:
    // How long an activation stays usable (browsers' transient activation).
    static constexpr double kLifetime = 5.0;

    // A press on the view: always a new activation.
    void grantForPress();
    // A navigation the engine reports as the user's gesture. Every
    // navigation a page's script makes while handling that gesture carries
    // it too, so it is a new activation only when the view has had none for
    // the lifetime; what a press started is not started again.
    void grantForGesture();
    bool isActive() const;
    void use();
    // A new ad: nothing of the last one's activation stays.
    void reset();
    // True the first time an opening is refused since the last activation or
    // reset: a page asking again and again is logged once.
    bool noteRefusal();

private:
    std::optional<double> grantedAt_;
    bool used_ = false;
    bool refusalNoted_ = false;
};
