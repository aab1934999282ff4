// A launch of the real mensajes process to the first ad drawn in its window,
// against nimbra-adserver on loopback, beside a minimal WebKitGTK program that
// opens a window and shows the same markup. Both print trace lines
// (NIMBRA_TRACE) on the monotonic clock the bench reads before it starts
// them, so the parts come from the processes themselves: toolkit start, web
// process start, support script and request page, markup request, render.
#include <gio/gio.h>
#include <gio/gunixinputstream.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "support/BannerBench.h"

using namespace bench;
namespace fs = std::filesystem;

namespace {

constexpr int kLaunchRounds = 5;
constexpr double kLaunchLimitSeconds = 30;

double monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// One started program: its trace marks, first of each, in ms after the start.
struct Launch {
    std::map<std::string, double> marks;
    std::string drawnURL;
    double at(const std::string& what) const {
        auto it = marks.find(what);
        if (it == marks.end()) fail("no \"" + what + "\" mark");
        return it->second;
    }
};

// Folders of one installation: a launch in the same folders as an earlier one
// finds what that one stored (the support script, the defaults).
fs::path freshFolders(const std::string& name) {
    const fs::path root = fs::temp_directory_path() / ("nimbra-launch-" + std::to_string(getpid()) + "-" + name);
    fs::remove_all(root);
    return root;
}

// Starts the program with tracing on, reads its stderr until it has drawn the
// page whose address holds `drawnPart`, then ends it.
Launch launch(const std::vector<std::string>& argv, const fs::path& folders, const std::string& serverOrigin,
              const std::string& drawnPart) {
    auto launcher = nimbra::test::launcherWithFoldersUnder(folders, serverOrigin, G_SUBPROCESS_FLAGS_STDERR_PIPE);
    const std::pair<const char*, std::string> environment[] = {{"NIMBRA_TRACE", "1"},
                                                               {"MENSAJES_FIRST_PAGE", serverOrigin + "/landing"},
                                                               {"MENSAJES_THIRD_PAGE", serverOrigin + "/landing/2"}};
    for (const auto& [name, value] : environment)
        g_subprocess_launcher_setenv(launcher.get(), name, value.c_str(), TRUE);
    std::vector<const char*> args;
    for (const auto& a : argv) args.push_back(a.c_str());
    args.push_back(nullptr);

    const double start = monotonicMs();
    platform::gtk::GErrorPtr error;
    auto process =
        platform::gtk::GRef<GSubprocess>::adopt(g_subprocess_launcher_spawnv(launcher.get(), args.data(), error.out()));
    if (!process) fail("could not start " + argv[0] + ": " + (error ? error->message : "?"));
    const int fd = g_unix_input_stream_get_fd(G_UNIX_INPUT_STREAM(g_subprocess_get_stderr_pipe(process.get())));

    Launch result;
    std::string pending;
    auto failLaunch = [&](const std::string& why) {
        g_subprocess_force_exit(process.get());
        fail(argv[0] + why);
    };
    const double deadline = start + kLaunchLimitSeconds * 1e3;
    while (result.drawnURL.empty()) {
        const double left = deadline - monotonicMs();
        if (left <= 0) failLaunch(" drew no page with \"" + drawnPart + "\" in time");
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(left)) <= 0) continue;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) failLaunch(" ended before it drew the page");
        pending.append(buffer, size_t(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            const std::string line = pending.substr(0, end);
            if (line.rfind("nimbra-trace ", 0) != 0) continue;
            char* rest = nullptr;
            const double ms = std::strtod(line.c_str() + 13, &rest) - start;
            std::string what = rest && *rest == ' ' ? rest + 1 : "";
            if (what.rfind("page drawn ", 0) == 0) {
                const std::string url = what.substr(11);
                if (url.find(drawnPart) == std::string::npos) continue;
                what = "drawn";
                result.drawnURL = url;
            }
            result.marks.emplace(what, ms);
        }
    }
    g_subprocess_force_exit(process.get());
    g_subprocess_wait(process.get(), nullptr, nullptr);
    return result;
}

struct Column {
    std::vector<double> values;
    void add(double v) { values.push_back(v); }
    double med() const { return median(values); }
};

}  // namespace

