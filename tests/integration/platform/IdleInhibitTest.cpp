// While a full-screen ad screen is up the desktop session is asked not to go
// idle, and asked again to go when the screen leaves: a real inhibit through
// the session manager's D-Bus interface, answered here by a stand-in on a
// private session bus. Runs in a process of its own (see tests/CMakeLists.txt):
// the application registers with the session bus once, on first use.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Delegate/ZELDelegateManager.h"
#include "ViewController/ZELViewController.h"
#include "integration/support/GtkTestEnvironment.h"
#include "platform/Application.h"
#include "platform/ViewController.h"
#include "platform/Window.h"
#include "platform/gtk/GRef.h"

namespace {

using nimbra::test::spinUntil;
using platform::gtk::GCharPtr;
using platform::gtk::GRef;
using platform::gtk::GUnique;

// A private session bus with a session manager that records what it is asked.
// It answers from the connection's own worker thread: the toolkit calls it
// synchronously from this one.
class SessionStandIn {
public:
    SessionStandIn() {
        const char* argv[] = {"dbus-daemon", "--session", "--nofork", "--print-address=1", nullptr};
        daemon_ = GRef<GSubprocess>::adopt(g_subprocess_newv(argv, G_SUBPROCESS_FLAGS_STDOUT_PIPE, nullptr));
        if (!daemon_) return;
        auto lines = GRef<GDataInputStream>::adopt(g_data_input_stream_new(g_subprocess_get_stdout_pipe(daemon_.get())));
        GCharPtr line(g_data_input_stream_read_line(lines.get(), nullptr, nullptr, nullptr));
        if (line) address_ = line.get();
        bus_ = GRef<GDBusConnection>::adopt(g_dbus_connection_new_for_address_sync(
            address_.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr));
        if (!bus_) return;
        // The filter may still run while it is removed: it holds the record.
        g_dbus_connection_add_filter(bus_.get(), &SessionStandIn::answer, new std::shared_ptr<Record>(record_),
                                     [](gpointer record) { delete static_cast<std::shared_ptr<Record>*>(record); });
        GUnique<GVariant, g_variant_unref> reply(g_dbus_connection_call_sync(
            bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            g_variant_new("(su)", "org.gnome.SessionManager", 4u), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
        ok_ = static_cast<bool>(reply);
    }
    ~SessionStandIn() {
        if (bus_) g_dbus_connection_close_sync(bus_.get(), nullptr, nullptr);
        if (daemon_) {
            g_subprocess_force_exit(daemon_.get());
            g_subprocess_wait(daemon_.get(), nullptr, nullptr);
        }
    }
    bool ok() const { return ok_; }
    const std::string& address() const { return address_; }
    std::vector<std::string> calls() const {
        std::lock_guard lock(record_->mutex);
        return record_->calls;
    }

private:
    struct Record {
        std::mutex mutex;
        std::vector<std::string> calls;
        guint32 cookie = 0;
    };
    // Inhibit and Uninhibit of the session manager's interface; any other
    // call to it is unknown.
    static GDBusMessage* answer(GDBusConnection* bus, GDBusMessage* message, gboolean incoming, gpointer data) {
        if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL) return message;
        // Answered here: the filter owns the call and drops it.
        const GRef<GDBusMessage> call = GRef<GDBusMessage>::adopt(message);
        auto& record = **static_cast<std::shared_ptr<Record>*>(data);
        const std::string method = g_dbus_message_get_member(message) ? g_dbus_message_get_member(message) : "";
        GVariant* parameters = g_dbus_message_get_body(message);
        const auto takes = [&](const char* type) { return parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE(type)); };
        GRef<GDBusMessage> reply = GRef<GDBusMessage>::adopt(g_dbus_message_new_method_reply(message));
        std::lock_guard lock(record.mutex);
        if (method == "Inhibit" && takes("(susu)")) {
            const char *app = nullptr, *reason = nullptr;
            guint32 xid = 0, flags = 0;
            g_variant_get(parameters, "(&su&su)", &app, &xid, &reason, &flags);
            record.calls.push_back("Inhibit " + std::string(app) + " " + std::to_string(flags));
            g_dbus_message_set_body(reply.get(), g_variant_new("(u)", ++record.cookie));
        } else if (method == "Uninhibit" && takes("(u)")) {
            guint32 cookie = 0;
            g_variant_get(parameters, "(u)", &cookie);
            record.calls.push_back("Uninhibit " + std::to_string(cookie));
        } else {
            reply = GRef<GDBusMessage>::adopt(
                g_dbus_message_new_method_error(message, "org.freedesktop.DBus.Error.UnknownMethod", "%s", method.c_str()));
        }
        g_dbus_connection_send_message(bus, reply.get(), G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
        return nullptr;
    }

    GRef<GSubprocess> daemon_;
    std::string address_;
    GRef<GDBusConnection> bus_;
    bool ok_ = false;
    std::shared_ptr<Record> record_ = std::make_shared<Record>();
};

TEST(IdleInhibit, AnAdScreenHoldsTheSessionAwakeWhileItIsUp) {
    SessionStandIn session;
    ASSERT_TRUE(session.ok()) << "no private session bus";
    g_setenv("DBUS_SESSION_BUS_ADDRESS", session.address().c_str(), TRUE);
    nimbra::test::gtkBackend();
    auto window = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
    auto root = std::make_shared<platform::ViewController>();
    window->setRootViewController(root);
    window->makeKeyAndVisible();

    auto screen = ZELViewController::init();
    screen->presentFromViewController(root);
    EXPECT_TRUE(platform::Application::shared().isIdleTimerDisabled());
    ASSERT_TRUE(spinUntil([&] { return !session.calls().empty(); }, 10)) << "the session was never asked";
    // Idle is the toolkit's inhibit flag 8.
    EXPECT_EQ(session.calls(), std::vector<std::string>{"Inhibit org.nimbra.IntegrationTests 8"});
    nimbra::test::spinFor(0.5);
    screen->relinquishScreen();
    ASSERT_TRUE(spinUntil([&] { return session.calls().size() == 2; }, 10));
    EXPECT_EQ(session.calls()[1], "Uninhibit 1");
    EXPECT_FALSE(platform::Application::shared().isIdleTimerDisabled());
    window->setHidden(true);
    g_setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", TRUE);
}

}  // namespace
