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

AdServerProcess::AdServerProcess(const std::vector<std::string>& extraArguments) {
  std::vector<const char*> argv{NIMBRA_ADSERVER_PATH, "--port", "0", "--exit-after", "60"};
  for (const std::string& argument : extraArguments) argv.push_back(argument.c_str());
  argv.push_back(nullptr);
  process_ = platform::gtk::GRef<GSubprocess>::adopt(g_subprocess_newv(argv.data(), G_SUBPROCESS_FLAGS_STDOUT_PIPE, nullptr));
  if (!process_) return;
  auto lines = platform::gtk::GRef<GDataInputStream>::adopt(g_data_input_stream_new(g_subprocess_get_stdout_pipe(process_.get())));
  platform::gtk::GCharPtr line(g_data_input_stream_read_line(lines.get(), nullptr, nullptr, nullptr));
  const char prefix[] = "nimbra-adserver listening on http://127.0.0.1:";
  if (line && std::strncmp(line.get(), prefix, sizeof prefix - 1) == 0)
    port_ = static_cast<unsigned>(std::strtoul(line.get() + sizeof prefix - 1, nullptr, 10));
}

AdServerProcess::~AdServerProcess() { stop(); }

std::string AdServerProcess::origin() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::optional<int> AdServerProcess::stop() {
  if (!process_) return std::nullopt;
  g_subprocess_send_signal(process_.get(), SIGTERM);
  g_subprocess_wait(process_.get(), nullptr, nullptr);
  std::optional<int> status;
  if (g_subprocess_get_if_exited(process_.get())) status = g_subprocess_get_exit_status(process_.get());
  process_.reset();
  port_ = 0;
  return status;
}

std::optional<std::string> HttpResponse::header(const std::string& lowerCaseName) const {
  const auto it = headers.find(lowerCaseName);
  return it == headers.end() ? std::nullopt : std::optional<std::string>(it->second);
}

bool HttpResponse::complete() const {
  const auto length = header("content-length");
  return headersComplete && (!length || body.size() == std::stoul(*length));
}

std::string rawExchange(unsigned port, const std::string& bytes) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    for (std::size_t sent = 0; sent < bytes.size();) {
      const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    char buffer[16384];
    // Reads stop after 20 s without data: a guard against a hung server, not a measurement.
    for (pollfd waiting{fd, POLLIN, 0}; poll(&waiting, 1, 20000) > 0;) {
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      answer.append(buffer, static_cast<std::size_t>(n));
    }
  }
  if (fd >= 0) close(fd);
  return answer;
}

HttpResponse httpRequest(unsigned port, const std::string& target, const std::string& method,
                         const std::vector<std::string>& extraHeaders) {
  std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                        "\r\nConnection: close\r\n";
  for (const std::string& header : extraHeaders) request += header + "\r\n";
  const std::string answer = rawExchange(port, request + "\r\n");

  HttpResponse response;
  if (!answer.starts_with("HTTP/1.1 ") || answer.find("\r\n") == std::string::npos) return response;
  response.received = true;
  response.status = static_cast<unsigned>(std::strtoul(answer.c_str() + 9, nullptr, 10));
  const std::size_t headersEnd = answer.find("\r\n\r\n");
  response.headersComplete = headersEnd != std::string::npos;
  if (response.headersComplete) response.body = answer.substr(headersEnd + 4);
  const std::size_t end = std::min(headersEnd, answer.size());
  for (std::size_t position = answer.find("\r\n") + 2; position < end;) {
    const std::size_t next = std::min(answer.find("\r\n", position), end);
    const std::string line = answer.substr(position, next - position);
    if (const std::size_t colon = line.find(':'); colon != std::string::npos) {
      std::string name = line.substr(0, colon);
      std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
      response.headers.emplace(name, line.substr(std::min(line.find_first_not_of(' ', colon + 1), line.size())));
    }
    position = next + 2;
  }
  return response;
}

}  // namespace adserver_test
