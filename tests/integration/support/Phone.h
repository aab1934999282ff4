#pragma once
// Screens the phone tests start and read: the phone compositor (phoc) headless
// with its pixman renderer, a virtual X screen of a phone's size, a pointer
// made through the compositor's virtual pointer protocol, and screenshots
// read back as pixels. Each starts and stops its own processes.

#include <gdk/gdk.h>
#include <gio/gunixinputstream.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "integration/support/GtkTestEnvironment.h"
#include "integration/support/Processes.h"

namespace nimbra::test {

namespace fs = std::filesystem;

// A screenshot's pixels.
struct Rgb {
    int red = 0, green = 0, blue = 0;
    bool near(Rgb o, int tolerance) const {
        return std::max({std::abs(red - o.red), std::abs(green - o.green), std::abs(blue - o.blue)}) <= tolerance;
    }
};
inline std::string describe(Rgb c) {
    return "(" + std::to_string(c.red) + "," + std::to_string(c.green) + "," + std::to_string(c.blue) + ")";
}

// A picture's pixels, in Cairo's native order (B, G, R, A in memory).
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
    Rgb at(int x, int y) const {
        const size_t i = (size_t(y) * size_t(width) + size_t(x)) * 4;
        return {pixels[i + 2], pixels[i + 1], pixels[i]};
    }
    static std::optional<Picture> load(const fs::path& file) {
        auto gfile = GRef<GFile>::adopt(g_file_new_for_path(file.c_str()));
        auto texture = GRef<GdkTexture>::adopt(gdk_texture_new_from_file(gfile.get(), nullptr));
        if (!texture) return std::nullopt;
        Picture p{gdk_texture_get_width(texture.get()), gdk_texture_get_height(texture.get()), {}};
        p.pixels.resize(size_t(p.width) * size_t(p.height) * 4);
        gdk_texture_download(texture.get(), p.pixels.data(), size_t(p.width) * 4);
        return p;
    }
};

// The picture a screenshot command writes to the file named last.
inline std::optional<Picture> screenshotBy(std::vector<std::string> argv, const Environment& environment,
                                           const fs::path& file) {
    fs::remove(file);
    argv.push_back(file.string());
    if (!runCommand(argv, environment)) return std::nullopt;
    return Picture::load(file);
}

// The whole X screen (ImageMagick's import), through the file.
inline std::optional<Picture> xScreenshot(const fs::path& file, const Environment& environment = {}) {
    return screenshotBy({"import", "-window", "root"}, environment, file);
}

// What is wrong with mensajes' first tab laid out on a screen of `width` x
// `height` points shown at `scale`: the status bar across the top (no title
// bar above it), the page below, the 49-point tab bar across the bottom, and
// the 50-point banner strip right above it with the 320 x 50 ad in its middle.
// Empty when all is where it belongs.
inline std::vector<std::string> phoneLayoutFaults(const Picture& shot, int scale, int width, int height) {
    if (shot.width != width * scale || shot.height != height * scale)
        return {"the screenshot is " + std::to_string(shot.width) + " x " + std::to_string(shot.height)};
    std::vector<std::string> faults;
    constexpr Rgb kStatusBar{0, 0, 0}, kPage{255, 255, 255}, kStrip{237, 237, 240}, kTabBar{28, 28, 31};
    const double stripMiddle = height - 49 - 25, adLeft = (width - 320) / 2.0;
    struct Sample {
        const char* what;
        double x, y;
        Rgb expected;
        bool same;  // the colour, or anything but it
    };
    std::vector<Sample> samples = {
        {"status bar, left", 0.5, 1, kStatusBar, true},
        {"status bar, right", width - 0.5, 1, kStatusBar, true},
        {"page, right", width - 2.0, height / 3.0, kPage, true},
        {"ad, left end", adLeft + 2, stripMiddle, kStrip, false},
        {"ad, right end", adLeft + 318, stripMiddle, kStrip, false},
        {"tab bar, bottom left", 0.5, height - 0.5, kTabBar, true},
        {"tab bar, bottom right", width - 0.5, height - 0.5, kTabBar, true},
    };
    if (adLeft >= 4) {  // a strip to see beside the ad
        samples.push_back({"strip left of the ad", adLeft / 2, stripMiddle, kStrip, true});
        samples.push_back({"strip right of the ad", width - adLeft / 2, stripMiddle, kStrip, true});
    }
    for (const Sample& s : samples) {
        const Rgb seen = shot.at(int(s.x * scale), int(s.y * scale));
        if (seen.near(s.expected, 8) != s.same)
            faults.push_back(std::string(s.what) + " at (" + std::to_string(s.x) + ", " + std::to_string(s.y) +
                             ") is " + describe(seen));
    }
    return faults;
}

