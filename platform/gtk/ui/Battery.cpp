// The battery for the status bar, from UPower's display device on the system
// bus: the one device that stands for all the batteries together, as a
// desktop's own battery indicator reads it.
#include <cmath>

#include "UiGtk.h"

namespace platform::gtk {

namespace {

constexpr const char* kService = "org.freedesktop.UPower";
constexpr const char* kDisplayDevice = "/org/freedesktop/UPower/devices/DisplayDevice";
constexpr const char* kDeviceInterface = "org.freedesktop.UPower.Device";
// UPower's device states on mains power: charging, fully charged, pending charge.
constexpr guint32 kOnMainsStates[] = {1, 4, 5};

// Lives as long as the process: the bus and the proxy answer on the main
// loop at any time after the first window.
struct Watch {
    bool started = false;
    GRef<GDBusProxy> proxy;
    std::optional<BatteryReading> reading;
    std::function<void()> changed;
};

Watch& watch() {
    static auto* w = new Watch();
    return *w;
}

// One property as the daemon last reported it, when it has the expected type
// (anything else on the bus is not a battery reading).
GUnique<GVariant, g_variant_unref> cached(GDBusProxy* proxy, const char* name, const GVariantType* type) {
    GUnique<GVariant, g_variant_unref> value(g_dbus_proxy_get_cached_property(proxy, name));
    if (value && !g_variant_is_of_type(value.get(), type)) value.reset();
    return value;
}

std::optional<BatteryReading> read(GDBusProxy* proxy) {
    const auto present = cached(proxy, "IsPresent", G_VARIANT_TYPE_BOOLEAN);
    const auto percentage = cached(proxy, "Percentage", G_VARIANT_TYPE_DOUBLE);
    const auto state = cached(proxy, "State", G_VARIANT_TYPE_UINT32);
    if (!present || !g_variant_get_boolean(present.get()) || !percentage) return std::nullopt;
    const double percent = g_variant_get_double(percentage.get());
    if (!(percent >= 0 && percent <= 100)) return std::nullopt;
    BatteryReading reading{int(std::lround(percent)), false};
    if (state)
        for (guint32 mains : kOnMainsStates)
            reading.onMains = reading.onMains || g_variant_get_uint32(state.get()) == mains;
    return reading;
}

void refresh() {
    auto& w = watch();
    auto now = w.proxy ? read(w.proxy.get()) : std::nullopt;
    if (now == w.reading) return;
    w.reading = now;
    if (w.changed) w.changed();
}

void proxyReady(GObject*, GAsyncResult* result, gpointer) {
    auto proxy = GRef<GDBusProxy>::adopt(g_dbus_proxy_new_finish(result, nullptr));
    if (!proxy) return;
    // The daemon may come, go and come back: its properties arrive with it
    // and are dropped when it leaves.
    g_signal_connect(proxy.get(), "g-properties-changed", G_CALLBACK(+[] { refresh(); }), nullptr);
    g_signal_connect(proxy.get(), "notify::g-name-owner", G_CALLBACK(+[] { refresh(); }), nullptr);
    watch().proxy = std::move(proxy);
    refresh();
}

void busReady(GObject*, GAsyncResult* result, gpointer) {
    // No system bus (a container, a test display): no battery to show.
    auto bus = GRef<GDBusConnection>::adopt(g_bus_get_finish(result, nullptr));
    if (!bus) return;
    // Not started on our behalf: a machine without the daemon has nothing to say.
    g_dbus_proxy_new(bus.get(), G_DBUS_PROXY_FLAGS_DO_NOT_AUTO_START, nullptr, kService, kDisplayDevice,
                     kDeviceInterface, nullptr, proxyReady, nullptr);
}

}  // namespace

void watchBattery(std::function<void()> changed) {
    auto& w = watch();
    w.changed = std::move(changed);
    if (w.started) return;
    w.started = true;
    g_bus_get(G_BUS_TYPE_SYSTEM, nullptr, busReady, nullptr);
}

std::optional<BatteryReading> batteryReading() { return watch().reading; }

std::string batteryText(const BatteryReading& reading) {
    std::string text = std::to_string(reading.percent) + " %";
    return reading.onMains ? "\u26A1 " + text : text;
}

}  // namespace platform::gtk
