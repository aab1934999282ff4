// Mensajes started the ways people start it: by its full path (as a desktop
// entry or a launcher does), by a relative path, and from another folder. It
// stays up, asks for an ad, keeps its files in folders named after the
// application, and shows ad pages inside the web engine's sandbox.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "integration/adserver/AdServerProcess.h"
#include "integration/banner/BannerSupport.h"
#include "integration/support/GtkTestEnvironment.h"
#include "integration/support/Processes.h"

namespace {

namespace fs = std::filesystem;
using adserver_test::AdServerProcess;
using nimbra::test::spinUntil;

constexpr const char kApplicationFolder[] = "org.nimbra.Mensajes";

// A started mensajes with a home and XDG folders of its own.
class RunningApplication {
public:
    RunningApplication(const std::string& program, const fs::path& workingDirectory, const std::string& serverOrigin,
                       const std::vector<std::pair<std::string, std::string>>& extraEnvironment = {},
                       bool readsErrors = false)
        : root_(fs::temp_directory_path() / ("mensajes-launch-" + std::to_string(::getpid()) + "-" +
                                              std::to_string(++launches_))) {
        fs::remove_all(root_);
        GSubprocessLauncher* launcher = g_subprocess_launcher_new(readsErrors ? G_SUBPROCESS_FLAGS_STDERR_PIPE
                                                                               : G_SUBPROCESS_FLAGS_NONE);
        for (const char* folder : {"home", "config", "cache", "data", "runtime"}) fs::create_directories(root_ / folder);
        fs::permissions(root_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        const std::pair<const char*, std::string> environment[] = {
            {"HOME", (root_ / "home").string()},          {"XDG_CONFIG_HOME", (root_ / "config").string()},
            {"XDG_CACHE_HOME", (root_ / "cache").string()}, {"XDG_DATA_HOME", (root_ / "data").string()},
            {"XDG_RUNTIME_DIR", (root_ / "runtime").string()}, {"NIMBRA_STATIC_SERVER", serverOrigin},
            {"NIMBRA_AD_SERVER", serverOrigin}};
        for (const auto& [name, value] : environment) g_subprocess_launcher_setenv(launcher, name, value.c_str(), TRUE);
        for (const auto& [name, value] : extraEnvironment)
            g_subprocess_launcher_setenv(launcher, name.c_str(), value.c_str(), TRUE);
        g_subprocess_launcher_unsetenv(launcher, "NIMBRA_RESOURCES_DIR");
        g_subprocess_launcher_set_cwd(launcher, workingDirectory.c_str());
        const char* argv[] = {program.c_str(), nullptr};
        process_ = g_subprocess_launcher_spawnv(launcher, argv, nullptr);
        g_object_unref(launcher);
        if (process_) pid_ = static_cast<pid_t>(std::stoi(g_subprocess_get_identifier(process_)));
    }

    ~RunningApplication() {
        if (process_) {
            if (!exited()) g_subprocess_force_exit(process_);
            g_subprocess_wait(process_, nullptr, nullptr);
            g_object_unref(process_);
        }
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    bool started() const { return process_ != nullptr; }
    // Waits for the end and returns what it wrote on stderr, with its status.
    std::pair<std::optional<int>, std::string> waitForEnd() {
        char* errors = nullptr;
        g_subprocess_communicate_utf8(process_, nullptr, nullptr, nullptr, &errors, nullptr);
        std::string text = errors ? errors : "";
        g_free(errors);
        std::optional<int> status;
        if (g_subprocess_get_if_exited(process_)) status = g_subprocess_get_exit_status(process_);
        return {status, text};
    }
    pid_t pid() const { return pid_; }
    const fs::path& root() const { return root_; }
    bool exited() const { return !nimbra::test::isRunning(pid_) || processIsZombie(); }

    // SIGTERM, then the exit status once it has ended (none when it did not
    // end in time or did not exit normally).
    std::optional<int> terminate(double timeoutSeconds) {
        g_subprocess_send_signal(process_, SIGTERM);
        bool done = false;
        g_subprocess_wait_async(
            process_, nullptr, +[](GObject*, GAsyncResult*, gpointer flag) { *static_cast<bool*>(flag) = true; },
            &done);
        if (!spinUntil([&] { return done; }, timeoutSeconds)) return std::nullopt;
        if (!g_subprocess_get_if_exited(process_)) return std::nullopt;
        return g_subprocess_get_exit_status(process_);
    }

private:
    bool processIsZombie() const {
        const auto table = nimbra::test::processTable();
        auto it = table.find(pid_);
        if (it == table.end()) return true;
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string line;
        std::getline(stat, line);
        const size_t close = line.rfind(')');
        return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
    }

    static inline int launches_ = 0;
    fs::path root_;
    GSubprocess* process_ = nullptr;
    pid_t pid_ = 0;
};

struct Start {
    const char* how;
    std::string program;
    fs::path workingDirectory;
};

TEST(MensajesLaunch, StaysUpByFullPathRelativePathAndFromAnotherFolder) {
    nimbra::test::gtkBackend();
    const fs::path program = NIMBRA_MENSAJES_PATH;
    ASSERT_TRUE(program.is_absolute());
    const fs::path buildFolder = program.parent_path().parent_path();
    const Start starts[] = {
        {"by its full path", program.string(), buildFolder},
        {"by a relative path", fs::relative(program, buildFolder).string(), buildFolder},
        {"by its full path from another folder", program.string(), fs::temp_directory_path()},
    };
    for (const Start& start : starts) {
        SCOPED_TRACE(std::string(start.how) + ": " + start.program);
        AdServerProcess server({"--refresh-rate", "600"});
        ASSERT_TRUE(server.ok()) << "nimbra-adserver did not start";
        RunningApplication app(start.program, start.workingDirectory, server.origin());
        ASSERT_TRUE(app.started());

        // Up long enough to load its first screen and ask for the banner's ad.
        const bool asked =
            spinUntil([&] { return app.exited() || banner_test::counter(server, "ads") >= 1; }, banner_test::kAdTimeout);
        ASSERT_FALSE(app.exited()) << "mensajes ended on its own";
        ASSERT_TRUE(asked) << "no ad request reached the server";
        nimbra::test::spinFor(1.0);
        ASSERT_FALSE(app.exited()) << "mensajes ended after its first ad";

        // Ad pages run in the web engine's sandbox.
        const auto pages = nimbra::test::webProcessesOf(app.pid());
        ASSERT_FALSE(pages.empty()) << "no page process under mensajes";
        for (pid_t page : pages) EXPECT_TRUE(nimbra::test::runsInsideSandbox(app.pid(), page)) << "page process " << page;

        // Its files, the web engine's included, live in folders named after
        // the application, never after the way it was started.
        EXPECT_TRUE(fs::is_regular_file(app.root() / "config" / kApplicationFolder / "defaults.plist"));
        EXPECT_TRUE(fs::is_directory(app.root() / "cache" / kApplicationFolder / "127.0.0.1"));
        EXPECT_TRUE(fs::is_directory(app.root() / "data" / kApplicationFolder / "webkit"));
        for (const auto& entry : fs::recursive_directory_iterator(app.root())) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name != "mensajes" && name != "app" && name != program.parent_path().parent_path().filename())
                << "a folder named after the program's path: " << entry.path();
        }

        // A stop request ends it cleanly, its page processes with it.
        EXPECT_EQ(app.terminate(10), std::optional<int>(0));
        EXPECT_TRUE(spinUntil(
            [&] {
                for (pid_t page : pages)
                    if (nimbra::test::isRunning(page)) return false;
                return true;
            },
            10))
            << "page processes outlived the application";
    }
}

// Where the sandbox cannot run, the application says so and how to go on,
// instead of running pages unprotected or dying inside the web engine.
TEST(MensajesLaunch, WithoutAWorkingSandboxEndsWithAClearMessage) {
    nimbra::test::gtkBackend();
    const fs::path fakeBin = fs::temp_directory_path() / ("no-sandbox-" + std::to_string(::getpid()));
    fs::create_directories(fakeBin);
    {
        std::ofstream bwrap(fakeBin / "bwrap");
        bwrap << "#!/bin/sh\necho 'bwrap: Creating new namespace failed: Operation not permitted' >&2\nexit 1\n";
    }
    fs::permissions(fakeBin / "bwrap", fs::perms::owner_all);
    const std::string path = fakeBin.string() + ":" + (g_getenv("PATH") ? g_getenv("PATH") : "/usr/bin:/bin");
    AdServerProcess server;
    ASSERT_TRUE(server.ok());
    RunningApplication app(NIMBRA_MENSAJES_PATH, fs::temp_directory_path(), server.origin(), {{"PATH", path}}, true);
    ASSERT_TRUE(app.started());
    const auto [status, errors] = app.waitForEnd();
    fs::remove_all(fakeBin);
    EXPECT_EQ(status, std::optional<int>(1));
    EXPECT_NE(errors.find("Operation not permitted"), std::string::npos) << errors;
    EXPECT_NE(errors.find("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1"), std::string::npos) << errors;
    EXPECT_EQ(banner_test::counter(server, "ads"), 0);
}

}  // namespace
