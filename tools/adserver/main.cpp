// nimbra-adserver: the development ad server on loopback. See
// docs/ad-server.md for what it serves.
#include <glib-unix.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "AdServer.h"
#include "Creative.h"
#include "Text.h"

namespace {

constexpr const char kUsage[] =
    "usage: nimbra-adserver [--port N] [--refresh-rate SECONDS] [--exit-after SECONDS] [--creatives LIST]\n"
    "                       [--script-fault reset|hang|throw|twice] [--verbose]\n"
    "  --port N               listen on 127.0.0.1:N (default 8090; 0 picks a free port)\n"
    "  --refresh-rate SECONDS value of X-Ruma-Refresh-Rate (default 30)\n"
    "  --exit-after SECONDS   stop by itself after that long, at most 4294967 (a safety limit for tests)\n"
    "  --creatives LIST       plain ads cycle through these creatives by ad number,\n"
    "                         e.g. normal,browser,open-browser (default: normal only)\n"
    "  --script-fault KIND    the first support-script answer is cut (reset), never comes (hang),\n"
    "                         throws instead of answering (throw) or answers twice (twice)\n"
    "  --verbose              one line per request on stderr\n";

// The main loop's timers count milliseconds in 32 bits: about 49 days.
constexpr double kLongestExitAfter = G_MAXUINT / 1000;

struct CommandLine {
    adserver::ServerOptions server;
    std::optional<double> exitAfter;
};

// Comma-separated names of creative kinds; nothing when one is unknown or empty.
std::optional<std::vector<std::string>> creativeNames(std::string_view list) {
    std::vector<std::string> names;
    for (std::size_t start = 0, comma = 0; comma != std::string_view::npos; start = comma + 1) {
        comma = list.find(',', start);
        const std::string_view name = list.substr(start, comma - start);
        if (!adserver::creativeKind(name)) return std::nullopt;
        names.emplace_back(name);
    }
    return names;
}

std::optional<CommandLine> parseCommandLine(int argc, char** argv) {
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--verbose") {
            line.server.verbose = true;
        } else if (option == "--port" && hasValue) {
            const std::string_view value = argv[++i];
            if (value.empty() || value.size() > 5 || value.find_first_not_of("0123456789") != std::string_view::npos) {
                return std::nullopt;
            }
            const unsigned long port = std::stoul(std::string(value));
            if (port > 65535) return std::nullopt;
            line.server.port = static_cast<unsigned>(port);
        } else if (option == "--refresh-rate" && hasValue) {
            const std::string_view value = argv[++i];
            if (!adserver::isDecimal(value)) return std::nullopt;
            line.server.refreshRate = std::string(value);
        } else if (option == "--exit-after" && hasValue) {
            const std::string_view value = argv[++i];
            if (!adserver::isDecimal(value)) return std::nullopt;
            const double seconds = g_ascii_strtod(std::string(value).c_str(), nullptr);
            if (seconds > kLongestExitAfter) return std::nullopt;
            line.exitAfter = seconds;
        } else if (option == "--script-fault" && hasValue) {
            const std::string_view kind = argv[++i];
            if (kind != "reset" && kind != "hang" && kind != "throw" && kind != "twice") return std::nullopt;
            line.server.scriptFault = std::string(kind);
        } else if (option == "--creatives" && hasValue) {
            const auto names = creativeNames(argv[++i]);
            if (!names) return std::nullopt;
            line.server.creatives = *names;
        } else {
            return std::nullopt;
        }
    }
    return line;
}

// The signals' and the time limit's sources stay until their handles go.
gboolean quitLoop(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const auto line = parseCommandLine(argc, argv);
    if (!line) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // A client that hangs up must not end the server.
    std::signal(SIGPIPE, SIG_IGN);

    const platform::gtk::GMainLoopPtr loop(g_main_loop_new(nullptr, FALSE));
    int status = 0;
    {
        adserver::AdServer server(line->server);
        std::string error;
        const auto port = server.listen(error);
        if (!port) {
            std::fprintf(stderr, "nimbra-adserver: cannot listen on 127.0.0.1:%u: %s\n", line->server.port,
                         error.c_str());
            status = 1;
        } else {
            std::printf("nimbra-adserver listening on http://127.0.0.1:%u\n", *port);
            std::fflush(stdout);
            using platform::gtk::attachSource;
            const auto interrupt = attachSource(g_unix_signal_source_new(SIGINT), &quitLoop, loop.get());
            const auto terminate = attachSource(g_unix_signal_source_new(SIGTERM), &quitLoop, loop.get());
            platform::gtk::GAttachedSource limit;
            if (line->exitAfter) {
                limit = attachSource(g_timeout_source_new(static_cast<guint>(*line->exitAfter * 1000)), &quitLoop,
                                     loop.get());
            }
            g_main_loop_run(loop.get());
        }
    }
    return status;
}
