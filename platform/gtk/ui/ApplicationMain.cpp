#include "platform/ApplicationMain.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/InterfaceFile.h"
#include "platform/RunLoop.h"
#include "platform/Services.h"
#include "platform/WebView.h"
#include "platform/gtk/GRef.h"
#include "platform/gtk/GtkBackend.h"
#include "UiGtk.h"

namespace platform {

namespace {

// The web engine's sandbox hands page processes the compositor's socket from
// the runtime folder, by the name in WAYLAND_DISPLAY: an absolute name would
// leave them without a display, and the engine ends the application when its
// first page process cannot start. One in the runtime folder is passed on by
// its name; one elsewhere cannot reach the pages (false).
bool pageProcessesReachTheDisplay() {
    GdkDisplay* display = gdk_display_get_default();
    const char* socket = g_getenv("WAYLAND_DISPLAY");
    if (!display || std::strcmp(G_OBJECT_TYPE_NAME(display), "GdkWaylandDisplay") != 0 || !socket || socket[0] != '/')
        return true;
    std::error_code error;
    const auto path = std::filesystem::weakly_canonical(socket, error);
    const auto runtime = std::filesystem::weakly_canonical(g_get_user_runtime_dir(), error);
    if (error || path.parent_path() != runtime) return false;
    g_setenv("WAYLAND_DISPLAY", path.filename().c_str(), TRUE);
    return true;
}

}  // namespace

int applicationMain(int argc, char** argv, const LaunchOptions& options) {
    // The program name is the application's identifier (set by the
    // backend), never argv[0].
    (void)argc;
    (void)argv;
    auto& backend = gtk::GtkBackend::install(options.identifier);
    g_set_application_name((options.name.empty() ? options.identifier : options.name).c_str());
    if (!options.mainInterface.empty() && options.delegate) {
        log("the launch options name both a main interface file and a delegate; give one");
        return 1;
    }
    if (!options.resourcesDirectory.empty()) {
        backend.setResourcesDirectory(options.resourcesDirectory);
        InterfaceFile::setSearchDirectory(options.resourcesDirectory);
    }
    if (!gtk_init_check()) {
        const char* x11 = g_getenv("DISPLAY");
        const char* wayland = g_getenv("WAYLAND_DISPLAY");
        log(std::string("no display to show the application on (DISPLAY=") + (x11 ? x11 : "unset") +
            ", WAYLAND_DISPLAY=" + (wayland ? wayland : "unset") + ")");
        return 1;
    }
    // A compositor with no pointer, keyboard or touch screen offers no seat,
    // and the toolkit cannot show a window without one.
    if (!gdk_display_get_default_seat(gdk_display_get_default())) {
        log("the display offers no input seat (no touch screen, pointer or keyboard) to use the application with");
        return 1;
    }
    if (!pageProcessesReachTheDisplay()) {
        log(std::string("the compositor's socket ") + g_getenv("WAYLAND_DISPLAY") +
            " is outside XDG_RUNTIME_DIR, where the web sandbox gives it to pages: name it there (WAYLAND_DISPLAY=wayland-0)");
        return 1;
    }
    traceMark("toolkit ready");
    if (options.prewarmWebEngine) {
        WebView::prewarm(WebContent::Application);
        WebView::prewarm(WebContent::Outside);
    }
    // The screens are built at the size the window system gives the window.
    gtk::openLaunchWindow();
    traceMark("window on screen");
    std::string error;
    if (options.mainInterface.empty()) {
        if (!launchApplication(options.delegate, &error)) {
            log("the application could not be launched: " + error + " (name a main interface file or a delegate)");
            return 1;
        }
    } else if (!launchApplication(options.mainInterface, &error)) {
        log("the main interface \"" + options.mainInterface + "\" could not be built: " + error);
        return 1;
    }
    gtk::gtkApplication().endLaunch();
    traceMark("interface built");
    // A session ending or a service manager stopping us: end as if the
    // window closed, so the application hears it will terminate.
    auto quit = +[](gpointer) -> gboolean {
        RunLoop::main().quit();
        return G_SOURCE_CONTINUE;
    };
    {
        const auto interrupt = gtk::attachSource(g_unix_signal_source_new(SIGINT), quit, nullptr);
        const auto terminate = gtk::attachSource(g_unix_signal_source_new(SIGTERM), quit, nullptr);
        RunLoop::main().run();
    }
    ApplicationLifecycle::shared().terminate();
    return 0;
}

}  // namespace platform
