// What nimbra-adserver refuses, as a page or a program on the same machine
// would try it: another Host (a name rebound to loopback), a reset by GET,
// redirects out of the web, an --exit-after its timer cannot hold.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "integration/support/Processes.h"

namespace {

using nimbra::test::AdServerProcess;
using platform::gtk::GRef;

// The status code of one request written by hand, with any Host.
int rawStatus(unsigned port, const std::string& method, const std::string& target, const std::string& host) {
    auto client = GRef<GSocketClient>::adopt(g_socket_client_new());
    auto connection = GRef<GSocketConnection>::adopt(
        g_socket_client_connect_to_host(client.get(), "127.0.0.1", static_cast<guint16>(port), nullptr, nullptr));
    if (!connection) return -1;
    const std::string text =
        method + " " + target + " HTTP/1.1\r\nHost: " + host + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    GOutputStream* out = g_io_stream_get_output_stream(G_IO_STREAM(connection.get()));
    if (!g_output_stream_write_all(out, text.data(), text.size(), nullptr, nullptr, nullptr)) return -1;
    char head[64] = {};
    g_input_stream_read_all(g_io_stream_get_input_stream(G_IO_STREAM(connection.get())), head, sizeof head - 1, nullptr,
                            nullptr, nullptr);
    const std::string line = head;  // "HTTP/1.1 403 Forbidden"
    return line.size() > 12 ? std::atoi(line.c_str() + 9) : -1;
}

// Other hosts refused, the report reset by POST only, no redirect out of the
// web.
TEST(AdServer, EachRequestGetsTheStatusTheTableSays) {
    AdServerProcess server;
    ASSERT_TRUE(server.ok());
    const std::string self = "127.0.0.1:" + std::to_string(server.port());
    const std::string hop = "/track/hop?left=1&dest=";
    struct Case {
        const char* method;
        std::string target;
        std::string host;
        int status;
    } cases[] = {
        {"GET", "/status", "rebound.example:" + std::to_string(server.port()), 403},
        {"GET", "/ads?slotname=a1b2c3d4e5f6a7b", "127.0.0.1:1", 403},
        {"GET", "/status", "LOCALHOST:" + std::to_string(server.port()), 200},
        {"GET", "/status/reset", self, 405},
        {"GET", hop + "file%3A%2F%2F%2Fetc%2Fpasswd", self, 400},
        {"GET", hop + "javascript%3Aalert(1)", self, 400},
        {"GET", "/click?ai=t&dest=market%3A%2F%2Fdetails", self, 400},
        {"GET", hop + "HTTPS%3A%2F%2Fshop.example%2F", self, 302},
        {"GET", hop + "%2Flanding", self, 302},
        {"GET", "/nonweb", self, 302},  // the nonweb scenario's own end, fixed
        {"POST", "/status/reset", self, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method + (" " + c.target) + " Host: " + c.host);
        const int before = server.status()["total"].get<int>();
        EXPECT_EQ(rawStatus(server.port(), c.method, c.target, c.host), c.status);
        if (c.status == 403) {
            EXPECT_EQ(server.status()["total"], before) << "a refused host leaves no trace";
        }
    }
    EXPECT_EQ(server.status()["total"], 0) << "the POST reset the report";
}

TEST(AdServer, ExitAfterBeyondWhatItsTimerHoldsIsABadOption) {
    for (const auto& [value, status] : {std::pair("4294968", 2), std::pair("99999999999", 2), std::pair("0.2", 0)}) {
        std::string output;
        EXPECT_EQ(nimbra::test::runToEnd({NIMBRA_ADSERVER_PATH, "--port", "0", "--exit-after", value}, {}, output),
                  status)
            << value;
    }
}

}  // namespace
