#pragma once
// Reachability on GLib's network monitor. An IP-literal host is checked with
// the monitor's routing knowledge (no lookup); a host name is never resolved,
// the answer is then whether any network is up.

#include <gio/gio.h>

#include <memory>
#include <string>

#include "platform/Services.h"

namespace platform::gtk {

class NetworkReachability final : public Reachability {
public:
    static std::unique_ptr<NetworkReachability> create(const std::string& host);
    ~NetworkReachability() override;

    bool start(std::function<void(uint32_t flags)> callback) override;
    void stop() override;

    struct State;

private:
    explicit NetworkReachability(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

// The flags for a verdict from the monitor.
uint32_t reachabilityFlags(bool reachable, bool metered);

}  // namespace platform::gtk
