#pragma once
// Interface files: screens' layouts and the application's main objects,
// described in JSON files among the bundled resources ("<name>.json") and
// built at run time. Objects are made from registered classes and handed to
// their owner's outlets by name.
//
// A screen's file:   {"view": VIEW}
// VIEW:   {"class": "WebView", "frame": [x, y, w, h], "mask": 18, "outlet": "webView",
//          "hidden": false, "backgroundColor": [r, g, b, a], "subviews": [VIEW, ...], ...}
//   Properties by class: Label "text" "fontSize" "bold" "textColor" "alignment" "lines";
//   Button "title" "image" "imageScale" "glow" "action"; ScrollView "contentSize" "scrollEnabled";
//   ActivityIndicatorView "style" ("white", "whiteLarge", "gray") "hidesWhenStopped";
//   WebView "scalesPageToFit"; any view "userInteractionEnabled" "opaque" "clipsToBounds".
// The main file: {"objects": [{"id": ..., "class": ..., ...}], "applicationDelegate": id}
//   Window "frame" "visibleAtLaunch"; TabBarController "viewControllers": [ids];
//   controllers "interface" "title" "tabBarItem": {"title", "image", "imageScale"};
//   any object "outlets": {"name": id}.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Outlets.h"
#include "platform/View.h"

namespace platform {

class Window;
class ApplicationDelegate;

class InterfaceFile {
public:
    using ViewFactory = std::function<std::shared_ptr<View>(const Rect&)>;
    using ControllerFactory = std::function<std::shared_ptr<ViewController>(const std::string& interfaceName)>;
    using ObjectFactory = std::function<std::shared_ptr<Connectable>()>;
    static void registerViewClass(const std::string& name, ViewFactory factory);
    static void registerControllerClass(const std::string& name, ControllerFactory factory);
    static void registerObjectClass(const std::string& name, ObjectFactory factory);

    // Where files and images are looked up first (then the bundle's resources).
    static void setSearchDirectory(std::string directory);
    static std::optional<std::string> pathForResource(const std::string& name, const std::string& type);

    // A screen's view tree, its outlets and actions connected to the owner.
    // Null (and a reason) for a missing or malformed file.
    static std::shared_ptr<View> loadView(const std::string& name, Connectable& owner, std::string* error = nullptr);
    static std::shared_ptr<View> viewFromText(std::string_view json, Connectable& owner, std::string* error = nullptr);

    struct Main {
        std::shared_ptr<Window> window;
        bool windowVisibleAtLaunch = false;
        std::shared_ptr<ApplicationDelegate> delegate;
        std::map<std::string, InterfaceObject> objects;
    };
    static std::optional<Main> loadMain(const std::string& name, std::string* error = nullptr);
    static std::optional<Main> mainFromText(std::string_view json, std::string* error = nullptr);
};

}  // namespace platform
