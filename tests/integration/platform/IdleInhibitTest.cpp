// While a full-screen ad screen is up the desktop session is asked not to go
// idle, and asked again to go when the screen leaves: a real inhibit through
// the session manager's D-Bus interface, answered here by a stand-in on a
// private session bus. Runs in a process of its own (see tests/CMakeLists.txt):
// the application registers with the session bus once, on first use.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <mutex>

#include "ViewController/ZELViewController.h"
#include "integration/support/GtkTestEnvironment.h"
#include "integration/support/PrivateBus.h"
#include "platform/Application.h"

namespace {

using nimbra::test::spinUntil;
using platform::gtk::GRef;

// A private session bus with a session manager that records what it is asked:
// Inhibit and Uninhibit of its interface; any other call to it is unknown.
class SessionStandIn {
public:
    SessionStandIn() : bus_([record = record_](GDBusMessage* call) { return answer(*record, call); }) {
        ok_ = bus_.ok() && bus_.own("org.gnome.SessionManager");
    }
    bool ok() const { return ok_; }
    const std::string& address() const { return bus_.address(); }
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
    static GRef<GDBusMessage> answer(Record& record, GDBusMessage* message) {
        const std::string method = g_dbus_message_get_member(message) ? g_dbus_message_get_member(message) : "";
        GVariant* parameters = g_dbus_message_get_body(message);
        const auto takes = [&](const char* type) {
            return parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE(type));
        };
        auto reply = GRef<GDBusMessage>::adopt(g_dbus_message_new_method_reply(message));
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
            reply = GRef<GDBusMessage>::adopt(g_dbus_message_new_method_error(
                message, "org.freedesktop.DBus.Error.UnknownMethod", "%s", method.c_str()));
        }
        return reply;
    }

    std::shared_ptr<Record> record_ = std::make_shared<Record>();
    nimbra::test::PrivateBus bus_;
    bool ok_ = false;
};

TEST(IdleInhibit, AnAdScreenHoldsTheSessionAwakeWhileItIsUp) {
    SessionStandIn session;
    ASSERT_TRUE(session.ok()) << "no private session bus";
    g_setenv("DBUS_SESSION_BUS_ADDRESS", session.address().c_str(), TRUE);
    auto window = nimbra::test::shownWindow();
    auto screen = ZELViewController::init();
    screen->presentFromViewController(window->rootViewController());
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
