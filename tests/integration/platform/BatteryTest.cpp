// The status bar shows the battery as the power daemon (UPower) reports it on
// the system bus, and nothing when there is no daemon, no battery or no
// believable reading; never a made-up carrier. The daemon here is a stand-in
// on a private bus named as the system bus. Runs in a process of its own (see
// tests/CMakeLists.txt): the system bus is found once per process.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "integration/support/GtkDriver.h"
#include "integration/support/PrivateBus.h"

namespace {

using nimbra::test::findWidget;
using nimbra::test::spinUntil;
using platform::gtk::GRef;

constexpr const char* kService = "org.freedesktop.UPower";
constexpr const char* kDisplayDevice = "/org/freedesktop/UPower/devices/DisplayDevice";
constexpr const char* kDeviceInterface = "org.freedesktop.UPower.Device";

// UPower's display device: answers GetAll with what it last published, and
// announces each publication.
class UPowerStandIn {
public:
    UPowerStandIn() : bus_([shared = shared_](GDBusMessage* call) { return answer(*shared, call); }) {}
    bool ok() const { return bus_.ok(); }
    const std::string& address() const { return bus_.address(); }
    bool appear() { return bus_.own(kService); }
    bool leave() { return bus_.disown(kService); }
    // The device's properties (a{sv}) from now on, announced as changed.
    void publish(GVariant* properties) {
        GVariant* published = g_variant_ref_sink(properties);
        {
            std::lock_guard lock(shared_->mutex);
            shared_->properties.reset(published);
        }
        g_dbus_connection_emit_signal(
            bus_.connection(), nullptr, kDisplayDevice, "org.freedesktop.DBus.Properties", "PropertiesChanged",
            g_variant_new("(s@a{sv}@as)", kDeviceInterface, published, g_variant_new_strv(nullptr, 0)), nullptr);
    }

private:
    struct Shared {
        std::mutex mutex;
        platform::gtk::GUnique<GVariant, g_variant_unref> properties;  // a{sv}
    };
    static GRef<GDBusMessage> answer(Shared& shared, GDBusMessage* call) {
        const std::string member = g_dbus_message_get_member(call) ? g_dbus_message_get_member(call) : "";
        const std::string path = g_dbus_message_get_path(call) ? g_dbus_message_get_path(call) : "";
        if (path != kDisplayDevice || member != "GetAll") return {};
        std::lock_guard lock(shared.mutex);
        auto reply = GRef<GDBusMessage>::adopt(g_dbus_message_new_method_reply(call));
        GVariant* all =
            shared.properties ? shared.properties.get() : g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0);
        g_dbus_message_set_body(reply.get(), g_variant_new("(@a{sv})", all));
        return reply;
    }
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    nimbra::test::PrivateBus bus_;
};

// The display device as UPower describes it; a percentage of another type
// when `percentage` is text.
GVariant* device(bool present, std::optional<double> percent, guint32 state, const char* percentText = nullptr) {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&b, "{sv}", "IsPresent", g_variant_new_boolean(present));
    g_variant_builder_add(&b, "{sv}", "Type", g_variant_new_uint32(2));
    if (percent) g_variant_builder_add(&b, "{sv}", "Percentage", g_variant_new_double(*percent));
    if (percentText) g_variant_builder_add(&b, "{sv}", "Percentage", g_variant_new_string(percentText));
    g_variant_builder_add(&b, "{sv}", "State", g_variant_new_uint32(state));
    return g_variant_builder_end(&b);
}

// The texts the status bar shows, in order.
std::vector<std::string> statusBarTexts(const platform::Window& window) {
    std::vector<std::string> texts;
    GtkWidget* bar = findWidget(platform::gtk::widgetForView(window),
                                [](GtkWidget* w) { return gtk_widget_has_css_class(w, "nimbra-statusbar"); });
    findWidget(bar, [&](GtkWidget* w) {
        if (GTK_IS_LABEL(w) && gtk_widget_get_visible(w)) texts.push_back(gtk_label_get_text(GTK_LABEL(w)));
        return false;
    });
    return texts;
}

TEST(Battery, TheStatusBarShowsOnlyWhatUPowerReports) {
    UPowerStandIn upower;
    ASSERT_TRUE(upower.ok()) << "no private bus";
    g_setenv("DBUS_SYSTEM_BUS_ADDRESS", upower.address().c_str(), TRUE);
    auto window = nimbra::test::shownWindow();
    // The time alone, and never a carrier's name.
    const std::regex time("[0-9]{2}:[0-9]{2}");
    const auto shows = [&](const std::optional<std::string>& battery) {
        return spinUntil(
            [&] {
                const auto texts = statusBarTexts(*window);
                return texts.size() == (battery ? 2u : 1u) && std::regex_match(texts[0], time) &&
                       (!battery || texts[1] == *battery);
            },
            10);
    };
    // A bus without the daemon.
    nimbra::test::spinFor(0.5);
    EXPECT_TRUE(shows(std::nullopt));
    upower.publish(device(true, 57.4, 2));
    ASSERT_TRUE(upower.appear());
    EXPECT_TRUE(shows("57 %"));
    const struct {
        const char* what;
        GVariant* properties;
        std::optional<std::string> shown;
    } changes[] = {
        {"charging", device(true, 58, 1), "\u26A1 58 %"},
        {"full on mains", device(true, 100, 4), "\u26A1 100 %"},
        {"on the battery", device(true, 21.5, 2), "22 %"},
        {"no battery in the machine", device(false, 0, 0), std::nullopt},
        {"back", device(true, 33, 2), "33 %"},
        {"beyond a full battery", device(true, 250, 2), std::nullopt},
        {"not a number", device(true, std::nan(""), 2), std::nullopt},
        {"a percentage as text", device(true, std::nullopt, 2, "57"), std::nullopt},
        {"no state", device(true, 40, 0), "40 %"},
    };
    for (const auto& change : changes) {
        SCOPED_TRACE(change.what);
        upower.publish(change.properties);
        EXPECT_TRUE(shows(change.shown));
    }
    // The daemon goes: so does its battery.
    ASSERT_TRUE(upower.leave());
    EXPECT_TRUE(shows(std::nullopt));
    window->setHidden(true);
}

}  // namespace
