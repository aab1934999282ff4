#pragma once
// Processes the integration tests start and watch: nimbra-adserver on a free
// loopback port, mensajes with folders of its own, and the process tree as
// /proc shows it (names cut to 15 characters).

#include <gio/gio.h>
#include <libsoup/soup.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "integration/support/GtkTestEnvironment.h"
#include "platform/gtk/GRef.h"

namespace nimbra::test {

using platform::gtk::GRef;

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// An empty folder of this process's own under the temporary folder.
inline std::filesystem::path freshRoot(const char* what) {
    static int made = 0;
    const auto root = std::filesystem::temp_directory_path() /
                      (std::string(what) + "-" + std::to_string(::getpid()) + "-" + std::to_string(++made));
    std::filesystem::remove_all(root);
    return root;
}

// A program of this name on PATH.
inline bool installed(const char* program) {
    platform::gtk::GCharPtr found(g_find_program_in_path(program));
    return bool(found);
}

// Variables set for a process started by a test (no value: unset).
using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;
inline void applyEnvironment(GSubprocessLauncher* launcher, const Environment& environment) {
    for (const auto& [name, value] : environment) {
        if (value) g_subprocess_launcher_setenv(launcher, name.c_str(), value->c_str(), TRUE);
        else g_subprocess_launcher_unsetenv(launcher, name.c_str());
    }
}

struct ProcessInfo {
    pid_t parent = 0;
    std::string name;
    char state = 0;  // 'Z' for a zombie
};

inline std::optional<ProcessInfo> processInfo(pid_t pid) {
    std::string line;
    if (!std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), line)) return std::nullopt;
    // "pid (comm) state ppid ...": comm may hold blanks and parentheses.
    const size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open || close + 4 > line.size())
        return std::nullopt;
    return ProcessInfo{std::atoi(line.c_str() + close + 4), line.substr(open + 1, close - open - 1), line[close + 2]};
}

// Started, not ended and not a zombie.
inline bool alive(GSubprocess* process) {
    const char* id = process ? g_subprocess_get_identifier(process) : nullptr;
    const auto info = id ? processInfo(std::atoi(id)) : std::nullopt;
    return info && info->state != 'Z';
}

// Turns the main loop until the process has ended, for at most `seconds`:
// whether it ended with status 0, nothing when it is still running.
inline std::optional<bool> waitFor(GSubprocess* process, double seconds) {
    struct Wait {
        bool ended = false, ok = false;
    };
    auto wait = std::make_shared<Wait>();
    // The callback may come after we gave up: it holds the record.
    g_subprocess_wait_check_async(
        process, nullptr,
        +[](GObject* p, GAsyncResult* r, gpointer data) {
            std::unique_ptr<std::shared_ptr<Wait>> held(static_cast<std::shared_ptr<Wait>*>(data));
            (*held)->ok = g_subprocess_wait_check_finish(G_SUBPROCESS(p), r, nullptr);
            (*held)->ended = true;
        },
        new std::shared_ptr<Wait>(wait));
    if (!spinUntil([&] { return wait->ended; }, seconds)) return std::nullopt;
    return wait->ok;
}

// A process started with extra variables; `stdio` as GSubprocess takes it, or
// all its output into a file.
inline GRef<GSubprocess> spawn(const std::vector<std::string>& argv, const Environment& environment,
                               GSubprocessFlags stdio = G_SUBPROCESS_FLAGS_NONE,
                               const std::optional<std::filesystem::path>& output = std::nullopt) {
    auto launcher =
        GRef<GSubprocessLauncher>::adopt(g_subprocess_launcher_new(output ? G_SUBPROCESS_FLAGS_STDERR_MERGE : stdio));
    applyEnvironment(launcher.get(), environment);
    if (output) g_subprocess_launcher_set_stdout_file_path(launcher.get(), output->c_str());
    std::vector<const char*> args;
    for (const std::string& a : argv) args.push_back(a.c_str());
    args.push_back(nullptr);
    return GRef<GSubprocess>::adopt(g_subprocess_launcher_spawnv(launcher.get(), args.data(), nullptr));
}

// Runs a short command to its end; true when it ended in time with status 0.
inline bool runCommand(const std::vector<std::string>& argv, const Environment& environment = {}, double seconds = 30) {
    auto process = spawn(argv, environment, G_SUBPROCESS_FLAGS_STDOUT_SILENCE);
    if (!process) return false;
    if (auto ok = waitFor(process.get(), seconds)) return *ok;
    g_subprocess_force_exit(process.get());
    waitFor(process.get(), 5);
    return false;
}

