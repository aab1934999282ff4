// Interface files build view trees and main objects from JSON, connect
// outlets and actions by name, and refuse damaged files without crashing.

#include "platform/ApplicationMain.h"
#include "platform/Button.h"
#include "platform/InterfaceFile.h"
#include "platform/Label.h"
#include "platform/ScrollView.h"
#include "platform/TabBarController.h"
#include "platform/WebView.h"
#include "platform/Window.h"
#include "unit/support/SimTest.h"

namespace {

using platform::InterfaceFile;
using platform::Rect;

class Owner : public platform::ViewController {
public:
    Owner() {
        outlets().add("web", web);
        outlets().add("scroll", scroll);
        outlets().add("title", title);
        outlets().addAction("tap", [this] { ++taps; });
    }
    void awakeFromInterface() override { ++awakened; }
    std::shared_ptr<platform::WebView> web;
    std::shared_ptr<platform::ScrollView> scroll;
    std::shared_ptr<platform::Label> title;
    int taps = 0, awakened = 0;
};

class InterfaceFileTest : public SimTest {};

TEST_F(InterfaceFileTest, BuildsTheTreeAndConnectsOutletsAndActions) {
    Owner owner;
    std::string error;
    auto view = InterfaceFile::viewFromText(R"({"view": {"frame": [0, 0, 320, 411], "mask": 18, "subviews": [
        {"class": "WebView", "outlet": "web", "frame": [0, 0, 320, 361], "mask": 18},
        {"class": "ScrollView", "outlet": "scroll", "frame": [0, 0, 320, 411], "contentSize": [320, 452],
         "subviews": [{"class": "Button", "action": "tap", "frame": [10, 400, 100, 40], "title": "Go"},
                      {"class": "Label", "outlet": "title", "text": "Hola", "lines": 0, "alignment": "center"}]},
        {"class": "Label", "outlet": "web"}]}})",
                                            owner, &error);
    ASSERT_TRUE(view) << error;
    EXPECT_EQ(view->autoresizingMask(), 18u);
    ASSERT_EQ(view->subviews().size(), 3u);
    // The label named "web" is not a web view: the slot keeps the web view.
    EXPECT_EQ(owner.web, view->subviews()[0]);
    EXPECT_EQ(owner.web->frame(), Rect(0, 0, 320, 361));
    ASSERT_TRUE(owner.scroll && owner.title);
    EXPECT_EQ(owner.scroll->contentSize(), (platform::Size{320, 452}));
    EXPECT_EQ(owner.title->text(), "Hola");
    EXPECT_EQ(owner.title->textAlignment(), platform::TextAlignment::Center);
    auto button = std::dynamic_pointer_cast<platform::Button>(owner.scroll->subviews()[0]);
    ASSERT_TRUE(button);
    button->sendActionsForControlEvents(platform::kControlEventTouchUpInside);
    EXPECT_EQ(owner.taps, 1);
    EXPECT_EQ(owner.awakened, 1);
}

TEST_F(InterfaceFileTest, DamagedFilesGiveNoViewAndAReason) {
    Owner owner;
    std::string deep = R"({"view": )";
    for (int i = 0; i < 200; ++i) deep += R"({"subviews": [)";
    deep += "{}";
    for (int i = 0; i < 200; ++i) deep += "]}";
    deep += "}";
    for (const std::string& text :
         std::vector<std::string>{"", "[1, 2]", R"({"view": 3})", R"({"nothing": {}})", R"({"view": {"subviews": 5}})",
                                  R"({"view": {"class": "NoSuchView"}})", R"({"view": {"subviews": [{"class": 7}])",
                                  deep}) {
        std::string error;
        EXPECT_FALSE(InterfaceFile::viewFromText(text, owner, &error)) << text.substr(0, 40);
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(owner.awakened, 0);
}

TEST_F(InterfaceFileTest, BadValuesAreIgnoredNotApplied) {
    Owner owner;
    auto view = InterfaceFile::viewFromText(
        R"({"view": {"frame": [0, 0, -5, 10], "mask": 4096, "backgroundColor": [2, 0, 0], "hidden": "yes",
                     "subviews": [{"class": "Label", "outlet": "title", "text": 12, "fontSize": "big",
                                   "lines": -3}]}})",
        owner);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->frame(), Rect());
    EXPECT_EQ(view->autoresizingMask(), 0u);
    EXPECT_EQ(view->backgroundColor(), platform::Color::clear());
    EXPECT_FALSE(view->isHidden());
    EXPECT_EQ(owner.title->text(), "");
    EXPECT_EQ(owner.title->fontSize(), 17);
}

TEST_F(InterfaceFileTest, ResourceNamesStayInsideTheResourceFolder) {
    InterfaceFile::setSearchDirectory(MENSAJES_RESOURCES_DIR);
    EXPECT_TRUE(InterfaceFile::pathForResource("MainWindow", "json"));
    const std::pair<const char*, const char*> outside[] = {
        {"../CMakeLists", "txt"}, {"/etc/passwd", ""}, {"MainWindow", "/json"}, {"", "json"}};
    for (const auto& [name, type] : outside) EXPECT_FALSE(InterfaceFile::pathForResource(name, type)) << name << type;
    InterfaceFile::setSearchDirectory("");
}

class AppDelegate : public platform::ApplicationDelegate {
public:
    AppDelegate() {
        outlets().add("window", window);
        outlets().add("tabs", tabs);
    }
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<platform::TabBarController> tabs;
};

TEST_F(InterfaceFileTest, MainFileMakesTheObjectsAndTheirReferences) {
    InterfaceFile::registerObjectClass("TestAppDelegate", [] { return std::make_shared<AppDelegate>(); });
    std::string error;
    auto main = InterfaceFile::mainFromText(R"({"objects": [
        {"id": "w", "class": "Window", "frame": [0, 0, 320, 480], "visibleAtLaunch": true},
        {"id": "one", "class": "ViewController", "title": "Uno", "tabBarItem": {"title": "1"}},
        {"id": "two", "class": "ViewController", "title": "Dos"},
        {"id": "t", "class": "TabBarController", "viewControllers": ["one", "two"]},
        {"id": "d", "class": "TestAppDelegate", "outlets": {"window": "w", "tabs": "t", "missing": "w"}}],
        "applicationDelegate": "d"})",
                                            &error);
    ASSERT_TRUE(main) << error;
    EXPECT_TRUE(main->windowVisibleAtLaunch);
    auto d = std::dynamic_pointer_cast<AppDelegate>(main->delegate);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->window, main->window);
    ASSERT_TRUE(d->tabs && d->tabs->viewControllers().size() == 2u);
    EXPECT_EQ(d->tabs->viewControllers()[0]->tabBarItem().title, "1");
    EXPECT_EQ(d->tabs->viewControllers()[1]->title(), "Dos");
    EXPECT_FALSE(InterfaceFile::mainFromText(R"({"objects": [{"id": "t", "class": "TabBarController",
        "viewControllers": ["ghost"]}]})"));
    EXPECT_FALSE(InterfaceFile::mainFromText(R"({"objects": [{"id": "a", "class": "Window"},
        {"id": "a", "class": "Window"}]})"));
    EXPECT_FALSE(InterfaceFile::mainFromText(R"({"objects": [{"id": "w", "class": "Window"}],
        "applicationDelegate": "w"})"));
    EXPECT_FALSE(InterfaceFile::mainFromText(R"({"objects": [{"id": "x", "class": "Nope"}]})"));
}

}  // namespace
