#pragma once
// The seam between the toolkit-neutral platform API and its implementations:
// the real GTK backend (platform/gtk) and the deterministic one for tests
// (platform/sim). Exactly one backend is installed per process; the static
// accessors of the services (RunLoop::main(), Clock::current(), ...) reach it.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Application.h"
#include "platform/Http.h"
#include "platform/RunLoop.h"
#include "platform/Services.h"
#include "platform/View.h"
#include "platform/WebView.h"

namespace platform {

class FileSystem;

class Backend {
public:
    virtual ~Backend() = default;

    virtual RunLoop& runLoop() = 0;
    virtual Clock& clock() = 0;
    virtual UserDefaults& userDefaults() = 0;
    virtual Paths& paths() = 0;
    virtual FileSystem& fileSystem() = 0;
    // One finished log line (already formatted with time, name and pid).
    virtual void writeLogLine(std::string_view line) = 0;

    virtual std::shared_ptr<URLConnection> makeConnection(const URLRequest& request,
                                                          std::weak_ptr<URLConnectionDelegate> delegate) = 0;
    virtual std::unique_ptr<Reachability> makeReachability(const std::string& host) = 0;
    virtual std::optional<std::string> audioRoute() = 0;
    // The dictionary of a property list in either of its forms (see
    // platform/PropertyList.h).
    virtual std::optional<Dictionary> dictionaryFromPropertyList(std::string_view data) = 0;
    virtual void playSystemSound(int soundID) = 0;

    virtual Application& application() = 0;
    virtual Device& device() = 0;
    virtual Screen& mainScreen() = 0;

    // Peers for the view classes.
    virtual std::unique_ptr<ViewPeer> makeViewPeer(View& view) = 0;
    virtual std::unique_ptr<WebViewPeer> makeWebViewPeer(WebView& view) = 0;
    // Starts the web engine ahead of the first page (see WebView::prewarm).
    virtual void prewarmWebEngine(WebContent) {}
    // Readies the HTTP transport ahead of the first fetch (see URLConnection::prepare).
    virtual void prepareConnections() {}
};

// Installs the process's backend (not owned; lives until the process ends or
// a test installs another).
void installBackend(Backend* backend);
Backend& backend();  // aborts with a message when none is installed
bool hasBackend();

}  // namespace platform
