// Test support: runs nimbra-adserver as a child process on a free loopback
// port, and speaks plain HTTP/1.1 to it over a socket so tests see exactly
// what went over the wire (cut connections included).
#pragma once

#include <gio/gio.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/GRef.h"

namespace adserver_test {

class AdServerProcess {
 public:
  // Starts the server with "--port 0 --exit-after 60" and the extra arguments;
  // ok() tells whether it came up and printed its address.
  explicit AdServerProcess(const std::vector<std::string>& extraArguments = {});
  ~AdServerProcess();
  AdServerProcess(const AdServerProcess&) = delete;
  AdServerProcess& operator=(const AdServerProcess&) = delete;

  bool ok() const { return port_ != 0; }
  unsigned port() const { return port_; }
  std::string origin() const;  // "http://127.0.0.1:PORT"
  // Sends SIGTERM and waits; the exit status, or nothing when it did not exit normally.
  std::optional<int> stop();

 private:
  platform::gtk::GRef<GSubprocess> process_;
  unsigned port_ = 0;
};

struct HttpResponse {
  bool received = false;        // a status line arrived
  bool headersComplete = false; // the blank line after the headers arrived
  unsigned status = 0;
  std::multimap<std::string, std::string> headers;  // names in lower case
  std::string body;

  std::optional<std::string> header(const std::string& lowerCaseName) const;
  // The body arrived in full: all of Content-Length, or the connection closed
  // after complete headers when there was none.
  bool complete() const;
};

// One request on a fresh connection ("Connection: close"); reads until the
// server closes. `target` is the request target, e.g. "/ads?slotname=x".
HttpResponse httpRequest(unsigned port, const std::string& target, const std::string& method = "GET",
                         const std::vector<std::string>& extraHeaders = {});

// Writes raw bytes and reads the answer, for malformed requests.
std::string rawExchange(unsigned port, const std::string& bytes);

}  // namespace adserver_test
