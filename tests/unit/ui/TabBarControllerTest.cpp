#include "platform/TabBarController.h"
#include "platform/Window.h"
#include "unit/support/SimTest.h"

namespace {

using platform::Rect;
using Log = std::vector<std::string>;

class Tab : public platform::ViewController {
public:
    Tab(std::string name, Log& log, bool landscape = false) : name_(std::move(name)), log_(log), landscape_(landscape) {
        setTabBarItem({name_, nullptr, 0});
    }
    void viewWillAppear(bool) override { log_.push_back(name_ + ".willAppear"); }
    void viewDidAppear(bool) override { log_.push_back(name_ + ".didAppear"); }
    void viewWillDisappear(bool) override { log_.push_back(name_ + ".willDisappear"); }
    void viewDidDisappear(bool) override { log_.push_back(name_ + ".didDisappear"); }
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation o) override {
        return landscape_ || o == platform::InterfaceOrientation::Portrait;
    }

private:
    std::string name_;
    Log& log_;
    bool landscape_;
};

class TabBarControllerTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        a = std::make_shared<Tab>("a", log, true);
        b = std::make_shared<Tab>("b", log, false);
        tabs = std::make_shared<platform::TabBarController>();
        tabs->setViewControllers({a, b});
        window = std::make_shared<platform::Window>(Rect(0, 0, 320, 480));
        window->addSubview(tabs->view());
        window->makeKeyAndVisible();
    }
    Log log;
    std::shared_ptr<Tab> a, b;
    std::shared_ptr<platform::TabBarController> tabs;
    std::shared_ptr<platform::Window> window;
};

TEST_F(TabBarControllerTest, ControllerViewAddedToTheWindowActsAsRootAndShowsTheFirstTab) {
    EXPECT_EQ(log, (Log{"a.willAppear", "a.didAppear"}));
    EXPECT_EQ(tabs->view()->frame(), Rect(0, 20, 320, 460));
    EXPECT_EQ(tabs->tabBar()->frame(), Rect(0, 411, 320, 49));
    EXPECT_EQ(a->view()->frame(), Rect(0, 0, 320, 411));
    EXPECT_EQ(a->parentViewController(), tabs);
    ASSERT_EQ(tabs->tabBar()->buttons().size(), 2u);
    EXPECT_EQ(tabs->tabBar()->buttons()[1]->title(), "b");
    EXPECT_TRUE(tabs->tabBar()->buttons()[0]->isSelected());
}

TEST_F(TabBarControllerTest, TappingATabSwitchesScreensInOrder) {
    log.clear();
    tabs->tabBar()->buttons()[1]->touchDown();
    tabs->tabBar()->buttons()[1]->touchUp(true);
    EXPECT_EQ(tabs->selectedIndex(), 1u);
    EXPECT_EQ(log, (Log{"a.willDisappear", "b.willAppear", "a.didDisappear", "b.didAppear"}));
    EXPECT_EQ(a->view()->superview(), nullptr);
    EXPECT_TRUE(b->view()->isDescendantOf(*tabs->view()));
    EXPECT_FALSE(tabs->tabBar()->buttons()[0]->isSelected());
    log.clear();
    tabs->setSelectedIndex(1);  // already there
    tabs->setSelectedIndex(7);  // no such tab
    tabs->tabBar()->buttons()[0]->touchDown();
    tabs->tabBar()->buttons()[0]->touchUp(false);  // lifted outside: no switch
    EXPECT_TRUE(log.empty());
}

TEST_F(TabBarControllerTest, TurnsOnlyWhenEveryTabAgreesAndResizesTheSelectedScreen) {
    EXPECT_FALSE(window->deviceDidRotate(platform::InterfaceOrientation::LandscapeLeft));
    b = std::make_shared<Tab>("b2", log, true);
    tabs->setViewControllers({a, b});
    EXPECT_TRUE(window->deviceDidRotate(platform::InterfaceOrientation::LandscapeLeft));
    EXPECT_EQ(tabs->view()->frame(), Rect(0, 20, 480, 300));
    EXPECT_EQ(tabs->tabBar()->frame(), Rect(0, 251, 480, 49));
    EXPECT_EQ(a->view()->frame(), Rect(0, 0, 480, 251));
    EXPECT_EQ(b->interfaceOrientation(), platform::InterfaceOrientation::LandscapeLeft);
}

}  // namespace
