#include "platform/gtk/AudioRoute.h"

#include <gio/gio.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/gtk/GRef.h"
#include "platform/URL.h"

namespace platform::gtk {
namespace {

constexpr int kCommandTimeoutMs = 1000;
constexpr size_t kMaximumOutput = 1u << 20;

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// Calls f(key, value) for each "Key: value" line, with the line's indent.
template <typename F>
void forEachField(std::string_view text, F&& f) {
    while (!text.empty()) {
        auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        size_t indent = 0;
        while (indent < line.size() && (line[indent] == '\t' || line[indent] == ' ')) ++indent;
        auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            f(indent, trim(line), std::string_view());
            continue;
        }
        f(indent, trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
}

bool contains(const std::string& haystack, const char* needle) { return haystack.find(needle) != std::string::npos; }

bool soundServerListening() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || runtime[0] != '/') return false;
    for (const char* name : {"/pulse/native", "/pipewire-0"}) {
        struct stat st {};
        if (::stat((std::string(runtime) + name).c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return true;
    }
    return false;
}

// Runs the command with a deadline, on a private main context so that nothing
// else of the application runs meanwhile. The call's callback always runs
// before this returns (the context is turned until it has), so it may write to
// this frame.
std::optional<std::string> runCommand(const std::vector<const char*>& argv) {
    const GMainContextPtr context(g_main_context_new());
    g_main_context_push_thread_default(context.get());
    std::optional<std::string> output;
    GRef<GSubprocessLauncher> launcher = GRef<GSubprocessLauncher>::adopt(g_subprocess_launcher_new(
        static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_SILENCE)));
    g_subprocess_launcher_setenv(launcher.get(), "LC_ALL", "C", TRUE);
    std::vector<const char*> args = argv;
    args.push_back(nullptr);
    GRef<GSubprocess> process =
        GRef<GSubprocess>::adopt(g_subprocess_launcher_spawnv(launcher.get(), args.data(), nullptr));
    if (process) {
        struct Wait {
            bool done = false;
            bool ok = false;
            GBytesPtr out;
        } wait;
        GRef<GCancellable> cancellable = GRef<GCancellable>::adopt(g_cancellable_new());
        g_subprocess_communicate_async(
            process.get(), nullptr, cancellable.get(),
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* w = static_cast<Wait*>(data);
                w->ok = g_subprocess_communicate_finish(G_SUBPROCESS(source), result, w->out.out(), nullptr, nullptr);
                w->done = true;
            },
            &wait);
        bool late = false;
        GAttachedSource deadline = attachSource(
            g_timeout_source_new(kCommandTimeoutMs),
            [](gpointer data) -> gboolean {
                *static_cast<bool*>(data) = true;
                return G_SOURCE_REMOVE;
            },
            &late, context.get());
        while (!wait.done && !late) g_main_context_iteration(context.get(), TRUE);
        if (!wait.done) {
            // A child that keeps the pipe open must not hold us either.
            g_subprocess_force_exit(process.get());
            g_cancellable_cancel(cancellable.get());
            while (!wait.done) g_main_context_iteration(context.get(), TRUE);
        }
        deadline.reset();
        if (wait.ok && !late && wait.out && g_subprocess_get_if_exited(process.get()) &&
            g_subprocess_get_exit_status(process.get()) == 0) {
            gsize size = 0;
            const auto* data = static_cast<const char*>(g_bytes_get_data(wait.out.get(), &size));
            if (size <= kMaximumOutput) output = std::string(data ? data : "", size);
        }
    }
    g_main_context_pop_thread_default(context.get());
    return output;
}

}  // namespace

std::string routeNameForPort(std::string_view sinkName, std::string_view portName) {
    const std::string sink = toLowerASCII(sinkName);
    const std::string port = toLowerASCII(portName);
    if (contains(sink, "bluez") || contains(port, "bluetooth")) return "HeadsetBT";
    if (contains(port, "headset")) return "Headset";
    if (contains(port, "headphone")) return "Headphone";
    if (contains(port, "speaker")) return "Speaker";
    if (contains(port, "hdmi") || contains(port, "iec958")) return "HDMI";
    if (contains(port, "lineout") || contains(port, "line-out") || contains(port, "line_out")) return "LineOut";
    return std::string(portName);
}

std::optional<std::string> audioRouteFromPactl(std::string_view info, std::string_view sinks) {
    std::string defaultSink;
    forEachField(info, [&](size_t, std::string_view key, std::string_view value) {
        if (key == "Default Sink") defaultSink = value;
    });
    if (defaultSink.empty()) return std::nullopt;
    std::optional<std::string> route;
    bool inDefault = false;
    forEachField(sinks, [&](size_t indent, std::string_view key, std::string_view value) {
        if (indent == 0) {
            inDefault = false;  // "Sink #N" starts the next sink
            return;
        }
        if (indent == 1 && key == "Name") inDefault = value == defaultSink;
        if (inDefault && indent == 1 && key == "Active Port" && !value.empty())
            route = routeNameForPort(defaultSink, value);
    });
    return route;
}

std::optional<std::string> queryAudioRoute() {
    std::optional<std::string> answer;
    if (soundServerListening()) {
        const GCharPtr pactl(g_find_program_in_path("pactl"));
        if (pactl) {
            auto info = runCommand({pactl.get(), "info"});
            auto sinks = info ? runCommand({pactl.get(), "list", "sinks"}) : std::nullopt;
            if (info && sinks) answer = audioRouteFromPactl(*info, *sinks);
        }
    }
    return answer;
}

}  // namespace platform::gtk
