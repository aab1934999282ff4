// The least a WebKitGTK program does to show an ad: a window with one web
// view that loads the markup URL given on the command line. The launch bench
// starts it beside mensajes and reads the same trace lines from both: the
// toolkit ready, and the first frame painted after the page finished.
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <cstdio>
#include <ctime>

#include "platform/gtk/GRef.h"
#include "platform/gtk/GSignal.h"

namespace {

void mark(const char* what, const char* detail = "") {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::fprintf(stderr, "nimbra-trace %.3f %s%s\n", double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6, what,
                 detail);
}

void onLoadChanged(WebKitWebView* web, WebKitLoadEvent event, gpointer) {
    if (event != WEBKIT_LOAD_FINISHED) return;
    // The window's clock, as mensajes's trace reads it; the bench reads the
    // line and ends the program itself.
    if (GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(gtk_widget_get_root(GTK_WIDGET(web))))) {
        platform::gtk::connectUntil<GdkFrameClock>(clock, "after-paint", [web](GdkFrameClock*) {
            mark("page drawn ", webkit_web_view_get_uri(web));
            return true;
        });
        gtk_widget_queue_draw(GTK_WIDGET(web));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s URL\n", argv[0]);
        return 2;
    }
    gtk_init();
    mark("toolkit ready");
    GtkWidget* window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), 320, 480);
    GtkWidget* web = webkit_web_view_new();
    gtk_widget_set_size_request(web, 320, 50);
    gtk_widget_set_valign(web, GTK_ALIGN_END);
    g_signal_connect(web, "load-changed", G_CALLBACK(onLoadChanged), nullptr);
    gtk_window_set_child(GTK_WINDOW(window), web);
    gtk_window_present(GTK_WINDOW(window));
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(web), argv[1]);
    const platform::gtk::GMainLoopPtr loop(g_main_loop_new(nullptr, FALSE));
    const auto limit = platform::gtk::attachSource(
        g_timeout_source_new_seconds(30),
        [](gpointer loop) {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        loop.get());
    g_main_loop_run(loop.get());
    return 0;
}