// phoc headless on one output of `width` x `height` pixels at `scale`, its
// socket in `runtime` (its clients' XDG_RUNTIME_DIR: the web engine's sandbox
// finds the socket there, never by an absolute WAYLAND_DISPLAY); its files and
// log in `folder`.
class Phoc {
public:
    Phoc(const fs::path& folder, const fs::path& runtime, int width, int height, int scale)
        : folder_(folder), runtime_(runtime) {
        fs::create_directories(folder);
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
        std::ofstream(folder / "phoc.ini") << "[core]\nxwayland=false\n\n[output:HEADLESS-1]\nmode=" << width << "x"
                                           << height << "\nscale=" << scale << "\n";
        process_ = spawn({"phoc", "-C", (folder / "phoc.ini").string()},
                         {{"WLR_BACKENDS", "headless"},
                          {"WLR_RENDERER", "pixman"},
                          {"XDG_RUNTIME_DIR", runtime.string()},
                          {"GSETTINGS_BACKEND", "memory"},
                          {"WAYLAND_DISPLAY", std::nullopt},
                          {"DISPLAY", std::nullopt}},
                         G_SUBPROCESS_FLAGS_NONE, folder / "phoc.log");
        // "Running compositor on wayland display 'wayland-0'"
        spinUntil(
            [&] { return !up() || readFile(folder / "phoc.log").find("Running compositor") != std::string::npos; }, 20);
        const std::string log = readFile(folder / "phoc.log"), mark = "wayland display '";
        if (const size_t at = log.find(mark); at != std::string::npos)
            socket_ = log.substr(at + mark.size(), log.find('\'', at + mark.size()) - at - mark.size());
    }
    ~Phoc() { stop(process_.get()); }
    Phoc(const Phoc&) = delete;
    Phoc& operator=(const Phoc&) = delete;

    bool up() const { return alive(process_.get()); }
    bool ready() const { return up() && !socket_.empty() && fs::exists(socket()); }
    fs::path socket() const { return runtime_ / socket_; }
    std::string log() const { return readFile(folder_ / "phoc.log"); }
    // A client on this compositor, never on the tests' own X display.
    Environment clients() const {
        return {{"XDG_RUNTIME_DIR", runtime_.string()},
                {"WAYLAND_DISPLAY", socket_},
                {"GDK_BACKEND", "wayland"},
                {"DISPLAY", std::nullopt}};
    }
    std::optional<Picture> screenshot() const { return screenshotBy({"grim"}, clients(), folder_ / "shot.png"); }
    // The output turned ("90", "normal", ...), as a phone's shell does it.
    bool transform(const std::string& how) const {
        return runCommand({"wlr-randr", "--output", "HEADLESS-1", "--transform", how}, clients());
    }

private:
    fs::path folder_, runtime_;
    std::string socket_;
    GRef<GSubprocess> process_;
};

// The phone compositor's pointer: gives it an input seat, moves and taps (in
// points of a layout of the given size).
class VirtualPointer {
public:
    explicit VirtualPointer(const Environment& environment) {
        process_ = spawn({NIMBRA_VIRTUAL_POINTER_PATH}, environment,
                         GSubprocessFlags(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE));
        if (!process_) return;
        lines_ = GRef<GDataInputStream>::adopt(g_data_input_stream_new(g_subprocess_get_stdout_pipe(process_.get())));
        ready_ = answer() == "ready";
    }
    ~VirtualPointer() {
        if (!process_) return;
        g_output_stream_close(g_subprocess_get_stdin_pipe(process_.get()), nullptr, nullptr);
        g_subprocess_wait(process_.get(), nullptr, nullptr);
    }
    VirtualPointer(const VirtualPointer&) = delete;
    VirtualPointer& operator=(const VirtualPointer&) = delete;

    bool ready() const { return ready_; }
    bool move(int x, int y, int width, int height) { return send("move", x, y, width, height); }
    bool tap(int x, int y, int width, int height) { return send("tap", x, y, width, height); }

private:
    bool send(const char* what, int x, int y, int width, int height) {
        if (!ready_) return false;
        std::string line = what;
        for (int n : {x, y, width, height}) line += " " + std::to_string(n);
        line += "\n";
        GOutputStream* in = g_subprocess_get_stdin_pipe(process_.get());
        if (!g_output_stream_write_all(in, line.data(), line.size(), nullptr, nullptr, nullptr) ||
            !g_output_stream_flush(in, nullptr, nullptr))
            return false;
        return answer() == "done";
    }
    std::string answer() {
        platform::gtk::GCharPtr line(g_data_input_stream_read_line(lines_.get(), nullptr, nullptr, nullptr));
        return line ? line.get() : "";
    }
    GRef<GSubprocess> process_;
    GRef<GDataInputStream> lines_;
    bool ready_ = false;
};

// A virtual X screen of `width` x `height` points without a window manager.
class XScreen {
public:
    XScreen(const fs::path& folder, int width, int height) : folder_(folder) {
        fs::create_directories(folder);
        int fds[2];
        if (pipe(fds) != 0) return;
        auto launcher = GRef<GSubprocessLauncher>::adopt(g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDERR_SILENCE));
        g_subprocess_launcher_take_fd(launcher.get(), fds[1], 3);
        const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
        const char* argv[] = {"Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten", "tcp", nullptr};
        process_ = GRef<GSubprocess>::adopt(g_subprocess_launcher_spawnv(launcher.get(), argv, nullptr));
        launcher.reset();  // our copy of the write end goes with it
        // The server writes its display number once it accepts clients.
        const std::string number = firstLine(GRef<GInputStream>::adopt(g_unix_input_stream_new(fds[0], TRUE)).get());
        if (process_ && !number.empty()) display_ = ":" + number;
    }
    ~XScreen() { stop(process_.get()); }
    XScreen(const XScreen&) = delete;
    XScreen& operator=(const XScreen&) = delete;

    bool ready() const { return !display_.empty(); }
    Environment clients() const {
        return {{"DISPLAY", display_}, {"GDK_BACKEND", "x11"}, {"WAYLAND_DISPLAY", std::nullopt}};
    }
    std::optional<Picture> screenshot() const { return xScreenshot(folder_ / "shot.png", clients()); }

private:
    fs::path folder_;
    std::string display_;
    GRef<GSubprocess> process_;
};

}  // namespace nimbra::test
