#pragma once
// The real backend: GLib's default main context for the run loop, libsoup for
// HTTP, GIO for network monitoring, XDG folders for files and a property-list
// file for the defaults store. The user-interface half (GtkUi.h) is made on
// first use, so a process that only uses the services never needs a display.

#include <memory>
#include <optional>
#include <string>

#include "platform/Backend.h"

namespace platform::gtk {

class UiProvider;
struct SoupTransport;

class GtkBackend final : public Backend {
public:
    // Makes the process's backend and installs it; the calling thread becomes
    // the main thread. Call once, early; later calls with the same identifier
    // return the same backend (another identifier aborts: it is a programming
    // error). The identifier names the application's folders, so it must be a
    // plain name ("org.example.App": no "/", not "." or "..").
    static GtkBackend& install(const std::string& applicationId);
    // The installed backend, or null.
    static GtkBackend* installed();

    const std::string& applicationId() const { return applicationId_; }
    // Where bundled resources live (default: $NIMBRA_RESOURCES_DIR, else the
    // "Resources" folder beside the executable).
    void setResourcesDirectory(std::string path);
    void setBundleVersion(std::string version);
    // The application's own folders under the XDG data and cache homes
    // (".../<applicationId>"); no value without a home.
    std::optional<std::string> dataDirectory() const;
    std::optional<std::string> cacheDirectory() const;

    RunLoop& runLoop() override;
    Clock& clock() override;
    UserDefaults& userDefaults() override;
    Paths& paths() override;
    FileSystem& fileSystem() override;
    void writeLogLine(std::string_view line) override;

    std::shared_ptr<URLConnection> makeConnection(const URLRequest& request,
                                                  std::weak_ptr<URLConnectionDelegate> delegate) override;
    std::unique_ptr<Reachability> makeReachability(const std::string& host) override;
    std::optional<std::string> audioRoute() override;
    std::optional<Dictionary> dictionaryFromPropertyList(std::string_view data) override;
    void playSystemSound(int soundID) override;

    Application& application() override;
    Device& device() override;
    Screen& mainScreen() override;
    std::unique_ptr<ViewPeer> makeViewPeer(View& view) override;
    std::unique_ptr<WebViewPeer> makeWebViewPeer(WebView& view) override;
    void prewarmWebEngine(WebContent content) override;
    void prepareConnections() override;

    ~GtkBackend() override;

private:
    explicit GtkBackend(std::string applicationId);
    UiProvider& ui();
    SoupTransport& transport();

    struct Services;
    std::string applicationId_;
    std::unique_ptr<Services> services_;
    std::unique_ptr<UiProvider> ui_;
};

}  // namespace platform::gtk
