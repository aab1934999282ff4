// Interface files build view trees and main objects from JSON, connect
// outlets and actions by name, and refuse damaged files.

#include "platform/Button.h"
#include "platform/InterfaceFile.h"
#include "platform/Label.h"
#include "platform/ViewController.h"
#include "platform/WebView.h"
#include "unit/support/SimTest.h"

namespace {

using platform::InterfaceFile;
using platform::Rect;

class Owner : public platform::ViewController {
public:
    Owner() {
        outlets().add("web", web);
        outlets().add("title", title);
        outlets().addAction("tap", [this] { ++taps; });
    }
    std::shared_ptr<platform::WebView> web;
    std::shared_ptr<platform::Label> title;
    int taps = 0;
};

class InterfaceFileTest : public SimTest {};

// The application's own files show the properties; here what a wrong name,
// kind or value must not do: an outlet takes only its kind, an action connects
// by name, a bad value is ignored.
TEST_F(InterfaceFileTest, WhatAFileGetsWrongIsIgnored) {
    Owner owner;
    auto view = InterfaceFile::viewFromText(R"({"view": {"frame": [0, 0, -5, 10], "mask": 4096,
        "backgroundColor": [2, 0, 0], "hidden": "yes", "subviews": [
        {"class": "WebView", "outlet": "web"}, {"class": "Label", "outlet": "web"},
        {"class": "ScrollView", "subviews": [{"class": "Button", "action": "tap"}, {"class": "Button", "action": "nope"}]},
        {"class": "Label", "outlet": "title", "text": 12, "fontSize": "big", "lines": -3}]}})",
                                            owner);
    ASSERT_TRUE(view);
    // The label named "web" is not a web view: the slot keeps the web view.
    EXPECT_EQ(owner.web, view->subviews()[0]);
    for (const auto& control : view->subviews()[2]->subviews())
        std::dynamic_pointer_cast<platform::Button>(control)->sendActionsForControlEvents(
            platform::kControlEventTouchUpInside);
    EXPECT_EQ(owner.taps, 1);
    EXPECT_EQ(view->frame(), Rect());
    EXPECT_EQ(view->autoresizingMask(), 0u);
    EXPECT_EQ(view->backgroundColor(), platform::Color::clear());
    EXPECT_FALSE(view->isHidden());
    EXPECT_EQ(owner.title->text(), "");
    EXPECT_EQ(owner.title->fontSize(), 17);
}

TEST_F(InterfaceFileTest, DamagedFilesAreRefused) {
    Owner owner;
    std::string deep = R"({"view": )";
    for (int i = 0; i < 200; ++i) deep += R"({"subviews": [)";
    deep += "{}";
    for (int i = 0; i < 200; ++i) deep += "]}";
    for (const std::string& text :
         {std::string(R"({"view": 3})"), std::string(R"({"view": {"class": "NoSuchView"}})"), deep + "}"})
        EXPECT_FALSE(InterfaceFile::viewFromText(text, owner)) << text.substr(0, 40);
    // A tab bar listing itself was never freed, and recursed without end when the device turned.
    for (const char* text : {R"({"objects": [{"id": "t", "class": "TabBarController", "viewControllers": ["t"]}]})",
                             R"({"objects": [{"id": "a", "class": "Window"}, {"id": "a", "class": "Window"}]})",
                             R"({"objects": [{"id": "w", "class": "Window"}], "applicationDelegate": "w"})"})
        EXPECT_FALSE(InterfaceFile::mainFromText(text)) << text;
}

TEST_F(InterfaceFileTest, ResourceNamesStayInsideTheResourceFolder) {
    InterfaceFile::setSearchDirectory(MENSAJES_RESOURCES_DIR);
    EXPECT_TRUE(InterfaceFile::pathForResource("MainWindow", "json"));
    const std::pair<const char*, const char*> outside[] = {
        {"../CMakeLists", "txt"}, {"/etc/passwd", ""}, {"MainWindow", "/json"}, {"", "json"}};
    for (const auto& [name, type] : outside) EXPECT_FALSE(InterfaceFile::pathForResource(name, type)) << name << type;
    InterfaceFile::setSearchDirectory("");
}

}  // namespace
