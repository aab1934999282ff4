#pragma once
// A view that shows a part of a larger content area and scrolls over it. Its
// subviews are laid out in content coordinates.

#include "platform/View.h"

namespace platform {

class ScrollView : public View {
public:
    explicit ScrollView(const Rect& frame = Rect());

    Size contentSize() const { return contentSize_; }
    void setContentSize(Size size);
    Point contentOffset() const { return contentOffset_; }
    // Clamped to the scrollable range.
    void setContentOffset(Point offset);
    bool isScrollEnabled() const { return scrollEnabled_; }
    void setScrollEnabled(bool enabled);
    bool scrollsToTop() const { return scrollsToTop_; }
    void setScrollsToTop(bool v) { scrollsToTop_ = v; }

    // The largest offset the content allows in each direction.
    Point maximumContentOffset() const;

    // For the toolkit: the user scrolled to this offset.
    void userDidScroll(Point offset);

private:
    void didChangeSize() override;
    void changed();
    Size contentSize_;
    Point contentOffset_;
    bool scrollEnabled_ = true;
    bool scrollsToTop_ = true;
};

}  // namespace platform
