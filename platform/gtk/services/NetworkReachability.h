#pragma once
// Reachability on GLib's network monitor. An IP-literal host is checked with
// the monitor's routing knowledge (no lookup); a host name is never resolved,
// the answer is then whether any network is up.

#include <gio/gio.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/RunLoop.h"
#include "platform/Services.h"
#include "platform/gtk/GRef.h"
#include "platform/gtk/GSignal.h"

namespace platform::gtk {

class NetworkReachability final : public Reachability {
public:
    static std::unique_ptr<NetworkReachability> create(const std::string& host);
    ~NetworkReachability() override;

    bool start(std::function<void(uint32_t flags)> callback) override;
    void stop() override;

private:
    NetworkReachability(GRef<GNetworkMonitor> monitor, GRef<GSocketConnectable> address);
    void check();
    void cancelPending();
    void deliver(bool reachable);
    static void onCanReach(GObject* source, GAsyncResult* result, gpointer data);
    static void onNetworkChanged(GNetworkMonitor*, gboolean, gpointer self);

    GRef<GNetworkMonitor> monitor_;
    GRef<GSocketConnectable> address_;  // null for a host name
    std::function<void(uint32_t)> callback_;
    GSignalHandler changedHandler_;
    // The pending question's; cancelled by a newer one, stop() and destruction.
    GRef<GCancellable> cancellable_;
    OneShotTimer nameAnswer_;
};

// The flags for a verdict from the monitor.
uint32_t reachabilityFlags(bool reachable, bool metered);

}  // namespace platform::gtk
