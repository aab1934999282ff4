#pragma once
// mensajes started as its own process with a home and XDG folders of its own
// under a root folder (kept for the caller, so a next run finds its files),
// pointed at one server, and what it writes on stderr in root/log.

#include <gio/gio.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "platform/gtk/GRef.h"

namespace nimbra::test {

class RunningMensajes {
public:
    RunningMensajes(const std::filesystem::path& root, const std::string& serverOrigin,
                    const std::string& program = NIMBRA_MENSAJES_PATH,
                    const std::filesystem::path& workingDirectory = std::filesystem::temp_directory_path(),
                    const std::string& path = {})
        : log_(root / "log") {
        namespace fs = std::filesystem;
        for (const char* folder : {"home", "config", "cache", "data", "runtime"}) fs::create_directories(root / folder);
        fs::permissions(root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        auto launcher = platform::gtk::GRef<GSubprocessLauncher>::adopt(g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDOUT_SILENCE));
        const char* inherited = g_getenv("PATH");
        const std::pair<const char*, std::string> environment[] = {
            {"HOME", root / "home"},          {"XDG_CONFIG_HOME", root / "config"},    {"XDG_CACHE_HOME", root / "cache"},
            {"XDG_DATA_HOME", root / "data"}, {"XDG_RUNTIME_DIR", root / "runtime"}, {"NIMBRA_STATIC_SERVER", serverOrigin},
            {"NIMBRA_AD_SERVER", serverOrigin}, {"PATH", !path.empty() ? path : inherited ? inherited : "/usr/bin:/bin"}};
        for (const auto& [name, value] : environment) g_subprocess_launcher_setenv(launcher.get(), name, value.c_str(), TRUE);
        g_subprocess_launcher_unsetenv(launcher.get(), "NIMBRA_RESOURCES_DIR");
        g_subprocess_launcher_set_cwd(launcher.get(), workingDirectory.c_str());
        g_subprocess_launcher_set_stderr_file_path(launcher.get(), log_.c_str());
        const char* argv[] = {program.c_str(), nullptr};
        process_ = platform::gtk::GRef<GSubprocess>::adopt(g_subprocess_launcher_spawnv(launcher.get(), argv, nullptr));
        if (process_) pid_ = static_cast<pid_t>(std::stoi(g_subprocess_get_identifier(process_.get())));
    }
    ~RunningMensajes() {
        if (!process_) return;
        if (up()) ::kill(pid_, SIGKILL);
        g_subprocess_wait(process_.get(), nullptr, nullptr);
    }
    RunningMensajes(const RunningMensajes&) = delete;
    RunningMensajes& operator=(const RunningMensajes&) = delete;

    bool started() const { return bool(process_); }
    pid_t pid() const { return pid_; }
    // Running, and not a zombie waiting for us.
    bool up() const {
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string line;
        return pid_ > 0 && std::getline(stat, line) && line.find(") Z") == std::string::npos;
    }
    std::string log() const {
        std::stringstream text;
        text << std::ifstream(log_).rdbuf();
        return text.str();
    }
    size_t logged(const std::string& text) const {
        std::istringstream lines(log());
        size_t n = 0;
        for (std::string line; std::getline(lines, line);) n += line.find(text) != std::string::npos;
        return n;
    }
    // SIGTERM, or nothing; the exit status once it has ended in time and
    // normally, none otherwise.
    std::optional<int> end(bool terminate = true, double seconds = 10) {
        if (terminate) ::kill(pid_, SIGTERM);
        for (int i = 0; i < seconds * 10 && up(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (up()) return std::nullopt;
        g_subprocess_wait(process_.get(), nullptr, nullptr);
        if (!g_subprocess_get_if_exited(process_.get())) return std::nullopt;
        return g_subprocess_get_exit_status(process_.get());
    }

private:
    std::filesystem::path log_;
    platform::gtk::GRef<GSubprocess> process_;
    pid_t pid_ = 0;
};

}  // namespace nimbra::test
