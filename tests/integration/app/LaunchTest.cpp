// Mensajes started the ways people start it: by its full path (as a desktop
// entry or a launcher does), by a relative path, and from another folder. It
// stays up, asks for an ad, keeps its files in folders named after the
// application, and shows ad pages inside the web engine's sandbox.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "integration/adserver/AdServerProcess.h"
#include "integration/banner/BannerSupport.h"
#include "integration/support/Processes.h"
#include "platform/gtk/GRef.h"

namespace {

namespace fs = std::filesystem;
using adserver_test::AdServerProcess;
using nimbra::test::spinUntil;
using platform::gtk::GRef;

// A started mensajes with a home and XDG folders of its own.
class RunningApplication {
public:
    RunningApplication(const std::string& program, const fs::path& workingDirectory, const std::string& serverOrigin,
                       const std::string& path = {}, bool readsErrors = false)
        : root_(fs::temp_directory_path() / ("mensajes-launch-" + std::to_string(::getpid()) + "-" + std::to_string(++launches_))) {
        fs::remove_all(root_);
        auto launcher = GRef<GSubprocessLauncher>::adopt(g_subprocess_launcher_new(readsErrors ? G_SUBPROCESS_FLAGS_STDERR_PIPE : G_SUBPROCESS_FLAGS_NONE));
        for (const char* folder : {"home", "config", "cache", "data", "runtime"}) fs::create_directories(root_ / folder);
        fs::permissions(root_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        const std::pair<const char*, std::string> environment[] = {
            {"HOME", root_ / "home"},          {"XDG_CONFIG_HOME", root_ / "config"},    {"XDG_CACHE_HOME", root_ / "cache"},
            {"XDG_DATA_HOME", root_ / "data"}, {"XDG_RUNTIME_DIR", root_ / "runtime"}, {"NIMBRA_STATIC_SERVER", serverOrigin},
            {"NIMBRA_AD_SERVER", serverOrigin}, {"PATH", path.empty() ? std::string(g_getenv("PATH") ? g_getenv("PATH") : "/usr/bin:/bin") : path}};
        for (const auto& [name, value] : environment) g_subprocess_launcher_setenv(launcher.get(), name, value.c_str(), TRUE);
        g_subprocess_launcher_unsetenv(launcher.get(), "NIMBRA_RESOURCES_DIR");
        g_subprocess_launcher_set_cwd(launcher.get(), workingDirectory.c_str());
        const char* argv[] = {program.c_str(), nullptr};
        process_ = GRef<GSubprocess>::adopt(g_subprocess_launcher_spawnv(launcher.get(), argv, nullptr));
        if (process_) pid_ = static_cast<pid_t>(std::stoi(g_subprocess_get_identifier(process_.get())));
    }
    ~RunningApplication() {
        if (process_) {
            g_subprocess_force_exit(process_.get());
            g_subprocess_wait(process_.get(), nullptr, nullptr);
        }
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    bool started() const { return bool(process_); }
    pid_t pid() const { return pid_; }
    const fs::path& root() const { return root_; }
    bool exited() {
        if (!nimbra::test::isRunning(pid_)) return true;
        std::string stat;
        std::getline(std::ifstream("/proc/" + std::to_string(pid_) + "/stat"), stat);
        return stat.size() > stat.rfind(')') + 2 && stat[stat.rfind(')') + 2] == 'Z';  // a zombie
    }
    // SIGTERM or nothing, then the exit status and what it wrote on stderr once
    // it has ended (no status when it did not end in time or not normally).
    std::pair<std::optional<int>, std::string> end(bool terminate, double timeoutSeconds = 10) {
        if (terminate) g_subprocess_send_signal(process_.get(), SIGTERM);
        std::pair<bool, platform::gtk::GCharPtr> done;
        g_subprocess_communicate_utf8_async(
            process_.get(), nullptr, nullptr,
            +[](GObject* source, GAsyncResult* result, gpointer data) {
                auto* d = static_cast<decltype(done)*>(data);
                g_subprocess_communicate_utf8_finish(G_SUBPROCESS(source), result, nullptr, d->second.out(), nullptr);
                d->first = true;
            },
            &done);
        if (!spinUntil([&] { return done.first; }, timeoutSeconds) || !g_subprocess_get_if_exited(process_.get()))
            return {std::nullopt, {}};
        return {g_subprocess_get_exit_status(process_.get()), done.second ? done.second.get() : ""};
    }

private:
    static inline int launches_ = 0;
    fs::path root_;
    GRef<GSubprocess> process_;
    pid_t pid_ = 0;
};

TEST(MensajesLaunch, StaysUpByFullPathRelativePathAndFromAnotherFolder) {
    nimbra::test::gtkBackend();
    const fs::path program = NIMBRA_MENSAJES_PATH;
    ASSERT_TRUE(program.is_absolute());
    const fs::path buildFolder = program.parent_path().parent_path();
    const std::tuple<const char*, std::string, fs::path> starts[] = {
        {"by its full path", program.string(), buildFolder},
        {"by a relative path", fs::relative(program, buildFolder).string(), buildFolder},
        {"by its full path from another folder", program.string(), fs::temp_directory_path()},
    };
    for (const auto& [how, command, workingDirectory] : starts) {
        SCOPED_TRACE(std::string(how) + ": " + command);
        AdServerProcess server({"--refresh-rate", "600"});
        ASSERT_TRUE(server.ok()) << "nimbra-adserver did not start";
        RunningApplication app(command, workingDirectory, server.origin());
        ASSERT_TRUE(app.started());
        // Up long enough to load its first screen and ask for the banner's ad.
        const bool asked = spinUntil([&] { return app.exited() || banner_test::counter(server, "ads") >= 1; }, banner_test::kAdTimeout);
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
        const fs::path folder = "org.nimbra.Mensajes";
        EXPECT_TRUE(fs::is_regular_file(app.root() / "config" / folder / "defaults.plist"));
        EXPECT_TRUE(fs::is_directory(app.root() / "cache" / folder / "127.0.0.1"));
        EXPECT_TRUE(fs::is_directory(app.root() / "data" / folder / "webkit"));
        for (const auto& entry : fs::recursive_directory_iterator(app.root())) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name != "mensajes" && name != "app" && name != buildFolder.filename())
                << "a folder named after the program's path: " << entry.path();
        }
        // A stop request ends it cleanly, its page processes with it.
        EXPECT_EQ(app.end(true).first, std::optional<int>(0));
        EXPECT_TRUE(spinUntil([&] { return std::none_of(pages.begin(), pages.end(), nimbra::test::isRunning); }, 10))
            << "page processes outlived the application";
    }
}

// Where the sandbox cannot run, the application says so and how to go on,
// instead of running pages unprotected or dying inside the web engine.
TEST(MensajesLaunch, WithoutAWorkingSandboxEndsWithAClearMessage) {
    nimbra::test::gtkBackend();
    const fs::path fakeBin = fs::temp_directory_path() / ("no-sandbox-" + std::to_string(::getpid()));
    fs::create_directories(fakeBin);
    std::ofstream(fakeBin / "bwrap") << "#!/bin/sh\necho 'bwrap: Creating new namespace failed: Operation not permitted' >&2\nexit 1\n";
    fs::permissions(fakeBin / "bwrap", fs::perms::owner_all);
    AdServerProcess server;
    ASSERT_TRUE(server.ok());
    RunningApplication app(NIMBRA_MENSAJES_PATH, fs::temp_directory_path(), server.origin(),
                           fakeBin.string() + ":" + (g_getenv("PATH") ? g_getenv("PATH") : "/usr/bin:/bin"), true);
    ASSERT_TRUE(app.started());
    const auto [status, errors] = app.end(false, 30);
    fs::remove_all(fakeBin);
    EXPECT_EQ(status, std::optional<int>(1));
    EXPECT_NE(errors.find("Operation not permitted"), std::string::npos) << errors;
    EXPECT_NE(errors.find("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1"), std::string::npos) << errors;
    EXPECT_EQ(banner_test::counter(server, "ads"), 0);
}

}  // namespace
