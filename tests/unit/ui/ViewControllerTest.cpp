// Controller life: modal presentation and dismissal in the platform's order
// of callbacks, and rotation through the window.

#include "platform/ViewController.h"
#include "platform/Window.h"
#include "unit/support/SimTest.h"

namespace {

using platform::InterfaceOrientation;
using platform::Rect;

using Log = std::vector<std::string>;

class Recording : public platform::ViewController {
public:
    Recording(std::string name, Log& log) : name_(std::move(name)), log_(log) {}
    void viewDidLoad() override { log_.push_back(name_ + ".load"); }
    void viewWillAppear(bool) override { log_.push_back(name_ + ".willAppear"); }
    void viewDidAppear(bool) override { log_.push_back(name_ + ".didAppear"); }
    void viewWillDisappear(bool) override { log_.push_back(name_ + ".willDisappear"); }
    void viewDidDisappear(bool) override { log_.push_back(name_ + ".didDisappear"); }
    bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation o) override {
        return anyOrientation || o == InterfaceOrientation::Portrait;
    }
    bool anyOrientation = false;

private:
    std::string name_;
    Log& log_;
};

class ViewControllerTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        window = std::make_shared<platform::Window>(Rect(0, 0, 320, 480));
        root = std::make_shared<Recording>("A", log);
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        log.clear();
    }
    Log log;
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<Recording> root;
};

// Presented: its view loads, the presenter's disappearance and its own
// appearance interleave, the "did" ones a transition later. Dismissal mirrors
// it, also when sent to the presented controller. The controller on top
// decides whether the interface turns. The tree only ever animates.
TEST_F(ViewControllerTest, APresentationFollowsTheScreenOnTop) {
    root->anyOrientation = true;
    auto b = std::make_shared<Recording>("B", log);
    root->presentModalViewController(b, true);
    EXPECT_EQ(log, (Log{"B.load", "A.willDisappear", "B.willAppear"}));
    sim().advance(platform::kModalTransitionDuration);
    EXPECT_EQ(log, (Log{"B.load", "A.willDisappear", "B.willAppear", "A.didDisappear", "B.didAppear"}));
    EXPECT_EQ(b->view()->superview(), window);
    EXPECT_EQ(b->view()->frame(), Rect(0, 20, 320, 460));
    EXPECT_FALSE(window->deviceDidRotate(InterfaceOrientation::LandscapeLeft)) << "B is portrait only";
    log.clear();
    b->dismissModalViewControllerAnimated(true);
    EXPECT_EQ(log, (Log{"B.willDisappear", "A.willAppear"}));
    EXPECT_TRUE(b->view()->superview()) << "still sliding away";
    sim().advance(platform::kModalTransitionDuration);
    EXPECT_EQ(log, (Log{"B.willDisappear", "A.willAppear", "B.didDisappear", "A.didAppear"}));
    EXPECT_EQ(root->modalViewController(), nullptr);
    EXPECT_EQ(b->view()->superview(), nullptr);
    EXPECT_TRUE(window->deviceDidRotate(InterfaceOrientation::LandscapeLeft));
}

// Nothing then reaches the screen that went.
TEST_F(ViewControllerTest, DismissingDuringAPresentationCompletesItFirst) {
    std::weak_ptr<Recording> weak;
    {
        auto b = std::make_shared<Recording>("B", log);
        weak = b;
        root->presentModalViewController(b, true);
    }
    root->dismissModalViewControllerAnimated(false);
    EXPECT_EQ(log, (Log{"B.load", "A.willDisappear", "B.willAppear", "A.didDisappear", "B.didAppear", "B.willDisappear",
                        "A.willAppear", "B.didDisappear", "A.didAppear"}));
    EXPECT_TRUE(weak.expired());
    sim().advance(1);  // the cancelled animation end does nothing more
    EXPECT_EQ(log.size(), 9u);
}

}  // namespace