int main() {
    nimbra::test::AdServerProcess server({"--refresh-rate", "600", "--exit-after", "300"});
    if (!server.ok()) fail("nimbra-adserver did not start");
    const std::vector<std::string> mensajes{NIMBRA_MENSAJES_PATH};
    auto minimal = [](const std::string& url) { return std::vector<std::string>{NIMBRA_MINIMAL_WINDOW_PATH, url}; };

    // A launch of each first, not counted: the programs' files in the page
    // cache, and the markup URL the minimal program is to show.
    const Launch warmUp = launch(mensajes, freshFolders("warm-up"), server.origin(), "/ads?");
    const std::string markupURL = warmUp.drawnURL;
    launch(minimal(markupURL), freshFolders("warm-up-minimal"), server.origin(), "/ads?");

    enum { kFirst, kLater, kCount };
    std::map<std::string, Column> parts[kCount];
    Column minimalTotal, minimalToolkit;
    auto record = [&](int which, const Launch& l) {
        auto& p = parts[which];
        p["total"].add(l.at("drawn"));
        p["toolkit"].add(l.at("toolkit ready"));
        p["interface"].add(l.at("interface built") - l.at("toolkit ready"));
        p["web process"].add(l.at("web engine ready") - l.at("web engine starting"));
        p["web ready at"].add(l.at("web engine ready"));
        p["requested at"].add(l.at("ad load requested"));
        p["script"].add(l.at("ad URL built") - l.at("ad load requested"));
        p["request"].add(l.at("ad markup received") - l.at("ad URL built"));
        p["render"].add(l.at("drawn") - l.at("ad markup received"));
    };
    for (int round = 0; round < kLaunchRounds; ++round) {
        auto runMinimal = [&] {
            const Launch l = launch(minimal(markupURL), freshFolders("minimal"), server.origin(), "/ads?");
            minimalTotal.add(l.at("drawn"));
            minimalToolkit.add(l.at("toolkit ready"));
        };
        if (round % 2) runMinimal();
        // The first launch of an installation, then the next one, which finds
        // the support script stored.
        const fs::path folders = freshFolders("mensajes");
        record(kFirst, launch(mensajes, folders, server.origin(), "/ads?"));
        record(kLater, launch(mensajes, folders, server.origin(), "/ads?"));
        if (round % 2 == 0) runMinimal();
    }
    for (const char* name : {"warm-up", "warm-up-minimal", "minimal", "mensajes"})
        fs::remove_all(fs::temp_directory_path() / ("nimbra-launch-" + std::to_string(getpid()) + "-" + name));

    std::printf("\n%s: nimbra-adserver at %s, markup URL %s\n", program_invocation_short_name, server.origin().c_str(),
                markupURL.substr(0, 60).c_str());
    std::printf(
        "\n1. Launch to the first ad drawn (ms, medians of %d)   total | toolkit  interface  web process (ready at)"
        "  requested at   script  request   render\n",
        kLaunchRounds);
    const char* labels[kCount] = {"mensajes, first launch", "mensajes, script stored"};
    for (int which = 0; which < kCount; ++which) {
        auto& p = parts[which];
        std::printf("  %-45s %8.1f | %7.1f %10.1f %12.1f (%6.1f) %13.1f %8.1f %8.1f %8.1f\n", labels[which],
                    p["total"].med(), p["toolkit"].med(), p["interface"].med(), p["web process"].med(),
                    p["web ready at"].med(), p["requested at"].med(), p["script"].med(), p["request"].med(),
                    p["render"].med());
    }
    std::printf("  %-45s %8.1f | %7.1f\n", "minimal WebKitGTK window, same markup", minimalTotal.med(),
                minimalToolkit.med());
    printRatio("first launch / minimal", parts[kFirst]["total"].med() / minimalTotal.med(), 1.5);
    printRatio("script stored / minimal", parts[kLater]["total"].med() / minimalTotal.med(), 1.5);
    std::printf(
        "  (script: load asked to ad URL, the support script fetched or read and the request page run;\n"
        "   render: markup in hand to the first frame painted after the page finished)\n");
    return 0;
}