// Runs a program to its end; its exit status (-1 when it could not start or
// did not exit), all it wrote in `output`.
inline int runToEnd(const std::vector<std::string>& argv, const Environment& environment, std::string& output) {
    auto process =
        spawn(argv, environment, GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_MERGE));
    if (!process) return -1;
    platform::gtk::GCharPtr text;
    g_subprocess_communicate_utf8(process.get(), nullptr, nullptr, text.out(), nullptr, nullptr);
    output = text ? text.get() : "";
    return g_subprocess_get_if_exited(process.get()) ? g_subprocess_get_exit_status(process.get()) : -1;
}

// Stops a process that runs until told: SIGTERM, then SIGKILL if it lingers.
inline void stop(GSubprocess* process) {
    if (!process) return;
    g_subprocess_send_signal(process, SIGTERM);
    if (waitFor(process, 10)) return;
    g_subprocess_force_exit(process);
    waitFor(process, 10);
}

// The first line a stream gives ("" when none).
inline std::string firstLine(GInputStream* in) {
    auto lines = GRef<GDataInputStream>::adopt(g_data_input_stream_new(in));
    platform::gtk::GCharPtr line(g_data_input_stream_read_line(lines.get(), nullptr, nullptr, nullptr));
    return line ? line.get() : "";
}

// The processes below root, each with the names on its way up to root
// (its own first, root's not).
inline std::map<pid_t, std::vector<std::string>> descendantsOf(pid_t root) {
    std::map<pid_t, ProcessInfo> table;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error))
        if (const pid_t pid = std::atoi(entry.path().filename().c_str()); pid > 0)
            if (auto info = processInfo(pid)) table[pid] = *info;
    std::map<pid_t, std::vector<std::string>> found;
    for (const auto& [pid, info] : table) {
        std::vector<std::string> names;
        for (pid_t p = pid; p > 1 && names.size() < 64 && table.count(p); p = table.at(p).parent) {
            if (p == root) {
                if (!names.empty()) found[pid] = names;
                break;
            }
            names.push_back(table.at(p).name);
        }
    }
    return found;
}

// The web engine's page processes under root.
inline std::vector<pid_t> webProcessesOf(pid_t root) {
    std::vector<pid_t> found;
    for (const auto& [pid, names] : descendantsOf(root))
        if (names[0].starts_with("WebKitWebProces")) found.push_back(pid);
    return found;
}

// The body of a GET's answer, on a session of its own (no cookie of the
// process's); empty when none came. Safe on any thread.
inline std::string httpGet(const std::string& url) {
    auto session = GRef<SoupSession>::adopt(soup_session_new());
    auto message = GRef<SoupMessage>::adopt(soup_message_new("GET", url.c_str()));
    if (!message) return {};
    platform::gtk::GBytesPtr body(soup_session_send_and_read(session.get(), message.get(), nullptr, nullptr));
    gsize size = 0;
    const auto* data = body ? static_cast<const char*>(g_bytes_get_data(body.get(), &size)) : nullptr;
    return data ? std::string(data, size) : std::string();
}

// A field of a request's query in the ad server's report that holds JSON
// (ad_frame, kw), parsed; discarded when it is none.
inline nlohmann::json queryJson(const nlohmann::json& request, const char* field) {
    return nlohmann::json::parse(request["query"].value(field, std::string()), nullptr, false);
}

// nimbra-adserver started with "--port 0 --exit-after 60" and the extra
// arguments; ok() once it came up and printed its address.
class AdServerProcess {
public:
    explicit AdServerProcess(std::vector<std::string> arguments = {}) {
        arguments.insert(arguments.begin(), {NIMBRA_ADSERVER_PATH, "--port", "0", "--exit-after", "60"});
        process_ = spawn(arguments, {}, G_SUBPROCESS_FLAGS_STDOUT_PIPE);
        if (!process_) return;
        const std::string line = firstLine(g_subprocess_get_stdout_pipe(process_.get())),
                          prefix = "nimbra-adserver listening on ";
        if (line.starts_with(prefix)) origin_ = line.substr(prefix.size());
    }
    ~AdServerProcess() {
        if (!process_) return;
        g_subprocess_send_signal(process_.get(), SIGTERM);
        g_subprocess_wait(process_.get(), nullptr, nullptr);
    }
    AdServerProcess(const AdServerProcess&) = delete;
    AdServerProcess& operator=(const AdServerProcess&) = delete;

