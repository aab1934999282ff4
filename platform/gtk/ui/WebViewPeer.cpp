// The web view on WebKitGTK. Every navigation of every frame is offered to the
// delegate's should-start; start, finish and failure are reported only for
// main-frame loads that were let through, so a refused navigation (an ad
// message URL, another application's scheme) never ends or fails the page that
// is loading.
#include <libsoup/soup.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <cstdlib>

#include "Accessibility.h"
#include "UiGtk.h"
#include "ViewWidget.h"
#include "platform/Services.h"
#include "platform/WeakPtr.h"
#include "platform/gtk/GRef.h"
#include "platform/gtk/GSignal.h"
#include "platform/gtk/GtkBackend.h"

namespace platform::gtk {
namespace {

// The engine's cookies, caches and storage live in the application's own
// folders under its XDG data and cache folders, named after its identifier
// and not after the way the program was started: "webkit" for its own pages,
// "webkit-outside" for outside content, so that an ad never reads what the
// application's pages keep (the carrier's form among them), nor they what an
// ad keeps. Both are kept across launches.
WebKitNetworkSession* newSession(const char* folder) {
    std::optional<std::string> data, cache;
    if (auto* backend = GtkBackend::installed()) {
        data = backend->dataDirectory();
        cache = backend->cacheDirectory();
    }
    if (data) *data += std::string("/") + folder;
    if (cache) *cache += std::string("/") + folder;
    WebKitNetworkSession* session =
        webkit_network_session_new(data ? data->c_str() : nullptr, cache ? cache->c_str() : nullptr);
    // Cookies stay in memory unless they are given a file.
    if (data)
        webkit_cookie_manager_set_persistent_storage(webkit_network_session_get_cookie_manager(session),
                                                     (*data + "/cookies.sqlite").c_str(),
                                                     WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    return session;
}

// Nothing from outside writes a file: a download (an attachment, a link with
// "download", a type the engine cannot show) ends before it has one.
void refuseDownload(WebKitNetworkSession*, WebKitDownload* download, gpointer) {
    WebKitURIRequest* request = webkit_download_get_request(download);
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    log(std::string("web view: refused a download from outside content: ") +
        (uri ? std::string(uri).substr(0, 200) : ""));
    webkit_download_cancel(download);
}

// One session of each kind, held for the life of the process.
WebKitNetworkSession* sessionFor(WebContent content) {
    if (content == WebContent::Outside) {
        static WebKitNetworkSession* outside = [] {
            WebKitNetworkSession* session = newSession("webkit-outside");
            g_signal_connect(session, "download-started", G_CALLBACK(refuseDownload), nullptr);
            return session;
        }();
        return outside;
    }
    static WebKitNetworkSession* own = newSession("webkit");
    return own;
}

// The views of each kind share one web process through a hidden view they
// are all related to (a related view takes its anchor's network session),
// so outside content also runs in a process apart from the application's.
WebKitWebView* newAnchor(WebContent content) {
    return WEBKIT_WEB_VIEW(
        g_object_ref_sink(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", sessionFor(content), nullptr)));
}

// One anchor of each kind, held for the life of the process.
WebKitWebView* anchorView(WebContent content) {
    if (content == WebContent::Outside) {
        static WebKitWebView* outside = newAnchor(content);
        return outside;
    }
    static WebKitWebView* own = newAnchor(content);
    return own;
}

// Ad markup comes from outside, so pages run in the engine's sandbox. Where
// the sandbox cannot start, the engine would abort on its first page with a
// message about a socket; say what is wrong instead, and how to go on.
void requireWebSandbox() {
    static const bool checked = [] {
        if (g_getenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS")) {
            log("web view: the web sandbox is off (WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS is set)");
            return true;
        }
        const char* argv[] = {"bwrap", "--ro-bind", "/", "/", "--unshare-all", "--die-with-parent", "true", nullptr};
        GCharPtr errors;
        int status = 0;
        GErrorPtr error;
        const bool ran = g_spawn_sync(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                                      nullptr, errors.out(), &status, error.out());
        if (ran && g_spawn_check_wait_status(status, nullptr)) return true;
        std::string why = error ? error->message : (errors && *errors.get() ? errors.get() : "bwrap failed");
        while (!why.empty() && why.back() == '\n') why.pop_back();
        log("web view: the web sandbox (bubblewrap) cannot run here: " + why +
            ". Web pages are not shown without it. To run them without a sandbox anyway, at your own risk, set "
            "the environment variable WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS to 1.");
        std::exit(EXIT_FAILURE);
    }();
    (void)checked;
}

WebKitWebView* newWebKitView(WebContent content) {
    requireWebSandbox();
    const auto settings = GRef<WebKitSettings>::adopt(webkit_settings_new());
    if (content == WebContent::Outside) webkit_settings_set_enable_fullscreen(settings.get(), FALSE);
    return WEBKIT_WEB_VIEW(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", anchorView(content), "settings", settings.get(), nullptr));
}

// What the engine would do on its own for a page, refused for outside
// content: script dialogs (alert answers at once, confirm says no, prompt
// gives nothing; a page may always be left), authentication, permission
// requests (location, notifications, camera and microphone, ...), printing,
// file choosers and the context menu.
gboolean answerScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer) {
    const auto type = webkit_script_dialog_get_dialog_type(dialog);
    if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM) webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
    if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
    return TRUE;
}

gboolean refuseAuthentication(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer) {
    webkit_authentication_request_cancel(request);
    return TRUE;
}

gboolean refusePermission(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
    webkit_permission_request_deny(request);
    return TRUE;
}

gboolean refuseFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer) {
    webkit_file_chooser_request_cancel(request);
    return TRUE;
}

gboolean handled(WebKitWebView*) { return TRUE; }

void closeForOutsideContent(WebKitWebView* web) {
    g_signal_connect(web, "script-dialog", G_CALLBACK(answerScriptDialog), nullptr);
    g_signal_connect(web, "authenticate", G_CALLBACK(refuseAuthentication), nullptr);
    g_signal_connect(web, "permission-request", G_CALLBACK(refusePermission), nullptr);
    g_signal_connect(web, "run-file-chooser", G_CALLBACK(refuseFileChooser), nullptr);
    g_signal_connect(web, "print", G_CALLBACK(handled), nullptr);
    g_signal_connect(web, "context-menu", G_CALLBACK(handled), nullptr);
}

// A response the view is not to show: one the engine cannot show or one sent
// as an attachment, which the engine would otherwise save as a download.
bool isDownload(WebKitResponsePolicyDecision* decision) {
    if (!webkit_response_policy_decision_is_mime_type_supported(decision)) return true;
    WebKitURIResponse* response = webkit_response_policy_decision_get_response(decision);
    SoupMessageHeaders* headers = response ? webkit_uri_response_get_http_headers(response) : nullptr;
    GCharPtr disposition;
    return headers && soup_message_headers_get_content_disposition(headers, disposition.out(), nullptr) &&
           g_ascii_strcasecmp(disposition.get(), "attachment") == 0;
}

// For a traced launch: the first frame the window paints after a page in it
// finished loading (hidden request pages are in no window and never paint).
void traceDrawn(WebKitWebView* web) {
    GtkRoot* root = traceEnabled() ? gtk_widget_get_root(GTK_WIDGET(web)) : nullptr;
    GdkFrameClock* clock = root ? gtk_widget_get_frame_clock(GTK_WIDGET(root)) : nullptr;
    if (!clock) return;
    const char* uri = webkit_web_view_get_uri(web);
    connectUntil<GdkFrameClock>(clock, "after-paint",
                                [mark = std::string("page drawn ") + (uri ? uri : "")](GdkFrameClock*) {
                                    traceMark(mark);
                                    return true;
                                });
    gtk_widget_queue_draw(GTK_WIDGET(web));
}

Error errorFrom(const GError* e) {
    if (!e) return Error{kURLErrorDomain, kURLErrorUnknown, "unknown error"};
    if (e->domain == WEBKIT_NETWORK_ERROR && e->code == WEBKIT_NETWORK_ERROR_CANCELLED)
        return Error{kURLErrorDomain, kURLErrorCancelled, e->message};
    return Error{g_quark_to_string(e->domain), e->code, e->message};
}

class GtkWebPeer final : public WebViewPeer, public GtkPeer {
public:
    explicit GtkWebPeer(WebView& view)
        : view_(view),
          web_(newWebKitView(view.content())),
          widget_(view, GTK_WIDGET(web_)),
          cancellable_(GRef<GCancellable>::adopt(g_cancellable_new())) {
        if (view.content() == WebContent::Outside) closeForOutsideContent(web_);
        signals_.emplace_back(web_, "decide-policy", G_CALLBACK(onDecidePolicy), this);
        signals_.emplace_back(web_, "load-changed", G_CALLBACK(onLoadChanged), this);
        signals_.emplace_back(web_, "load-failed", G_CALLBACK(onLoadFailed), this);
        signals_.emplace_back(web_, "web-process-terminated", G_CALLBACK(onProcessGone), this);
        settingsChanged();
        propertiesChanged();
        prepareWebViewAccessibility(GTK_WIDGET(web_));
    }

    ~GtkWebPeer() override {
        g_cancellable_cancel(cancellable_.get());
        // Stopping the load emits (load-failed): nothing may reach this peer then.
        signals_.clear();
        webkit_web_view_stop_loading(web_);
    }

    ViewWidget& viewWidget() override { return widget_; }
    void frameChanged() override { widget_.frameChanged(); }
    void subviewsChanged() override { widget_.subviewsChanged(); }
    void accessibilityChanged() override { applyWebViewAccessibility(GTK_WIDGET(web_), view_.accessibilityLabel()); }
    void focusRequested() override { focusViewWidget(widget_); }
    void propertiesChanged() override {
        widget_.propertiesChanged();
        // A see-through view shows what is under it where the page paints nothing.
        Color c = view_.isOpaque() ? Color::white() : view_.backgroundColor();
        GdkRGBA rgba{float(c.red), float(c.green), float(c.blue), float(c.alpha)};
        webkit_web_view_set_background_color(web_, &rgba);
    }

    void loadRequest(const URLRequest& request) override {
        const auto r = GRef<WebKitURIRequest>::adopt(webkit_uri_request_new(request.url.absoluteString().c_str()));
        if (SoupMessageHeaders* h = webkit_uri_request_get_http_headers(r.get()))
            for (auto& [name, value] : request.headers) soup_message_headers_replace(h, name.c_str(), value.c_str());
        lastRequest_ = request;
        webkit_web_view_load_request(web_, r.get());
    }
    void loadHTMLString(const std::string& html, const std::optional<URL>& baseURL) override {
        lastRequest_ = baseURL ? std::optional<URLRequest>(URLRequest(*baseURL)) : std::nullopt;
        webkit_web_view_load_html(web_, html.c_str(), baseURL ? baseURL->absoluteString().c_str() : nullptr);
    }

    void evaluateJavaScript(const std::string& script,
                            std::function<void(std::optional<std::string>)> completion) override {
        using Completion = std::function<void(std::optional<std::string>)>;
        webkit_web_view_evaluate_javascript(
            web_, script.data(), gssize(script.size()), nullptr, nullptr, cancellable_.get(),
            +[](GObject* source, GAsyncResult* result, gpointer data) {
                // Cancelled with its view: nobody to tell.
                auto completion = PendingCall<Completion>::take(data);
                const auto value = GRef<JSCValue>::adopt(
                    webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, nullptr));
                if (!completion || !*completion) return;
                std::optional<std::string> text;
                if (value && (jsc_value_is_undefined(value.get()) || jsc_value_is_null(value.get()))) {
                    text = "";
                } else if (value) {
                    const GCharPtr s(jsc_value_to_string(value.get()));
                    text = s ? s.get() : "";
                }
                (*completion)(text);
            },
            PendingCall<Completion>::make(cancellable_.get(), std::move(completion)));
    }

    // The engine counts a load as under way from the moment it is asked for.
    bool isLoading() const override { return started_ || webkit_web_view_is_loading(web_); }
    bool canGoBack() const override { return webkit_web_view_can_go_back(web_); }
    bool canGoForward() const override { return webkit_web_view_can_go_forward(web_); }
    void goBack() override { webkit_web_view_go_back(web_); }
    void goForward() override { webkit_web_view_go_forward(web_); }
    void reload() override { webkit_web_view_reload(web_); }
    void stopLoading() override { webkit_web_view_stop_loading(web_); }

    std::optional<URLRequest> request() const override {
        const char* uri = webkit_web_view_get_uri(web_);
        if (!uri) return lastRequest_;
        if (lastRequest_ && lastRequest_->url.absoluteString() == uri) return lastRequest_;
        auto url = URL::parse(uri);
        if (!url) return std::nullopt;
        return URLRequest(*url);
    }

    void settingsChanged() override {
        WebKitSettings* s = webkit_web_view_get_settings(web_);
        webkit_settings_set_media_playback_requires_user_gesture(s, view_.mediaPlaybackRequiresUserAction());
        webkit_settings_set_media_playback_allows_inline(s, view_.allowsInlineMediaPlayback());
        webkit_settings_set_enable_javascript(s, TRUE);
        // Outside content opens no window of its own: a window asked for with
        // the user's gesture is offered as a navigation of this view instead.
        webkit_settings_set_javascript_can_open_windows_automatically(s, view_.content() == WebContent::Application);
    }

    bool navigationHasUserGesture() const override { return userGesture_; }

private:
    URLRequest requestFrom(WebKitURIRequest* r, const URL& url) const {
        URLRequest request(url);
        if (const char* method = webkit_uri_request_get_http_method(r)) request.httpMethod = method;
        if (SoupMessageHeaders* h = webkit_uri_request_get_http_headers(r))
            soup_message_headers_foreach(
                h,
                +[](const char* name, const char* value, gpointer headers) {
                    (*static_cast<HeaderMap*>(headers))[name] = value;
                },
                &request.headers);
        // The engine adds its User-Agent later, on the network side; callers
        // read it here, so fill it in.
        if (!request.valueForHTTPHeaderField("User-Agent"))
            if (const char* ua = webkit_settings_get_user_agent(webkit_web_view_get_settings(web_)))
                request.setValueForHTTPHeaderField(ua, "User-Agent");
        return request;
    }

    // Asks the delegate; false when it refused. Sets gone when the delegate
    // destroyed this view meanwhile.
    bool shouldStart(WebKitNavigationAction* action, bool& gone) {
        gone = false;
        WebKitURIRequest* r = webkit_navigation_action_get_request(action);
        const char* uri = r ? webkit_uri_request_get_uri(r) : nullptr;
        auto url = uri ? URL::parse(uri) : std::nullopt;
        if (!url) {
            log(std::string("web view: refused an address it cannot describe: ") + (uri ? uri : "(none)"));
            return false;
        }
        if (approvedURI_ && *approvedURI_ == uri) {
            approvedURI_.reset();
            return true;
        }
        auto delegate = view_.delegate();
        if (!delegate) return true;
        auto type = static_cast<NavigationType>(webkit_navigation_action_get_navigation_type(action));
        if (int(type) < 0 || int(type) > 5) type = NavigationType::Other;
        auto self = weakFactory_.getWeakPtr();
        userGesture_ = webkit_navigation_action_is_user_gesture(action);
        bool allow = delegate->webViewShouldStartLoadWithRequest(view_, requestFrom(r, *url), type);
        gone = !self;
        if (!gone) userGesture_ = false;
        return allow;
    }

    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                   gpointer data) {
        auto* self = static_cast<GtkWebPeer*>(data);
        if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
            if (self->view_.content() != WebContent::Outside || !isDownload(WEBKIT_RESPONSE_POLICY_DECISION(decision)))
                return FALSE;  // the engine shows it
            log("web view: refused a download from outside content");
            webkit_policy_decision_ignore(decision);
            return TRUE;
        }
        auto* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        bool gone = false;
        bool allow = self->shouldStart(action, gone);
        if (!allow || gone) {
            webkit_policy_decision_ignore(decision);
            return TRUE;
        }
        if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
            // One view, no windows: a page that opens a window navigates itself,
            // without asking the delegate a second time.
            WebKitURIRequest* r = webkit_navigation_action_get_request(action);
            self->approvedURI_ = webkit_uri_request_get_uri(r);
            webkit_policy_decision_ignore(decision);
            webkit_web_view_load_request(self->web_, r);
            return TRUE;
        }
        webkit_policy_decision_use(decision);
        return TRUE;
    }

    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
        auto* self = static_cast<GtkWebPeer*>(data);
        if (event == WEBKIT_LOAD_STARTED) {
            self->started_ = true;
            self->swallowFinish_ = false;
            if (auto d = self->view_.delegate()) d->webViewDidStartLoad(self->view_);
        } else if (event == WEBKIT_LOAD_FINISHED) {
            if (self->swallowFinish_) {
                self->swallowFinish_ = false;
                return;
            }
            if (!self->started_) return;
            self->started_ = false;
            if (self->view_.scalesPageToFit()) self->fitPageWidth();
            const auto alive = self->weakFactory_.getWeakPtr();
            if (auto d = self->view_.delegate()) d->webViewDidFinishLoad(self->view_);
            // After the delegate, which may show the view or let it go.
            if (alive) traceDrawn(self->web_);
        }
    }

    // Zooms out a page wider than the view so that it fits across.
    void fitPageWidth() {
        evaluateJavaScript(
            "Math.max(document.documentElement.scrollWidth, document.body ? document.body.scrollWidth : 0)",
            [this](std::optional<std::string> width) {
                // Runs only while this peer lives (see evaluateJavaScript).
                double w = width ? std::atof(width->c_str()) : 0;
                double zoom = webkit_web_view_get_zoom_level(web_);
                double viewWidth = view_.frame().width();
                if (!(w > 0) || !(viewWidth > 0)) return;
                double fit = std::clamp(zoom * viewWidth / w, 0.25, 1.0);
                if (fit < zoom - 0.01) webkit_web_view_set_zoom_level(web_, fit);
            });
    }

    static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError* error, gpointer data) {
        auto* self = static_cast<GtkWebPeer*>(data);
        bool refused = error && error->domain == WEBKIT_POLICY_ERROR &&
                       error->code == WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE;
        if (refused || !self->started_) {
            // A navigation we refused, or a load we never reported: its end is
            // not the loading page's.
            self->swallowFinish_ = true;
            return TRUE;
        }
        self->started_ = false;
        self->swallowFinish_ = true;
        Error e = errorFrom(error);
        if (auto d = self->view_.delegate()) d->webViewDidFailLoadWithError(self->view_, e);
        return TRUE;  // no engine error page: the view keeps what it showed
    }

    static void onProcessGone(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer data) {
        auto* self = static_cast<GtkWebPeer*>(data);
        log("web view: the page's process ended (" + std::to_string(int(reason)) + ")");
        // The view, and with it this peer, stays for the call: the delegate's
        // first answer may let it go before the second is asked.
        const auto held = self->view_.weak_from_this().lock();
        if (self->started_) {
            self->started_ = false;
            Error e{kWebProcessErrorDomain, long(reason), "The page's process ended."};
            if (auto d = self->view_.delegate()) d->webViewDidFailLoadWithError(self->view_, e);
        }
        if (auto d = self->view_.delegate()) d->webViewWebProcessDidTerminate(self->view_);
    }

    WebView& view_;
    WebKitWebView* web_;  // the view widget's content, which owns it
    ViewWidget widget_;
    // Cancelled with the peer: pending script results then go nowhere.
    GRef<GCancellable> cancellable_;
    std::optional<URLRequest> lastRequest_;
    std::optional<std::string> approvedURI_;
    bool started_ = false;
    bool swallowFinish_ = false;
    bool userGesture_ = false;             // of the navigation being decided
    std::vector<GSignalHandler> signals_;  // of the web view
    WeakPtrFactory<GtkWebPeer> weakFactory_{this};
};

}  // namespace

std::unique_ptr<WebViewPeer> makeGtkWebViewPeer(WebView& view) { return std::make_unique<GtkWebPeer>(view); }

void prewarmGtkWebEngine(WebContent content) {
    static bool started[2] = {false, false};
    if (std::exchange(started[content == WebContent::Outside], true)) return;
    requireWebSandbox();
    traceMark("web engine starting");
    WebKitWebView* anchor = anchorView(content);
    connectUntil<WebKitWebView, WebKitLoadEvent>(anchor, "load-changed", [](WebKitWebView*, WebKitLoadEvent event) {
        if (event != WEBKIT_LOAD_FINISHED) return false;
        traceMark("web engine ready");
        return true;
    });
    // The anchor itself shows a blank page: the shared web process starts (in
    // its sandbox, with the network process beside it), builds its script
    // engine and lays out a line of text in the usual face, plain and bold
    // (loading the fonts), and then stays for every view
    // related to the anchor. The page has no address and fetches nothing.
    webkit_web_view_load_html(anchor,
                              "<!DOCTYPE html><html><body style=\"font-family:sans-serif\"><p>Aa <b>Aa</b></p>"
                              "<script>void 0;</script></body></html>",
                              nullptr);
}

}  // namespace platform::gtk
