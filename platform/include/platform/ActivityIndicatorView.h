#pragma once
// A spinner that turns while something is under way.

#include "platform/View.h"

namespace platform {

enum class ActivityIndicatorStyle : int { WhiteLarge = 0, White = 1, Gray = 2 };

class ActivityIndicatorView : public View {
public:
    explicit ActivityIndicatorView(ActivityIndicatorStyle style = ActivityIndicatorStyle::White);
    ActivityIndicatorView(const Rect& frame, ActivityIndicatorStyle style = ActivityIndicatorStyle::White);

    ActivityIndicatorStyle style() const { return style_; }
    void setStyle(ActivityIndicatorStyle style);
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return animating_; }
    // Hidden while stopped (the default).
    bool hidesWhenStopped() const { return hidesWhenStopped_; }
    void setHidesWhenStopped(bool hides);

    static Size sizeForStyle(ActivityIndicatorStyle style);

private:
    void changed();
    ActivityIndicatorStyle style_;
    bool animating_ = false;
    bool hidesWhenStopped_ = true;
};

}  // namespace platform
