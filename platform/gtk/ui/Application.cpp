// Application, device and screen on the desktop.
#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "UiGtk.h"
#include "ViewWidget.h"
#include "platform/ApplicationLifecycle.h"
#include "platform/Backend.h"
#include "platform/DeviceIdentifier.h"
#include "platform/Services.h"

namespace platform::gtk {

void refreshWindowStatusBar(WindowPeer* peer);
void windowLaunchEnded(WindowPeer* peer);
GtkWindow* gtkWindowOf(WindowPeer* peer);

namespace {
std::string readFile(const char* path) {
    std::ifstream in(path);
    std::ostringstream s;
    if (in) s << in.rdbuf();
    return s.str();
}
}  // namespace

// ---- Application

GtkApplicationImpl::GtkApplicationImpl() = default;

GtkApplicationImpl::~GtkApplicationImpl() = default;

GtkApplication* GtkApplicationImpl::gtkApplication() {
    // Only for the idle inhibit; made once, and given up for good when the
    // session refuses it (no session bus on a test display, for instance).
    if (appTried_) return app_.get();
    appTried_ = true;
    std::string id = hasBackend() ? Paths::current().bundleIdentifier() : "";
    if (id.empty() || !g_application_id_is_valid(id.c_str())) return nullptr;
    // Without a session bus there is nobody to inhibit; registering would
    // autolaunch a bus of its own, which outlives us.
    const char* bus = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!bus || g_str_has_prefix(bus, "disabled:")) return nullptr;
    auto app = GRef<GtkApplication>::adopt(gtk_application_new(id.c_str(), G_APPLICATION_NON_UNIQUE));
    GErrorPtr error;
    if (!g_application_register(G_APPLICATION(app.get()), nullptr, error.out())) return nullptr;
    app_ = std::move(app);
    return app_.get();
}

ApplicationState GtkApplicationImpl::applicationState() const { return ApplicationLifecycle::shared().state(); }

bool GtkApplicationImpl::canOpenURL(const URL& url) const {
    std::string scheme = toLowerASCII(url.scheme());
    if (scheme.empty()) return false;
    return static_cast<bool>(GRef<GAppInfo>::adopt(g_app_info_get_default_for_uri_scheme(scheme.c_str())));
}

bool GtkApplicationImpl::openURL(const URL& url) {
    if (!canOpenURL(url)) return false;
    GErrorPtr error;
    bool ok = g_app_info_launch_default_for_uri(url.absoluteString().c_str(), nullptr, error.out());
    if (!ok) log(std::string("could not open a URL: ") + (error ? error->message : "no handler"));
    return ok;
}

void GtkApplicationImpl::drawChrome(const Chrome&) {
    redrawStatusBars();
    applyInhibit();
}

void GtkApplicationImpl::redrawStatusBars() {
    for (auto* w : windows_) refreshWindowStatusBar(w);
}

void GtkApplicationImpl::endLaunch() {
    discardLaunchWindow();
    for (auto* w : std::vector(windows_)) windowLaunchEnded(w);
}

void GtkApplicationImpl::applyInhibit() {
    GtkApplication* app = gtkApplication();
    if (isIdleTimerDisabled() && !inhibitCookie_ && app && !windows_.empty()) {
        inhibitCookie_ = gtk_application_inhibit(app, gtkWindowOf(windows_.front()), GTK_APPLICATION_INHIBIT_IDLE,
                                                 "Showing a full-screen page");
    } else if (!isIdleTimerDisabled() && inhibitCookie_ && app) {
        gtk_application_uninhibit(app, inhibitCookie_);
        inhibitCookie_ = 0;
    }
}

void GtkApplicationImpl::addWindow(WindowPeer* peer) {
    windows_.push_back(peer);
    watchBattery([this] { redrawStatusBars(); });
    applyInhibit();
}

void GtkApplicationImpl::removeWindow(WindowPeer* peer) {
    std::erase(windows_, peer);
    if (windows_.empty() && inhibitCookie_ && app_) {
        gtk_application_uninhibit(app_.get(), inhibitCookie_);
        inhibitCookie_ = 0;
    }
}

// ---- Device

std::string osReleaseValue(const std::string& text, const std::string& key) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, key.size() + 1, key + "=") != 0) continue;
        std::string v = line.substr(key.size() + 1);
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
            v = v.substr(1, v.size() - 2);
        return v;
    }
    return "";
}

std::string GtkDeviceImpl::model() const { return "Linux Phone"; }

std::string GtkDeviceImpl::systemVersion() const {
    std::string text = readFile("/etc/os-release");
    if (text.empty()) text = readFile("/usr/lib/os-release");
    std::string v = osReleaseValue(text, "VERSION_ID");
    if (!v.empty()) return v;
    struct utsname u {};
    return uname(&u) == 0 ? std::string(u.release) : std::string("0");
}

// The machine id itself never leaves the machine: the application gets an
// identifier of its own derived from it (empty without a machine id).
std::string GtkDeviceImpl::uniqueIdentifier() const {
    std::string machine = readFile("/etc/machine-id");
    if (machine.empty()) machine = readFile("/var/lib/dbus/machine-id");
    return applicationSpecificMachineID(machine, Paths::current().bundleIdentifier()).value_or("");
}

// ---- Screen

double GtkScreenImpl::scale() const {
    GdkDisplay* display = gdk_display_get_default();
    if (!display) return 1.0;
    GListModel* monitors = gdk_display_get_monitors(display);
    if (!monitors || g_list_model_get_n_items(monitors) == 0) return 1.0;
    auto monitor = GRef<GdkMonitor>::adopt(static_cast<GdkMonitor*>(g_list_model_get_item(monitors, 0)));
    int scale = gdk_monitor_get_scale_factor(monitor.get());
    return scale > 0 ? double(scale) : 1.0;
}

}  // namespace platform::gtk
