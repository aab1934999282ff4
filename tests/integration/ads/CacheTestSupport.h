#pragma once
// Helpers for the cached-file and click-tracker tests on the GTK backend.

#include <fcntl.h>
#include <glib.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "integration/support/GtkTestEnvironment.h"
#include "integration/support/TestHttpServer.h"

// The GTK backend installed and GLib's default main context turned, where
// libsoup, the backend's run loop and the test servers live.
class CacheIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override { nimbra::test::gtkBackend(); }
    void TearDown() override {
        // Let released connections and kept objects go before the next test.
        spinFor(0.05);
    }
    static bool spinUntil(const std::function<bool()>& done) { return nimbra::test::spinUntil(done, 30); }
    static void spinFor(double seconds) { nimbra::test::spinFor(seconds); }
};

// Handlers for the shared test server.
namespace cache_test {

using nimbra::test::TestHttpServer;
using Headers = std::vector<std::pair<std::string, std::string>>;

inline TestHttpServer::Handler answer(int status, std::string body = {}, Headers headers = {}) {
    return [=](SoupServerMessage* message, const TestHttpServer::Request&) {
        TestHttpServer::respond(message, status, body, headers);
    };
}
inline TestHttpServer::Handler redirect(std::string location, int status = 302) {
    return [=](SoupServerMessage* message, const TestHttpServer::Request&) {
        soup_message_headers_replace(soup_server_message_get_response_headers(message), "Location",
                                     location.c_str());
        soup_server_message_set_status(message, static_cast<guint>(status), nullptr);
    };
}
// A large body served without copying; the text must outlive the server.
inline TestHttpServer::Handler staticBody(const std::string& body) {
    return [&body](SoupServerMessage* message, const TestHttpServer::Request&) {
        soup_server_message_set_status(message, 200, nullptr);
        soup_server_message_set_response(message, "application/octet-stream", SOUP_MEMORY_STATIC, body.data(),
                                         body.size());
    };
}
// Never answers: the request hangs until the server goes away.
inline TestHttpServer::Handler hang() {
    return [](SoupServerMessage* message, const TestHttpServer::Request&) { soup_server_message_pause(message); };
}
inline std::optional<std::string> header(const TestHttpServer::Request& request, const std::string& name) {
    auto it = request.headers.find(name);
    if (it == request.headers.end()) return std::nullopt;
    return it->second;
}
inline size_t countOf(const TestHttpServer& server, const std::string& path) {
    size_t n = 0;
    for (const auto& r : server.requests()) n += r.path == path;
    return n;
}

}  // namespace cache_test

// Makes a directory unwritable for as long as it lives: mode 0555, and where
// that does not stop us (running as root) the immutable flag as well.
class ReadOnlyDirectory {
public:
    explicit ReadOnlyDirectory(std::filesystem::path dir) : dir_(std::move(dir)) {
        struct stat st {};
        if (::stat(dir_.c_str(), &st) != 0) return;
        mode_ = st.st_mode & 07777;
        ::chmod(dir_.c_str(), 0555);
        if (!writable()) {
            effective_ = true;
            return;
        }
        const int fd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            int flags = 0;
            if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags |= FS_IMMUTABLE_FL;
                immutable_ = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
            }
            ::close(fd);
        }
        effective_ = !writable();
    }
    ~ReadOnlyDirectory() { release(); }
    ReadOnlyDirectory(const ReadOnlyDirectory&) = delete;
    ReadOnlyDirectory& operator=(const ReadOnlyDirectory&) = delete;

    bool effective() const { return effective_; }
    void release() {
        if (immutable_) {
            const int fd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd >= 0) {
                int flags = 0;
                if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                    flags &= ~FS_IMMUTABLE_FL;
                    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
                }
                ::close(fd);
            }
            immutable_ = false;
        }
        if (mode_) {
            ::chmod(dir_.c_str(), mode_);
            mode_ = 0;
        }
    }

private:
    bool writable() const {
        const std::string probe = (dir_ / ".probe").string();
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        ::close(fd);
        ::unlink(probe.c_str());
        return true;
    }

    std::filesystem::path dir_;
    mode_t mode_ = 0;
    bool immutable_ = false;
    bool effective_ = false;
};
