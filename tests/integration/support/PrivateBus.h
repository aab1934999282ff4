#pragma once
// A D-Bus of a test's own: a dbus-daemon on a private address, and one
// connection to it on which a stand-in for a system service answers. The
// stand-in answers from the connection's worker thread (the toolkit may call
// it synchronously from the test's own), so what it shares with the test
// sits behind a lock.
#include <gio/gio.h>

#include <functional>
#include <memory>
#include <string>

#include "integration/support/Processes.h"

namespace nimbra::test {

class PrivateBus {
public:
    // The answer to a method call, or null to leave it to the bus (which
    // tells the caller nobody is there).
    using Answer = std::function<platform::gtk::GRef<GDBusMessage>(GDBusMessage* call)>;

    explicit PrivateBus(Answer answer) {
        using platform::gtk::GRef;
        // Its socket in the test's temporary folder (which goes with the test),
        // not beside everyone's in /tmp.
        daemon_ = spawn({"dbus-daemon", "--session", "--nofork", "--print-address=1",
                         std::string("--address=unix:dir=") + g_get_tmp_dir()},
                        {}, G_SUBPROCESS_FLAGS_STDOUT_PIPE);
        if (!daemon_) return;
        address_ = firstLine(g_subprocess_get_stdout_pipe(daemon_.get()));
        bus_ = GRef<GDBusConnection>::adopt(
            g_dbus_connection_new_for_address_sync(address_.c_str(),
                                                   GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                                   nullptr, nullptr, nullptr));
        if (!bus_) return;
        // The filter may still run while it is removed: it holds the answer.
        g_dbus_connection_add_filter(bus_.get(), &PrivateBus::filter,
                                     new std::shared_ptr<Answer>(std::make_shared<Answer>(std::move(answer))),
                                     [](gpointer held) { delete static_cast<std::shared_ptr<Answer>*>(held); });
    }
    ~PrivateBus() {
        if (bus_) g_dbus_connection_close_sync(bus_.get(), nullptr, nullptr);
        if (daemon_) {
            g_subprocess_force_exit(daemon_.get());
            g_subprocess_wait(daemon_.get(), nullptr, nullptr);
        }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool ok() const { return bool(bus_); }
    const std::string& address() const { return address_; }
    GDBusConnection* connection() const { return bus_.get(); }
    // Takes or gives up a well-known name; true when the bus agreed.
    bool own(const char* name) { return call("RequestName", g_variant_new("(su)", name, 4u)); }
    bool disown(const char* name) { return call("ReleaseName", g_variant_new("(s)", name)); }

private:
    bool call(const char* method, GVariant* parameters) {
        platform::gtk::GUnique<GVariant, g_variant_unref> reply(g_dbus_connection_call_sync(
            bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method, parameters,
            nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
        return bool(reply);
    }
    static GDBusMessage* filter(GDBusConnection* bus, GDBusMessage* message, gboolean incoming, gpointer data) {
        if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL) return message;
        auto reply = (**static_cast<std::shared_ptr<Answer>*>(data))(message);
        if (!reply) return message;
        g_dbus_connection_send_message(bus, reply.get(), G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
        // Answered here: the filter owns the call and drops it.
        g_object_unref(message);
        return nullptr;
    }

    platform::gtk::GRef<GSubprocess> daemon_;
    std::string address_;
    platform::gtk::GRef<GDBusConnection> bus_;
};

}  // namespace nimbra::test
