#include "platform/InterfaceFile.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/ActivityIndicatorView.h"
#include "platform/ApplicationLifecycle.h"
#include "platform/Backend.h"
#include "platform/Button.h"
#include "platform/Label.h"
#include "platform/ScrollView.h"
#include "platform/TabBarController.h"
#include "platform/Toolbar.h"
#include "platform/WebView.h"
#include "platform/Window.h"

namespace platform {
namespace {
using json = nlohmann::json;

// Deeper trees than this are taken for a damaged file.
constexpr int kMaxDepth = 64;

struct Registry {
    std::map<std::string, InterfaceFile::ViewFactory> views;
    std::map<std::string, InterfaceFile::ControllerFactory> controllers;
    std::map<std::string, InterfaceFile::ObjectFactory> objects;
    std::string searchDirectory;
    Registry() {
        views["View"] = [](const Rect& r) { return std::make_shared<View>(r); };
        views["WebView"] = [](const Rect& r) { return std::make_shared<WebView>(r); };
        views["ScrollView"] = [](const Rect& r) { return std::make_shared<ScrollView>(r); };
        views["Label"] = [](const Rect& r) { return std::make_shared<Label>(r); };
        views["Button"] = [](const Rect& r) { return std::make_shared<Button>(ButtonType::Custom, r); };
        views["RoundedRectButton"] = [](const Rect& r) { return std::make_shared<Button>(ButtonType::RoundedRect, r); };
        views["ActivityIndicatorView"] = [](const Rect& r) { return std::make_shared<ActivityIndicatorView>(r); };
        views["Toolbar"] = [](const Rect& r) { return std::make_shared<Toolbar>(r); };
        controllers["ViewController"] = [](const std::string& n) { return std::make_shared<ViewController>(n); };
        controllers["TabBarController"] = [](const std::string&) { return std::make_shared<TabBarController>(); };
    }
};
Registry& registry() {
    static Registry r;
    return r;
}

bool fail(std::string* error, std::string reason) {
    if (error) *error = std::move(reason);
    return false;
}

std::optional<double> number(const json& j, const char* key) {
    auto it = j.find(key);
    if (it == j.end() || !it->is_number()) return std::nullopt;
    double v = it->get<double>();
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}
std::optional<bool> boolean(const json& j, const char* key) {
    auto it = j.find(key);
    if (it == j.end() || !it->is_boolean()) return std::nullopt;
    return it->get<bool>();
}
std::optional<std::string> text(const json& j, const char* key) {
    auto it = j.find(key);
    if (it == j.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}
std::optional<std::vector<double>> numbers(const json& j, const char* key, size_t min, size_t max) {
    auto it = j.find(key);
    if (it == j.end() || !it->is_array() || it->size() < min || it->size() > max) return std::nullopt;
    std::vector<double> out;
    for (auto& e : *it) {
        if (!e.is_number()) return std::nullopt;
        double v = e.get<double>();
        if (!std::isfinite(v)) return std::nullopt;
        out.push_back(v);
    }
    return out;
}
std::optional<Rect> rect(const json& j, const char* key) {
    auto n = numbers(j, key, 4, 4);
    if (!n || (*n)[2] < 0 || (*n)[3] < 0) return std::nullopt;
    return Rect((*n)[0], (*n)[1], (*n)[2], (*n)[3]);
}
std::optional<Color> color(const json& j, const char* key) {
    auto n = numbers(j, key, 3, 4);
    if (!n) return std::nullopt;
    for (double v : *n)
        if (v < 0 || v > 1) return std::nullopt;
    return Color{(*n)[0], (*n)[1], (*n)[2], n->size() == 4 ? (*n)[3] : 1.0};
}

std::shared_ptr<Image> image(const json& j, const char* key, const char* scaleKey) {
    auto name = text(j, key);
    if (!name) return nullptr;
    auto dot = name->rfind('.');
    std::string stem = dot == std::string::npos ? *name : name->substr(0, dot);
    std::string type = dot == std::string::npos ? "png" : name->substr(dot + 1);
    auto path = InterfaceFile::pathForResource(stem, type);
    if (!path) {
        log("interface file: no image \"" + *name + "\"");
        return nullptr;
    }
    return Image::fromFile(*path, number(j, scaleKey).value_or(1.0));
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void applyProperties(View& v, const json& j) {
    if (auto m = number(j, "mask"); m && *m >= 0 && *m <= 63) v.setAutoresizingMask(unsigned(*m));
    if (auto h = boolean(j, "hidden")) v.setHidden(*h);
    if (auto c = color(j, "backgroundColor")) v.setBackgroundColor(*c);
    if (auto b = boolean(j, "userInteractionEnabled")) v.setUserInteractionEnabled(*b);
    if (auto b = boolean(j, "opaque")) v.setOpaque(*b);
    if (auto b = boolean(j, "clipsToBounds")) v.setClipsToBounds(*b);
    if (auto a = text(j, "accessibilityLabel")) v.setAccessibilityLabel(*a);
    if (auto* label = dynamic_cast<Label*>(&v)) {
        if (auto t = text(j, "text")) label->setText(*t);
        if (auto s = number(j, "fontSize")) label->setFontSize(*s);
        if (auto b = boolean(j, "bold")) label->setBold(*b);
        if (auto c = color(j, "textColor")) label->setTextColor(*c);
        if (auto a = text(j, "alignment"))
            label->setTextAlignment(*a == "center"  ? TextAlignment::Center
                                    : *a == "right" ? TextAlignment::Right
                                                    : TextAlignment::Left);
        if (auto n = number(j, "lines"); n && *n >= 0 && *n < 10000) label->setNumberOfLines(int(*n));
    }
    if (auto* button = dynamic_cast<Button*>(&v)) {
        if (auto t = text(j, "title")) button->setTitle(*t);
        if (auto img = image(j, "image", "imageScale")) button->setImage(img);
        if (auto g = boolean(j, "glow")) button->setShowsTouchWhenHighlighted(*g);
        if (auto c = color(j, "titleColor")) button->setTitleColor(*c);
        if (auto b = boolean(j, "bold")) button->setBold(*b);
    }
    if (auto* scroll = dynamic_cast<ScrollView*>(&v)) {
        if (auto s = numbers(j, "contentSize", 2, 2); s && (*s)[0] >= 0 && (*s)[1] >= 0)
            scroll->setContentSize({(*s)[0], (*s)[1]});
        if (auto b = boolean(j, "scrollEnabled")) scroll->setScrollEnabled(*b);
    }
    if (auto* spinner = dynamic_cast<ActivityIndicatorView*>(&v)) {
        if (auto s = text(j, "style"))
            spinner->setStyle(*s == "whiteLarge" ? ActivityIndicatorStyle::WhiteLarge
                              : *s == "gray"     ? ActivityIndicatorStyle::Gray
                                                 : ActivityIndicatorStyle::White);
        if (auto b = boolean(j, "hidesWhenStopped")) spinner->setHidesWhenStopped(*b);
    }
    if (auto* web = dynamic_cast<WebView*>(&v)) {
        if (auto b = boolean(j, "scalesPageToFit")) web->setScalesPageToFit(*b);
    }
}

std::shared_ptr<View> buildView(const json& j, Connectable& owner, int depth, std::string* error) {
    if (depth > kMaxDepth) return fail(error, "views nested too deeply"), nullptr;
    if (!j.is_object()) return fail(error, "a view is not an object"), nullptr;
    auto cls = text(j, "class").value_or("View");
    auto it = registry().views.find(cls);
    if (it == registry().views.end()) return fail(error, "unknown view class \"" + cls + "\""), nullptr;
    auto frame = rect(j, "frame").value_or(Rect());
    auto v = it->second(frame);
    if (!v) return fail(error, "class \"" + cls + "\" made no view"), nullptr;
    v->setFrame(frame);
    applyProperties(*v, j);
    if (auto sub = j.find("subviews"); sub != j.end()) {
        if (!sub->is_array()) return fail(error, "subviews is not a list"), nullptr;
        for (auto& s : *sub) {
            auto child = buildView(s, owner, depth + 1, error);
            if (!child) return nullptr;
            v->addSubview(child);
        }
    }
    if (auto outlet = text(j, "outlet")) {
        if (!owner.outlets().connect(*outlet, InterfaceObject{v, nullptr, nullptr}))
            log("interface file: outlet \"" + *outlet + "\" not connected");
    }
    if (auto action = text(j, "action")) {
        auto* button = dynamic_cast<Button*>(v.get());
        auto fn = owner.outlets().action(*action);
        if (button && fn) button->addTarget(fn, kControlEventTouchUpInside);
        else log("interface file: action \"" + *action + "\" not connected");
    }
    return v;
}

std::optional<json> parse(std::string_view text, std::string* error) {
    auto j = json::parse(text.begin(), text.end(), nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        fail(error, "not a JSON object");
        return std::nullopt;
    }
    return j;
}
}  // namespace

void InterfaceFile::registerViewClass(const std::string& name, ViewFactory factory) {
    registry().views[name] = std::move(factory);
}
void InterfaceFile::registerControllerClass(const std::string& name, ControllerFactory factory) {
    registry().controllers[name] = std::move(factory);
}
void InterfaceFile::registerObjectClass(const std::string& name, ObjectFactory factory) {
    registry().objects[name] = std::move(factory);
}
void InterfaceFile::setSearchDirectory(std::string directory) { registry().searchDirectory = std::move(directory); }

std::optional<std::string> InterfaceFile::pathForResource(const std::string& name, const std::string& type) {
    // Names come from files we may not trust: stay inside the resource folder.
    if (name.empty() || name.find('/') != std::string::npos || name.find("..") != std::string::npos ||
        type.find('/') != std::string::npos)
        return std::nullopt;
    auto& dir = registry().searchDirectory;
    if (!dir.empty()) {
        std::error_code ec;
        auto path = dir + "/" + name + (type.empty() ? "" : "." + type);
        if (std::filesystem::is_regular_file(path, ec)) return path;
    }
    if (hasBackend()) return Paths::current().pathForResource(name, type);
    return std::nullopt;
}

std::shared_ptr<View> InterfaceFile::viewFromText(std::string_view textIn, Connectable& owner, std::string* error) {
    auto j = parse(textIn, error);
    if (!j) return nullptr;
    auto it = j->find("view");
    if (it == j->end()) return fail(error, "no \"view\""), nullptr;
    auto v = buildView(*it, owner, 0, error);
    if (v) owner.awakeFromInterface();
    return v;
}

std::shared_ptr<View> InterfaceFile::loadView(const std::string& name, Connectable& owner, std::string* error) {
    auto path = pathForResource(name, "json");
    if (!path) return fail(error, "no file"), nullptr;
    auto data = readFile(*path);
    if (!data) return fail(error, "unreadable"), nullptr;
    return viewFromText(*data, owner, error);
}

std::optional<InterfaceFile::Main> InterfaceFile::mainFromText(std::string_view textIn, std::string* error) {
    auto j = parse(textIn, error);
    if (!j) return std::nullopt;
    auto objs = j->find("objects");
    if (objs == j->end() || !objs->is_array()) return fail(error, "no \"objects\" list"), std::nullopt;
    Main main;
    std::map<std::string, std::shared_ptr<Connectable>> connectables;
    std::map<std::string, const json*> specs;
    // First every object, then the references between them.
    for (auto& o : *objs) {
        if (!o.is_object()) return fail(error, "an object is not an object"), std::nullopt;
        auto id = text(o, "id");
        auto cls = text(o, "class");
        if (!id || !cls || main.objects.count(*id))
            return fail(error, "object without id/class or twice"), std::nullopt;
        InterfaceObject made;
        std::shared_ptr<Connectable> connectable;
        if (*cls == "Window") {
            auto w = std::make_shared<Window>(rect(o, "frame").value_or(Screen::main().bounds()));
            applyProperties(*w, o);
            main.windowVisibleAtLaunch = boolean(o, "visibleAtLaunch").value_or(false);
            if (!main.window) main.window = w;
            made.view = w;
        } else if (auto c = registry().controllers.find(*cls); c != registry().controllers.end()) {
            made.controller = c->second(text(o, "interface").value_or(""));
            connectable = made.controller;
        } else if (auto f = registry().objects.find(*cls); f != registry().objects.end()) {
            connectable = f->second();
            made.other = connectable;
        } else if (auto v = registry().views.find(*cls); v != registry().views.end()) {
            made.view = v->second(rect(o, "frame").value_or(Rect()));
        }
        if (made.empty()) return fail(error, "unknown class \"" + *cls + "\""), std::nullopt;
        main.objects[*id] = made;
        if (connectable) connectables[*id] = connectable;
        specs[*id] = &o;
    }
    for (auto& [id, node] : specs) {
        auto& o = *node;
        auto& made = main.objects[id];
        if (auto c = made.controller) {
            if (auto t = text(o, "title")) c->setTitle(*t);
            if (auto item = o.find("tabBarItem"); item != o.end() && item->is_object()) {
                TabBarItem tab;
                tab.title = text(*item, "title").value_or(c->title());
                tab.image = image(*item, "image", "imageScale");
                c->setTabBarItem(tab);
            }
        }
        if (auto tabs = std::dynamic_pointer_cast<TabBarController>(made.controller)) {
            std::vector<std::shared_ptr<ViewController>> children;
            if (auto list = o.find("viewControllers"); list != o.end() && list->is_array())
                for (auto& ref : *list) {
                    auto child = ref.is_string() ? main.objects.find(ref.get<std::string>()) : main.objects.end();
                    // A tab bar inside a tab bar could list its own holder: the
                    // cycle would never be freed and asking it to rotate recurses.
                    if (child == main.objects.end() || !child->second.controller ||
                        std::dynamic_pointer_cast<TabBarController>(child->second.controller))
                        return fail(error, "tab bar lists an unknown controller or a tab bar"), std::nullopt;
                    children.push_back(child->second.controller);
                }
            tabs->setViewControllers(children);
        }
    }
    for (auto& [id, node] : specs) {
        auto outlets = node->find("outlets");
        if (outlets == node->end() || !outlets->is_object()) continue;
        auto target = connectables.find(id);
        if (target == connectables.end()) return fail(error, "outlets on an object that takes none"), std::nullopt;
        for (auto& [name, ref] : outlets->items()) {
            auto other = ref.is_string() ? main.objects.find(ref.get<std::string>()) : main.objects.end();
            if (other == main.objects.end() || !target->second->outlets().connect(name, other->second))
                log("interface file: outlet \"" + name + "\" not connected");
        }
    }
    for (auto& [id, c] : connectables) c->awakeFromInterface();
    if (auto d = text(*j, "applicationDelegate")) {
        auto it = connectables.find(*d);
        if (it != connectables.end()) main.delegate = std::dynamic_pointer_cast<ApplicationDelegate>(it->second);
        if (!main.delegate) return fail(error, "the application delegate is not one"), std::nullopt;
    }
    return main;
}

std::optional<InterfaceFile::Main> InterfaceFile::loadMain(const std::string& name, std::string* error) {
    auto path = pathForResource(name, "json");
    if (!path) return fail(error, "no file"), std::nullopt;
    auto data = readFile(*path);
    if (!data) return fail(error, "unreadable"), std::nullopt;
    return mainFromText(*data, error);
}

}  // namespace platform
