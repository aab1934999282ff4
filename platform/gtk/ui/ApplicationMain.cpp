#include "platform/ApplicationMain.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>

#include "platform/InterfaceFile.h"
#include "platform/RunLoop.h"
#include "platform/Services.h"
#include "platform/WebView.h"
#include "platform/gtk/GtkBackend.h"

namespace platform {

int applicationMain(int argc, char** argv, const LaunchOptions& options) {
    // The program name is the application's identifier (set by the
    // backend), never argv[0].
    (void)argc;
    (void)argv;
    auto& backend = gtk::GtkBackend::install(options.identifier);
    if (!options.mainInterface.empty() && options.delegate) {
        log("the launch options name both a main interface file and a delegate; give one");
        return 1;
    }
    if (!options.resourcesDirectory.empty()) {
        backend.setResourcesDirectory(options.resourcesDirectory);
        InterfaceFile::setSearchDirectory(options.resourcesDirectory);
    }
    if (!gtk_init_check()) {
        log("no display to show the application on");
        return 1;
    }
    traceMark("toolkit ready");
    if (options.prewarmWebEngine) {
        WebView::prewarm(WebContent::Application);
        WebView::prewarm(WebContent::Outside);
    }
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
    traceMark("interface built");
    // A session ending or a service manager stopping us: end as if the
    // window closed, so the application hears it will terminate.
    auto quit = +[](gpointer) -> gboolean {
        RunLoop::main().quit();
        return G_SOURCE_CONTINUE;
    };
    const guint interrupt = g_unix_signal_add(SIGINT, quit, nullptr);
    const guint terminate = g_unix_signal_add(SIGTERM, quit, nullptr);
    RunLoop::main().run();
    g_source_remove(interrupt);
    g_source_remove(terminate);
    ApplicationLifecycle::shared().terminate();
    return 0;
}

}  // namespace platform
