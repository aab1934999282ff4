#include "NetworkReachability.h"

namespace platform::gtk {

uint32_t reachabilityFlags(bool reachable, bool metered) {
    if (!reachable) return 0;
    return kReachabilityFlagReachable | (metered ? kReachabilityFlagIsWWAN : 0);
}

NetworkReachability::NetworkReachability(GRef<GNetworkMonitor> monitor, GRef<GSocketConnectable> address)
    : monitor_(std::move(monitor)), address_(std::move(address)) {}

NetworkReachability::~NetworkReachability() { stop(); }

std::unique_ptr<NetworkReachability> NetworkReachability::create(const std::string& host) {
    if (host.empty()) return nullptr;
    GNetworkMonitor* monitor = g_network_monitor_get_default();
    if (!monitor) return nullptr;
    GRef<GSocketConnectable> address;
    std::string literal = host;
    if (literal.size() > 2 && literal.front() == '[' && literal.back() == ']')
        literal = literal.substr(1, literal.size() - 2);
    if (auto inet = GRef<GInetAddress>::adopt(g_inet_address_new_from_string(literal.c_str())))
        address = GRef<GSocketConnectable>::adopt(G_SOCKET_CONNECTABLE(g_inet_socket_address_new(inet.get(), 0)));
    return std::unique_ptr<NetworkReachability>(
        new NetworkReachability(GRef<GNetworkMonitor>::retain(monitor), std::move(address)));
}

bool NetworkReachability::start(std::function<void(uint32_t flags)> callback) {
    if (!callback) return false;
    stop();
    callback_ = std::move(callback);
    changedHandler_ = GSignalHandler(monitor_.get(), "network-changed", G_CALLBACK(onNetworkChanged), this);
    check();
    return true;
}

void NetworkReachability::stop() {
    callback_ = nullptr;
    changedHandler_.reset();
    nameAnswer_.stop();
    cancelPending();
}

void NetworkReachability::cancelPending() {
    if (cancellable_) g_cancellable_cancel(cancellable_.get());
    cancellable_.reset();
}

void NetworkReachability::onNetworkChanged(GNetworkMonitor*, gboolean, gpointer self) {
    static_cast<NetworkReachability*>(self)->check();
}

void NetworkReachability::check() {
    if (!callback_) return;
    cancelPending();  // the newer answer wins
    if (!address_) {
        // Answered on a later turn, so that start() itself never calls back.
        if (!nameAnswer_.isRunning())
            nameAnswer_.start(0, [this] { deliver(g_network_monitor_get_network_available(monitor_.get())); });
        return;
    }
    cancellable_ = GRef<GCancellable>::adopt(g_cancellable_new());
    g_network_monitor_can_reach_async(monitor_.get(), address_.get(), cancellable_.get(), onCanReach,
                                      PendingCall<NetworkReachability*>::make(cancellable_.get(), this));
}

void NetworkReachability::onCanReach(GObject* source, GAsyncResult* result, gpointer data) {
    auto self = PendingCall<NetworkReachability*>::take(data);
    const bool reachable = g_network_monitor_can_reach_finish(G_NETWORK_MONITOR(source), result, nullptr);
    // Superseded, stopped or gone: nothing here may be touched.
    if (!self) return;
    (*self)->deliver(reachable);
}

void NetworkReachability::deliver(bool reachable) {
    if (!callback_) return;
    // A copy: the callback may stop or destroy this object (and its own copy).
    auto callback = callback_;
    callback(reachabilityFlags(reachable, g_network_monitor_get_network_metered(monitor_.get())));
}

}  // namespace platform::gtk
