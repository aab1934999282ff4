#pragma once
// The contract suites' driver for the GTK backend (see contract/Driver.h):
// the real main loop, servers on loopback, real pages in WebKit and the
// status bar drawn in the window. The GTK-only tests use it too.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "contract/Driver.h"
#include "integration/support/GtkTestEnvironment.h"
#include "integration/support/TestHttpServer.h"
#include "platform/Window.h"
#include "platform/WebView.h"
#include "platform/gtk/GtkViews.h"

namespace nimbra::test {

using contract::DrawnChrome;
using contract::Headers;
using contract::SeenRequest;

// The first widget under `top` (itself included) that passes the test.
inline GtkWidget* findWidget(GtkWidget* top, const std::function<bool(GtkWidget*)>& test) {
    if (!top || test(top)) return top;
    for (GtkWidget* child = gtk_widget_get_first_child(top); child; child = gtk_widget_get_next_sibling(child))
        if (GtkWidget* found = findWidget(child, test)) return found;
    return nullptr;
}

class GtkDriver {
public:
    GtkDriver() { gtkBackend(); }
    bool runUntil(const std::function<bool()>& done, double seconds = 10) { return spinUntil(done, seconds); }
    void runFor(double seconds) { spinFor(seconds); }
    void waitWithoutTurning(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }
    std::string url(const std::string& pathAndQuery) const { return server_.url(pathAndQuery); }
    void serve(const std::string& path, int status, const std::string& body, const Headers& headers = {}) {
        server_.route(path, TestHttpServer::answer(status, body, headers));
    }
    std::string serveInPieces(const std::string& path, const std::vector<std::string>& pieces,
                              const Headers& headers = {}) {
        raw_.push_back(RawTcpServer::chunked(pieces, headers));
        return raw_.back()->url(path);
    }
    void redirect(const std::string& path, const std::string& location, int status = 302) {
        server_.route(path, TestHttpServer::answer(status, {}, {{"Location", location}}));
    }
    std::vector<SeenRequest> seen() const {
        std::vector<SeenRequest> out;
        for (const auto& r : server_.requests())
            out.push_back({r.path + (r.query.empty() ? "" : "?" + r.query), r.headers});
        return out;
    }
    std::string unreachableURL() const { return RawTcpServer({}).url("/"); }  // closed again at once
    std::string page(const std::string& path) { return html(path, "<html><body>" + path + "</body></html>"); }
    // /slow.png answers after 600 ms: the page showing it is still loading meanwhile.
    std::string pageSending(const std::string& path, const std::string& message) {
        server_.route("/slow.png", [](SoupServerMessage* m, const TestHttpServer::Request&) {
            soup_server_message_pause(m);
            g_timeout_add_once(
                600,
                [](gpointer msg) {
                    auto* message = static_cast<SoupServerMessage*>(msg);
                    TestHttpServer::respond(message, 404);
                    soup_server_message_unpause(message);
                },
                m);
        });
        return html(path,
                    "<html><body><img src='/slow.png'><script>location.href='" + message + "';</script></body></html>");
    }
    std::string failingPage() const { return "http://nowhere.invalid/nothing"; }
    DrawnChrome drawn(const platform::Window& window) const {
        GtkWidget* bar = findWidget(platform::gtk::widgetForView(window),
                                    [](GtkWidget* w) { return gtk_widget_has_css_class(w, "nimbra-statusbar"); });
        GtkWidget* spinner = findWidget(bar, [](GtkWidget* w) { return GTK_IS_SPINNER(w); });
        return {bar && gtk_widget_get_visible(bar),
                spinner && gtk_widget_get_visible(spinner) && gtk_spinner_get_spinning(GTK_SPINNER(spinner))};
    }
    // An HTML page served at the path; returns its URL.
    std::string html(const std::string& path, std::string text) {
        server_.route(path, [text](SoupServerMessage* m, const TestHttpServer::Request&) {
            soup_server_message_set_status(m, 200, nullptr);
            soup_server_message_set_response(m, "text/html; charset=utf-8", SOUP_MEMORY_COPY, text.data(), text.size());
        });
        return url(path);
    }
    TestHttpServer& server() { return server_; }

private:
    TestHttpServer server_;
    std::vector<std::unique_ptr<RawTcpServer>> raw_;
};

}  // namespace nimbra::test
