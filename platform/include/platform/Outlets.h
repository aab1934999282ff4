#pragma once
// Outlets and actions connected by name: the objects an interface file makes
// are handed to their owner through a map of named slots and actions.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <type_traits>

namespace platform {

class View;
class ViewController;

// One object made by an interface file.
struct InterfaceObject {
    std::shared_ptr<View> view;
    std::shared_ptr<ViewController> controller;
    std::shared_ptr<void> other;  // any other registered class
    bool empty() const { return !view && !controller && !other; }
};

class Outlets {
public:
    // A slot of a type derived from View or ViewController; connecting an
    // object of another type fails (returns false) and leaves the slot alone.
    template <class T>
    void add(const std::string& name, std::shared_ptr<T>& slot) {
        setters_[name] = [&slot](const InterfaceObject& o) {
            if constexpr (std::is_base_of_v<View, T>) {
                auto v = std::dynamic_pointer_cast<T>(o.view);
                if (!v) return false;
                slot = std::move(v);
                return true;
            } else if constexpr (std::is_base_of_v<ViewController, T>) {
                auto c = std::dynamic_pointer_cast<T>(o.controller);
                if (!c) return false;
                slot = std::move(c);
                return true;
            } else {
                if (!o.other) return false;
                slot = std::static_pointer_cast<T>(o.other);
                return true;
            }
        };
    }
    void addAction(const std::string& name, std::function<void()> action) { actions_[name] = std::move(action); }

    bool connect(const std::string& name, const InterfaceObject& object) const {
        auto it = setters_.find(name);
        return it != setters_.end() && it->second(object);
    }
    std::function<void()> action(const std::string& name) const {
        auto it = actions_.find(name);
        return it == actions_.end() ? std::function<void()>() : it->second;
    }
    bool hasOutlet(const std::string& name) const { return setters_.count(name) != 0; }

private:
    std::map<std::string, std::function<bool(const InterfaceObject&)>> setters_;
    std::map<std::string, std::function<void()>> actions_;
};

// Objects that an interface file connects to.
class Connectable {
public:
    virtual ~Connectable() = default;
    Outlets& outlets() { return outlets_; }
    const Outlets& outlets() const { return outlets_; }
    // Called once every outlet of the file has been connected.
    virtual void awakeFromInterface() {}

private:
    Outlets outlets_;
};

}  // namespace platform
