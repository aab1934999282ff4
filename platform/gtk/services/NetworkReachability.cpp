#include "NetworkReachability.h"

#include "platform/gtk/GRef.h"

namespace platform::gtk {

uint32_t reachabilityFlags(bool reachable, bool metered) {
    if (!reachable) return 0;
    return kReachabilityFlagReachable | (metered ? kReachabilityFlagIsWWAN : 0);
}

// Shared with the pending GLib calls, which hold a reference each; the public
// object only switches it off.
struct NetworkReachability::State : std::enable_shared_from_this<NetworkReachability::State> {
    GRef<GNetworkMonitor> monitor;
    GRef<GSocketConnectable> address;  // null for a host name
    std::function<void(uint32_t)> callback;
    bool active = false;
    gulong changedHandler = 0;
    guint idleSource = 0;
    GRef<GCancellable> pending;

    void check();
    void deliver(bool reachable);
    void shutDown();
};

namespace {

struct CallData {
    std::shared_ptr<NetworkReachability::State> state;
    GRef<GCancellable> cancellable;
};

void onCanReach(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<CallData> call(static_cast<CallData*>(data));
    GError* error = nullptr;
    const bool reachable = g_network_monitor_can_reach_finish(G_NETWORK_MONITOR(source), result, &error);
    const bool cancelled = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    if (error) g_error_free(error);
    if (cancelled || g_cancellable_is_cancelled(call->cancellable.get())) return;
    auto& state = *call->state;
    if (state.pending.get() == call->cancellable.get()) state.pending.reset();
    state.deliver(reachable);
}

void onNetworkChanged(GNetworkMonitor*, gboolean, gpointer data) {
    static_cast<NetworkReachability::State*>(data)->check();
}

}  // namespace

void NetworkReachability::State::check() {
    if (!active) return;
    if (pending) g_cancellable_cancel(pending.get());  // the newer answer wins
    pending.reset();
    if (!address) {
        // Asked on the next turn so that start() itself never calls back.
        if (idleSource) return;
        auto* data = new std::weak_ptr<State>(weak_from_this());
        idleSource = g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer d) -> gboolean {
                auto state = static_cast<std::weak_ptr<State>*>(d)->lock();
                if (!state) return G_SOURCE_REMOVE;
                state->idleSource = 0;
                state->deliver(g_network_monitor_get_network_available(state->monitor.get()));
                return G_SOURCE_REMOVE;
            },
            data, [](gpointer d) { delete static_cast<std::weak_ptr<State>*>(d); });
        return;
    }
    pending = GRef<GCancellable>::adopt(g_cancellable_new());
    g_network_monitor_can_reach_async(monitor.get(), address.get(), pending.get(), onCanReach,
                                      new CallData{shared_from_this(), pending});
}

void NetworkReachability::State::deliver(bool reachable) {
    if (!active || !callback) return;
    auto keep = shared_from_this();
    auto cb = callback;  // the callback may stop us (and drop its own copy)
    cb(reachabilityFlags(reachable, g_network_monitor_get_network_metered(monitor.get())));
}

void NetworkReachability::State::shutDown() {
    active = false;
    callback = nullptr;
    if (changedHandler) g_signal_handler_disconnect(monitor.get(), changedHandler);
    changedHandler = 0;
    if (idleSource) g_source_remove(idleSource);
    idleSource = 0;
    if (pending) g_cancellable_cancel(pending.get());
    pending.reset();
}

std::unique_ptr<NetworkReachability> NetworkReachability::create(const std::string& host) {
    if (host.empty()) return nullptr;
    GNetworkMonitor* monitor = g_network_monitor_get_default();
    if (!monitor) return nullptr;
    auto state = std::make_shared<State>();
    state->monitor = GRef<GNetworkMonitor>::retain(monitor);
    std::string literal = host;
    if (literal.size() > 2 && literal.front() == '[' && literal.back() == ']') literal = literal.substr(1, literal.size() - 2);
    if (GInetAddress* inet = g_inet_address_new_from_string(literal.c_str())) {
        state->address = GRef<GSocketConnectable>::adopt(G_SOCKET_CONNECTABLE(g_inet_socket_address_new(inet, 0)));
        g_object_unref(inet);
    }
    return std::unique_ptr<NetworkReachability>(new NetworkReachability(std::move(state)));
}

NetworkReachability::NetworkReachability(std::shared_ptr<State> state) : state_(std::move(state)) {}

NetworkReachability::~NetworkReachability() { state_->shutDown(); }

bool NetworkReachability::start(std::function<void(uint32_t flags)> callback) {
    if (!callback) return false;
    state_->shutDown();
    state_->callback = std::move(callback);
    state_->active = true;
    state_->changedHandler =
        g_signal_connect(state_->monitor.get(), "network-changed", G_CALLBACK(onNetworkChanged), state_.get());
    state_->check();
    return true;
}

void NetworkReachability::stop() { state_->shutDown(); }

}  // namespace platform::gtk
