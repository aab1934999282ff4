#pragma once
// Signal handlers that end with their owner, so that no handler outlives the
// object it calls: GSignalHandler for one held by an owner, connectUntil for
// one that ends itself.

#include <functional>
#include <utility>

#include "platform/gtk/GRef.h"

namespace platform::gtk {

// One connected handler: destroying or resetting the handle disconnects it.
// The handle holds the instance, so the disconnect never meets a freed
// object; an owner whose teardown makes the instance emit (a widget it
// destroys, a load it stops) resets its handles first.
class GSignalHandler {
public:
    GSignalHandler() = default;
    // Connects callback(instance, ..., data) to the instance's signal
    // (G_CONNECT_SWAPPED: callback(data, ...)).
    GSignalHandler(gpointer instance, const char* signal, GCallback callback, gpointer data,
                   GConnectFlags flags = GConnectFlags(0))
        : instance_(GRef<GObject>::retain(G_OBJECT(instance))),
          id_(g_signal_connect_data(instance, signal, callback, data, nullptr, flags)) {}
    GSignalHandler(GSignalHandler&& o) noexcept : instance_(std::move(o.instance_)), id_(std::exchange(o.id_, 0)) {}
    GSignalHandler& operator=(GSignalHandler&& o) noexcept {
        if (this != &o) {
            reset();
            instance_ = std::move(o.instance_);
            id_ = std::exchange(o.id_, 0);
        }
        return *this;
    }
    ~GSignalHandler() { reset(); }

    explicit operator bool() const { return id_ != 0; }
    gpointer instance() const { return instance_.get(); }
    void reset() {
        if (id_ && g_signal_handler_is_connected(instance_.get(), id_))
            g_signal_handler_disconnect(instance_.get(), id_);
        id_ = 0;
        instance_.reset();
    }

private:
    GRef<GObject> instance_;
    gulong id_ = 0;
};

namespace detail {
template <typename Instance, typename... Args>
struct HandlerUntil {
    std::function<bool(Instance*, Args...)> handle;
    static void call(Instance* instance, Args... args, gpointer data) {
        if (!static_cast<HandlerUntil*>(data)->handle(instance, args...)) return;
        // Freed once this emission is over.
        g_signal_handlers_disconnect_matched(instance, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, data);
    }
};
}  // namespace detail

// Runs handle(instance, args...) on each emission of a signal without a
// return value until it answers true; the handler then goes, and handle with
// it (also when the instance goes first).
template <typename Instance, typename... Args, typename F>
void connectUntil(Instance* instance, const char* signal, F handle) {
    using Handler = detail::HandlerUntil<Instance, Args...>;
    g_signal_connect_data(
        instance, signal, G_CALLBACK(&Handler::call), new Handler{std::move(handle)},
        +[](gpointer data, GClosure*) { delete static_cast<Handler*>(data); }, GConnectFlags(0));
}

}  // namespace platform::gtk
