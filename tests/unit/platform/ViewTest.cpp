// The view tree: autoresizing and hit testing. (Building and keeping trees is
// everyone's.)
#include "platform/View.h"
#include "unit/support/SimTest.h"

using namespace platform;

namespace {

std::shared_ptr<View> makeView(Rect frame, unsigned mask = kAutoresizingNone) {
    auto v = std::make_shared<View>(frame);
    v->setAutoresizingMask(mask);
    return v;
}

using ViewTest = SimTest;

TEST_F(ViewTest, AutoresizingFollowsTheMaskOnEachAxisDownTheTree) {
    auto parent = makeView(Rect(0, 0, 320, 480));
    auto bottom = makeView(Rect(0, 430, 320, 50), kAutoresizingFlexibleTopMargin | kAutoresizingFlexibleWidth);
    auto centred = makeView(Rect(10, 0, 100, 10), kAutoresizingFlexibleLeftMargin | kAutoresizingFlexibleRightMargin);
    auto all = makeView(Rect(0, 100, 50, 100), kAutoresizingFlexibleTopMargin | kAutoresizingFlexibleHeight |
                                                   kAutoresizingFlexibleBottomMargin);
    auto grandchild = makeView(Rect(0, 0, 320, 20), kAutoresizingFlexibleWidth);
    for (auto& v : {bottom, centred, all}) parent->addSubview(v);
    bottom->addSubview(grandchild);
    parent->setFrame(Rect(0, 0, 480, 400));
    EXPECT_EQ(bottom->frame(), Rect(0, 350, 480, 50)) << "a banner pinned to the bottom stays there";
    EXPECT_EQ(grandchild->frame(), Rect(0, 0, 480, 20));
    // Margins 10 and 210 share the 160 extra points in proportion.
    EXPECT_DOUBLE_EQ(centred->frame().x(), 10 + 160.0 * 10 / 220);
    EXPECT_DOUBLE_EQ(centred->frame().width(), 100);
    // Top 100, height 100, bottom 280 share -80 in proportion.
    EXPECT_DOUBLE_EQ(all->frame().y(), 100 - 80.0 * 100 / 480);
    EXPECT_DOUBLE_EQ(all->frame().height(), 100 - 80.0 * 100 / 480);
    // Zero-sized flexible parts share a change equally instead of dividing by zero.
    auto empty = makeView(Rect(0, 0, 0, 0));
    auto zero = makeView(Rect(0, 0, 0, 0), kAutoresizingFlexibleLeftMargin | kAutoresizingFlexibleWidth);
    empty->addSubview(zero);
    empty->setFrame(Rect(0, 0, 10, 0));
    EXPECT_EQ(zero->frame(), Rect(5, 0, 5, 0));
}

TEST_F(ViewTest, HitTestFindsTheDeepestTopmostInteractiveView) {
    auto root = makeView(Rect(0, 0, 320, 480));
    auto under = makeView(Rect(0, 0, 100, 100)), over = makeView(Rect(50, 50, 100, 100));
    auto inner = makeView(Rect(10, 10, 20, 20));
    root->addSubview(under);
    root->addSubview(over);
    over->addSubview(inner);
    EXPECT_EQ(root->hitTest({60, 60}, nullptr), inner);  // 60-50=10 inside inner
    EXPECT_EQ(root->hitTest({90, 90}, nullptr), over);   // overlap goes to the last added
    EXPECT_EQ(root->hitTest({300, 400}, nullptr), root);
    EXPECT_EQ(root->hitTest({-1, 0}, nullptr), nullptr);
    over->setHidden(true);
    EXPECT_EQ(root->hitTest({90, 90}, nullptr), under);
    over->setHidden(false);
    over->setUserInteractionEnabled(false);
    EXPECT_EQ(root->hitTest({60, 60}, nullptr), under) << "a non-interactive view shields its subviews too";
}

}  // namespace
