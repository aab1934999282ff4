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
#include <string>

#include <gtest/gtest.h>

#include "platform/gtk/GtkBackend.h"

// Installs the GTK backend (once per process) and turns GLib's default main
// context, where libsoup, the backend's run loop and the test servers live.
class CacheIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!platform::gtk::GtkBackend::installed()) platform::gtk::GtkBackend::install("org.nimbra.IntegrationTests");
    }
    void TearDown() override {
        // Let released connections and kept objects go before the next test.
        spinFor(0.05);
    }

    // Turns the loop until the predicate holds; false if it never did within a
    // generous guard against a hang (not a measure of speed).
    static bool spinUntil(const std::function<bool()>& predicate, double guardSeconds = 30) {
        const gint64 end = g_get_monotonic_time() + static_cast<gint64>(guardSeconds * G_USEC_PER_SEC);
        while (!predicate()) {
            if (g_get_monotonic_time() > end) return false;
            if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
        }
        return true;
    }
    // Turns the loop for a while, so that anything still to arrive arrives.
    static void spinFor(double seconds) {
        const gint64 end = g_get_monotonic_time() + static_cast<gint64>(seconds * G_USEC_PER_SEC);
        while (g_get_monotonic_time() < end) {
            if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
        }
    }
};

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
