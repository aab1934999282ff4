#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/Backend.h"
#include "platform/MainThread.h"
#include "platform/Services.h"

namespace platform {

namespace {

LogSink& sink() {
    static LogSink* s = new LogSink();
    return *s;
}

std::string formatLine(std::string_view text) {
    // The installed clock gives the time, so lines written under a virtual
    // clock carry virtual time.
    double unix = hasBackend()
                      ? Clock::current().unixTime()
                      : std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    if (!std::isfinite(unix)) unix = 0;
    double whole = std::floor(unix);
    int millis = static_cast<int>((unix - whole) * 1000.0);
    if (millis > 999) millis = 999;
    std::time_t t = static_cast<std::time_t>(whole);
    std::tm tm{};
    localtime_r(&t, &tm);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
    std::string line = stamp;
    line += ' ';
    line += program_invocation_short_name;
    line += '[';
    line += std::to_string(getpid());
    line += "] ";
    line += text;
    return line;
}

}  // namespace

// The log is the main thread's, like the rest of the layer: nothing here
// runs on another (the web engine's and GLib's own threads never call it).
void setLogSink(LogSink s) {
    checkMainThread("the log");
    sink() = std::move(s);
}

bool traceEnabled() {
    static const bool enabled = std::getenv("NIMBRA_TRACE") != nullptr;
    return enabled;
}

void traceMark(std::string_view what) {
    if (!traceEnabled()) return;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::fprintf(stderr, "nimbra-trace %.3f %.*s\n", double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6,
                 int(what.size()), what.data());
}

void log(std::string_view text) {
    checkMainThread("the log");
    const std::string line = formatLine(text);
    // A copy: the sink may replace itself.
    const LogSink current = sink();
    if (current) {
        current(line);
    } else if (hasBackend()) {
        backend().writeLogLine(line);
    } else {
        std::string out = line + "\n";
        std::fwrite(out.data(), 1, out.size(), stderr);
    }
}

}  // namespace platform
