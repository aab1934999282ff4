#include "platform/gtk/GtkBackend.h"

#include <gdk/gdk.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "GlibRunLoop.h"
#include "NetworkReachability.h"
#include "PlistValue.h"
#include "SoupConnection.h"
#include "WorkerFileSystem.h"
#include "XdgPaths.h"
#include "platform/Date.h"
#include "platform/Files.h"
#include "platform/gtk/AudioRoute.h"
#include "platform/gtk/FileUserDefaults.h"
#include "platform/gtk/GtkUi.h"

namespace platform::gtk {
namespace {

class SystemClock final : public Clock {
public:
    double monotonicSeconds() const override {
        timespec ts{};
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
    }
    double absoluteTime() const override {
        timespec ts{};
        ::clock_gettime(CLOCK_REALTIME, &ts);
        return static_cast<double>(ts.tv_sec) - kUnixToReferenceOffset + static_cast<double>(ts.tv_nsec) / 1e9;
    }
};

bool isPlainName(const std::string& id) {
    if (id.empty() || id == "." || id == ".." || id.size() > 255) return false;
    for (unsigned char c : id)
        if (c == '/' || c < 0x20 || c == 0x7f) return false;
    return true;
}

GtkBackend* gInstalled = nullptr;

}  // namespace

struct GtkBackend::Services {
    explicit Services(const std::string& id) : paths(id) {}
    GlibRunLoop runLoop;
    SystemClock clock;
    XdgPaths paths;
    WorkerFileSystem files;
    std::unique_ptr<FileUserDefaults> defaults;  // made on first use
};

GtkBackend& GtkBackend::install(const std::string& applicationId) {
    if (gInstalled) {
        if (gInstalled->applicationId_ != applicationId) {
            std::fprintf(stderr, "platform/gtk: a backend for \"%s\" is already installed\n",
                         gInstalled->applicationId_.c_str());
            std::abort();
        }
        return *gInstalled;
    }
    if (!isPlainName(applicationId)) {
        std::fprintf(stderr, "platform/gtk: \"%s\" cannot name the application's folders\n", applicationId.c_str());
        std::abort();
    }
    // The toolkit and the web engine name their folders, the window class and
    // the sandbox's mounts after the program name. It must come from the
    // application's identity: argv[0] differs with every way of starting the
    // program, and an absolute one points the web sandbox at the executable.
    g_set_prgname(applicationId.c_str());
    // Lives until the process ends: objects everywhere may still reach it
    // from their destructors during exit.
    gInstalled = new GtkBackend(applicationId);
    installBackend(gInstalled);
    // Writes still on a worker at exit are finished first (this runs after
    // the exit handlers registered later, such as the defaults' last save).
    std::atexit([] { gInstalled->services_->files.finishBackgroundWrites(); });
    return *gInstalled;
}

GtkBackend* GtkBackend::installed() { return gInstalled; }

GtkBackend::GtkBackend(std::string applicationId)
    : applicationId_(std::move(applicationId)), services_(std::make_unique<Services>(applicationId_)) {}

GtkBackend::~GtkBackend() = default;

void GtkBackend::setResourcesDirectory(std::string path) { services_->paths.setResourcesDirectory(std::move(path)); }
void GtkBackend::setBundleVersion(std::string version) { services_->paths.setBundleVersion(std::move(version)); }

std::optional<std::string> GtkBackend::dataDirectory() const { return services_->paths.dataDirectory(); }
std::optional<std::string> GtkBackend::cacheDirectory() const { return services_->paths.cachesDirectory(); }

RunLoop& GtkBackend::runLoop() { return services_->runLoop; }
Clock& GtkBackend::clock() { return services_->clock; }
Paths& GtkBackend::paths() { return services_->paths; }
FileSystem& GtkBackend::fileSystem() { return services_->files; }

UserDefaults& GtkBackend::userDefaults() {
    if (!services_->defaults) {
        auto folder = services_->paths.configDirectory();
        // Without a home there is nowhere to keep it; a relative path keeps the
        // store working for this run.
        std::string file = (folder ? *folder : applicationId_) + "/defaults.plist";
        services_->defaults = std::make_unique<FileUserDefaults>(file);
        services_->defaults->setAutosave(true);
        // Changes made in the last second before exit still reach the disk.
        std::atexit([] {
            if (gInstalled && gInstalled->services_->defaults) gInstalled->services_->defaults->synchronize();
        });
        // The user's preferred languages, as the platform's settings name them
        // ("es-ES", "es"); the C locale names none.
        Array languages;
        for (const char* const* name = g_get_language_names(); name && *name; ++name) {
            std::string language(*name);
            language = language.substr(0, language.find_first_of(".@"));
            if (language.empty() || language == "C" || language == "POSIX") continue;
            std::replace(language.begin(), language.end(), '_', '-');
            if (std::find(languages.begin(), languages.end(), Value(language)) == languages.end()) {
                languages.push_back(Value(language));
            }
        }
        if (!languages.empty()) services_->defaults->registerDefaults({{"AppleLanguages", Value(languages)}});
    }
    return *services_->defaults;
}

void GtkBackend::writeLogLine(std::string_view line) {
    std::string text(line);
    if (text.empty() || text.back() != '\n') text += '\n';
    // One write per line, so that lines from other processes sharing stderr
    // (the web engine's, a test's) never cut into ours.
    size_t written = 0;
    while (written < text.size()) {
        ssize_t n = ::write(STDERR_FILENO, text.data() + written, text.size() - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
}

std::shared_ptr<URLConnection> GtkBackend::makeConnection(const URLRequest& request,
                                                          std::weak_ptr<URLConnectionDelegate> delegate) {
    return std::make_shared<SoupConnection>(transport(), request, std::move(delegate));
}

void GtkBackend::prepareConnections() {
    transport();
    // The first fetch would otherwise load the proxy and network modules and
    // read their settings (1-2 ms here) before it connects.
    g_proxy_resolver_get_default();
    g_network_monitor_get_default();
    g_object_unref(g_resolver_get_default());  // the default stays GLib's
}

SoupTransport& GtkBackend::transport() {
    auto version = services_->paths.bundleVersion();
    return soupTransport(applicationId_ + "/" + version.value_or("1.0") + " (Linux)");
}

std::unique_ptr<Reachability> GtkBackend::makeReachability(const std::string& host) {
    return NetworkReachability::create(host);
}

std::optional<std::string> GtkBackend::audioRoute() { return queryAudioRoute(); }

std::optional<Dictionary> GtkBackend::dictionaryFromPropertyList(std::string_view data) {
    return gtk::dictionaryFromXml(data).dictionary;
}

void GtkBackend::playSystemSound(int) {
    // No vibrator or sound theme to ask: the display's bell is the one signal
    // every session has. A process without a display stays silent.
    if (!services_->runLoop.isMainThread()) {
        services_->runLoop.performOnMainThread([this] { playSystemSound(0); }, false);
        return;
    }
    if (GdkDisplay* display = gdk_display_get_default()) gdk_display_beep(display);
}

UiProvider& GtkBackend::ui() {
    if (!ui_) ui_ = makeUiProvider();
    return *ui_;
}

Application& GtkBackend::application() { return ui().application(); }
Device& GtkBackend::device() { return ui().device(); }
Screen& GtkBackend::mainScreen() { return ui().mainScreen(); }
std::unique_ptr<ViewPeer> GtkBackend::makeViewPeer(View& view) { return ui().makeViewPeer(view); }
std::unique_ptr<WebViewPeer> GtkBackend::makeWebViewPeer(WebView& view) { return ui().makeWebViewPeer(view); }
void GtkBackend::prewarmWebEngine(WebContent content) { ui().prewarmWebEngine(content); }

}  // namespace platform::gtk
