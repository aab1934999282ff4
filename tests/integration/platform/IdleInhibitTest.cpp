// While a full-screen ad screen is up the desktop session is asked not to go
// idle, and asked again to go when the screen leaves: a real inhibit through
// the session manager's D-Bus interface, answered here by a stand-in on a
// private session bus. Runs in a process of its own (see tests/CMakeLists.txt):
// the application registers with the session bus once, on first use.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
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
using platform::gtk::GMainContextPtr;
using platform::gtk::GMainLoopPtr;
using platform::gtk::GRef;
using platform::gtk::GUnique;

constexpr const char kSessionManagerXml[] = R"(
<node>
  <interface name="org.gnome.SessionManager">
    <method name="Inhibit">
      <arg type="s" name="app_id" direction="in"/>
      <arg type="u" name="toplevel_xid" direction="in"/>
      <arg type="s" name="reason" direction="in"/>
      <arg type="u" name="flags" direction="in"/>
      <arg type="u" name="cookie" direction="out"/>
    </method>
    <method name="Uninhibit">
      <arg type="u" name="cookie" direction="in"/>
    </method>
  </interface>
</node>)";

// A private session bus with a session manager that records what it is asked.
// It serves from a thread of its own: the toolkit calls it synchronously.
class SessionStandIn {
public:
    SessionStandIn() {
        const char* argv[] = {"dbus-daemon", "--session", "--nofork", "--print-address=1", nullptr};
        daemon_ = GRef<GSubprocess>::adopt(g_subprocess_newv(argv, G_SUBPROCESS_FLAGS_STDOUT_PIPE, nullptr));
        if (!daemon_) return;
        auto lines = GRef<GDataInputStream>::adopt(g_data_input_stream_new(g_subprocess_get_stdout_pipe(daemon_.get())));
        GCharPtr line(g_data_input_stream_read_line(lines.get(), nullptr, nullptr, nullptr));
        if (line) address_ = line.get();
        if (address_.empty()) return;
        thread_ = std::thread([this] { serve(); });
        while (!ready_ && !failed_) std::this_thread::yield();
    }
    ~SessionStandIn() {
        if (loop_) g_main_loop_quit(loop_.get());
        if (thread_.joinable()) thread_.join();
        if (daemon_) {
            g_subprocess_force_exit(daemon_.get());
            g_subprocess_wait(daemon_.get(), nullptr, nullptr);
        }
    }
    bool ok() const { return ready_; }
    const std::string& address() const { return address_; }
    std::vector<std::string> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    void serve() {
        GMainContextPtr context(g_main_context_new());
        g_main_context_push_thread_default(context.get());
        auto bus = GRef<GDBusConnection>::adopt(g_dbus_connection_new_for_address_sync(
            address_.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr));
        GUnique<GDBusNodeInfo, g_dbus_node_info_unref> node(g_dbus_node_info_new_for_xml(kSessionManagerXml, nullptr));
        static const GDBusInterfaceVTable vtable = {
            +[](GDBusConnection*, const char*, const char*, const char*, const char* method, GVariant* parameters,
                GDBusMethodInvocation* invocation, gpointer data) {
                auto* self = static_cast<SessionStandIn*>(data);
                std::lock_guard lock(self->mutex_);
                if (std::string(method) == "Inhibit") {
                    const char *app = nullptr, *reason = nullptr;
                    guint32 xid = 0, flags = 0;
                    g_variant_get(parameters, "(&su&su)", &app, &xid, &reason, &flags);
                    self->calls_.push_back("Inhibit " + std::string(app) + " " + std::to_string(flags));
                    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", ++self->cookie_));
                } else {
                    guint32 cookie = 0;
                    g_variant_get(parameters, "(u)", &cookie);
                    self->calls_.push_back("Uninhibit " + std::to_string(cookie));
                    g_dbus_method_invocation_return_value(invocation, nullptr);
                }
            },
            nullptr, nullptr, {}};
        if (bus && node &&
            g_dbus_connection_register_object(bus.get(), "/org/gnome/SessionManager", node->interfaces[0], &vtable,
                                              this, nullptr, nullptr)) {
            GUnique<GVariant, g_variant_unref> reply(g_dbus_connection_call_sync(
                bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                g_variant_new("(su)", "org.gnome.SessionManager", 4u), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                nullptr));
            loop_ = GMainLoopPtr(g_main_loop_new(context.get(), FALSE));
            ready_ = static_cast<bool>(reply);
        }
        failed_ = !ready_;
        if (ready_) g_main_loop_run(loop_.get());
        g_main_context_pop_thread_default(context.get());
    }

    GRef<GSubprocess> daemon_;
    std::string address_;
    std::thread thread_;
    GMainLoopPtr loop_;
    std::atomic<bool> ready_{false}, failed_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    guint32 cookie_ = 0;
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
