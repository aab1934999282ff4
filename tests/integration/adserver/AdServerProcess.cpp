#include "integration/adserver/AdServerProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstring>

namespace adserver_test {
namespace {

// Reads stop after this long without data: a guard against a hung server,
// not a measurement.
constexpr int kReadGuardMs = 20000;

int connectTo(unsigned port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string exchange(unsigned port, const std::string& bytes) {
  const int fd = connectTo(port);
  if (fd < 0) return {};
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  std::string answer;
  char buffer[16384];
  for (;;) {
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, kReadGuardMs) <= 0) break;
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return answer;
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace

AdServerProcess::AdServerProcess(const std::vector<std::string>& extraArguments) {
  std::vector<const char*> argv{NIMBRA_ADSERVER_PATH, "--port", "0", "--exit-after", "60"};
  for (const std::string& argument : extraArguments) argv.push_back(argument.c_str());
  argv.push_back(nullptr);
  process_ = g_subprocess_newv(argv.data(), G_SUBPROCESS_FLAGS_STDOUT_PIPE, nullptr);
  if (!process_) return;
  GDataInputStream* lines = g_data_input_stream_new(g_subprocess_get_stdout_pipe(process_));
  char* line = g_data_input_stream_read_line(lines, nullptr, nullptr, nullptr);
  const std::string prefix = "nimbra-adserver listening on http://127.0.0.1:";
  if (line && std::strncmp(line, prefix.c_str(), prefix.size()) == 0) {
    port_ = static_cast<unsigned>(std::strtoul(line + prefix.size(), nullptr, 10));
  }
  g_free(line);
  g_object_unref(lines);
}

AdServerProcess::~AdServerProcess() {
  stop();
}

std::string AdServerProcess::origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::optional<int> AdServerProcess::stop() {
  if (!process_) return std::nullopt;
  g_subprocess_send_signal(process_, SIGTERM);
  g_subprocess_wait(process_, nullptr, nullptr);
  std::optional<int> status;
  if (g_subprocess_get_if_exited(process_)) status = g_subprocess_get_exit_status(process_);
  g_object_unref(process_);
  process_ = nullptr;
  port_ = 0;
  return status;
}

std::optional<std::string> HttpResponse::header(const std::string& lowerCaseName) const {
  const auto it = headers.find(lowerCaseName);
  if (it == headers.end()) return std::nullopt;
  return it->second;
}

bool HttpResponse::complete() const {
  if (!headersComplete) return false;
  const auto length = header("content-length");
  return !length || body.size() == std::stoul(*length);
}

HttpResponse httpRequest(unsigned port, const std::string& target, const std::string& method,
                         const std::vector<std::string>& extraHeaders) {
  std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                        "\r\nConnection: close\r\n";
  for (const std::string& header : extraHeaders) request += header + "\r\n";
  request += "\r\n";
  const std::string answer = exchange(port, request);

  HttpResponse response;
  const std::size_t lineEnd = answer.find("\r\n");
  if (lineEnd == std::string::npos || answer.compare(0, 9, "HTTP/1.1 ") != 0) return response;
  response.received = true;
  response.status = static_cast<unsigned>(std::strtoul(answer.c_str() + 9, nullptr, 10));
  const std::size_t headersEnd = answer.find("\r\n\r\n");
  response.headersComplete = headersEnd != std::string::npos;
  const std::size_t end = response.headersComplete ? headersEnd : answer.size();
  std::size_t position = lineEnd + 2;
  while (position < end) {
    std::size_t next = answer.find("\r\n", position);
    if (next == std::string::npos || next > end) next = end;
    const std::string line = answer.substr(position, next - position);
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(' '));
      response.headers.emplace(lower(line.substr(0, colon)), value);
    }
    position = next + 2;
  }
  if (response.headersComplete) response.body = answer.substr(headersEnd + 4);
  return response;
}

std::string rawExchange(unsigned port, const std::string& bytes) { return exchange(port, bytes); }

std::string targetOf(const std::string& url, unsigned port) {
  const std::string origin = "http://127.0.0.1:" + std::to_string(port);
  if (url.compare(0, origin.size(), origin) != 0 || url.size() == origin.size() || url[origin.size()] != '/') {
    return {};
  }
  return url.substr(origin.size());
}

std::string percentDecodeForTest(const std::string& text) {
  char* decoded = g_uri_unescape_string(text.c_str(), nullptr);
  std::string result = decoded ? decoded : "";
  g_free(decoded);
  return result;
}

}  // namespace adserver_test
