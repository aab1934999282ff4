// The view tree: autoresizing, hit testing and whether a view is seen.
// (Building and keeping trees is everyone's.)
#include "platform/View.h"
#include "platform/Window.h"
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

// A watched view hears, on the next turn, each change that hides it from the
// user or shows it again; one that is not watched hears nothing.
TEST_F(ViewTest, AWatchedViewHearsWhetherItIsSeen) {
    struct Watched : View {
        using View::View;
        void visibilityDidChange() override { heard.push_back(isVisibleOnScreen()); }
        std::vector<bool> heard;
    };
    auto window = std::make_shared<Window>(Rect(0, 0, 320, 480));
    auto tab = makeView(Rect(0, 0, 320, 430));
    auto view = std::make_shared<Watched>(Rect(0, 380, 320, 50));
    window->addSubview(tab);
    tab->addSubview(view);
    view->setWatchesVisibility(true);
    sim().runUntilIdle();
    EXPECT_EQ(view->heard, std::vector<bool>{}) << "in a window not shown yet";
    window->setHidden(false);
    sim().runUntilIdle();
    EXPECT_EQ(view->heard, std::vector<bool>{true});
    const std::pair<const char*, std::function<void(bool)>> hides[] = {
        {"window hidden", [&](bool hide) { window->setHidden(hide); }},
        {"window minimised", [&](bool hide) { sim().display().setMinimized(*window, hide); }},
        {"tab left", [&](bool hide) { hide ? tab->removeFromSuperview() : window->addSubview(tab); }},
        {"view hidden", [&](bool hide) { view->setHidden(hide); }},
        {"no height", [&](bool hide) { view->setFrame(Rect(0, 380, 320, hide ? 0 : 50)); }},
    };
    for (const auto& [what, hide] : hides) {
        SCOPED_TRACE(what);
        view->heard.clear();
        hide(true);
        sim().runUntilIdle();
        hide(false);
        sim().runUntilIdle();
        EXPECT_EQ(view->heard, (std::vector<bool>{false, true}));
    }
    view->heard.clear();
    view->setWatchesVisibility(false);
    window->setHidden(true);
    sim().runUntilIdle();
    EXPECT_EQ(view->heard, std::vector<bool>{});
}

}  // namespace