    bool ok() const { return !origin_.empty(); }
    const std::string& origin() const { return origin_; }
    unsigned port() const { return std::atoi(origin_.c_str() + origin_.rfind(':') + 1); }
    std::string get(const std::string& target) const { return httpGet(origin_ + target); }
    // The server's report of what it was asked.
    nlohmann::json status() const { return nlohmann::json::parse(get("/status"), nullptr, false); }
    int counter(const char* name) const {
        const auto report = status();
        return report.is_object() && report["counters"].contains(name) ? report["counters"][name].get<int>() : -1;
    }
    std::vector<nlohmann::json> requestsTo(const std::string& endpoint) const {
        std::vector<nlohmann::json> found;
        const auto report = status();
        if (report.is_object())
            for (const auto& r : report["requests"])
                if (r["endpoint"] == endpoint) found.push_back(r);
        return found;
    }

private:
    GRef<GSubprocess> process_;
    std::string origin_;
};

// A launcher for mensajes (or a program like it) with a home and XDG folders
// of its own under root, pointed at one server.
inline GRef<GSubprocessLauncher> launcherWithFoldersUnder(const std::filesystem::path& root,
                                                          const std::string& serverOrigin, GSubprocessFlags flags) {
    namespace fs = std::filesystem;
    for (const char* folder : {"home", "config", "cache", "data", "runtime"}) fs::create_directories(root / folder);
    fs::permissions(root / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    auto launcher = GRef<GSubprocessLauncher>::adopt(g_subprocess_launcher_new(flags));
    // clang-format off
    applyEnvironment(launcher.get(), {{"HOME", root / "home"}, {"XDG_CONFIG_HOME", root / "config"},
                                      {"XDG_CACHE_HOME", root / "cache"}, {"XDG_DATA_HOME", root / "data"},
                                      {"XDG_RUNTIME_DIR", root / "runtime"}, {"NIMBRA_STATIC_SERVER", serverOrigin},
                                      {"NIMBRA_AD_SERVER", serverOrigin}, {"NIMBRA_RESOURCES_DIR", std::nullopt}});
    // clang-format on
    return launcher;
}

// mensajes as its own process with a home and XDG folders of its own under a
// root folder (kept, so a next run finds its files), pointed at one server,
// its stderr in root/log; the environment given goes over its own (the
// display, PATH, ...).
class RunningMensajes {
public:
    RunningMensajes(const std::filesystem::path& root, const std::string& serverOrigin, const std::string& program,
                    const std::filesystem::path& workingDirectory = std::filesystem::temp_directory_path(),
                    const Environment& environment = {})
        : log_(root / "log") {
        auto launcher = launcherWithFoldersUnder(root, serverOrigin, G_SUBPROCESS_FLAGS_STDOUT_SILENCE);
        if (!g_getenv("PATH")) g_subprocess_launcher_setenv(launcher.get(), "PATH", "/usr/bin:/bin", TRUE);
        applyEnvironment(launcher.get(), environment);
        g_subprocess_launcher_set_cwd(launcher.get(), workingDirectory.c_str());
        g_subprocess_launcher_set_stderr_file_path(launcher.get(), log_.c_str());
        const char* argv[] = {program.c_str(), nullptr};
        process_ = GRef<GSubprocess>::adopt(g_subprocess_launcher_spawnv(launcher.get(), argv, nullptr));
        if (process_) pid_ = std::stoi(g_subprocess_get_identifier(process_.get()));
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
    bool up() const { return alive(process_.get()); }
    std::string log() const { return readFile(log_); }
    // SIGTERM, or nothing; the exit status once it has ended in time and
    // normally, none otherwise.
    std::optional<int> end(bool terminate = true, double seconds = 10) {
        if (terminate) ::kill(pid_, SIGTERM);
        if (!waitFor(process_.get(), seconds) || !g_subprocess_get_if_exited(process_.get())) return std::nullopt;
        return g_subprocess_get_exit_status(process_.get());
    }

private:
    std::filesystem::path log_;
    GRef<GSubprocess> process_;
    pid_t pid_ = 0;
};

}  // namespace nimbra::test
