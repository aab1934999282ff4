#pragma once
// A web view with the delegate the component needs: every navigation is
// offered to should-start with its request (header fields included, the
// User-Agent among them) and its type; start/finish/fail are reported only
// for loads that were let through, and a refused navigation never ends or
// fails the page that is loading.
//
// A view is made for the application's own pages or for outside content;
// the kind is fixed at construction (the engine's network session is). An
// outside view keeps its cookies, storage and caches apart from the
// application's (kept on disk all the same), and the engine does nothing on
// its behalf: downloads, authentication, script dialogs, new windows and
// permission requests are refused, and a script cannot open windows.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Http.h"
#include "platform/View.h"

namespace platform {

enum class NavigationType : int {
    LinkClicked = 0,
    FormSubmitted = 1,
    BackForward = 2,
    Reload = 3,
    FormResubmitted = 4,
    Other = 5,
};

class WebView;

class WebViewDelegate {
public:
    virtual ~WebViewDelegate() = default;
    virtual bool webViewShouldStartLoadWithRequest(WebView&, const URLRequest&, NavigationType) { return true; }
    virtual void webViewDidStartLoad(WebView&) {}
    virtual void webViewDidFinishLoad(WebView&) {}
    virtual void webViewDidFailLoadWithError(WebView&, const Error&) {}
    // The engine process behind the page ended (it crashed or was killed). A
    // load in flight has been reported failed first; the view shows nothing
    // until its next load, which starts a new process.
    virtual void webViewWebProcessDidTerminate(WebView&) {}
};

enum class WebContent {
    Application,  // the application's own pages
    Outside,      // content from outside: ads, their landing pages, scripts
};

// Data detectors of a page (phone numbers, links, addresses, ...): all of them.
inline constexpr unsigned kDataDetectorAll = ~0u;

// Domain of the error a load in flight fails with when its process ends.
inline constexpr const char kWebProcessErrorDomain[] = "WebProcessError";

// The backend's web engine behind a WebView.
class WebViewPeer;

class WebView : public View {
public:
    explicit WebView(const Rect& frame = Rect(), WebContent content = WebContent::Application);
    ~WebView() override;
    WebContent content() const { return content_; }
    // Web views alive in the process (main thread): lets a long run see
    // whether any are left behind.
    static int liveCount();
    // Starts the web engine's processes for views of this kind ahead of their
    // first page: a hidden page with no address and nothing to fetch, so no
    // request goes out. Later calls do nothing; so does a backend without a
    // separate engine.
    static void prewarm(WebContent content = WebContent::Application);

    // Not retained: the owner keeps the delegate alive or clears it first.
    void setDelegate(std::weak_ptr<WebViewDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<WebViewDelegate> delegate() const { return delegate_.lock(); }

    void loadRequest(const URLRequest& request);
    void loadHTMLString(const std::string& html, const std::optional<URL>& baseURL);
    // Completion gets the result as text (nullopt on a script error); it is not
    // called after the web view is destroyed.
    void evaluateJavaScript(const std::string& script, std::function<void(std::optional<std::string>)> completion = {});

    bool isLoading() const;
    bool canGoBack() const;
    bool canGoForward() const;
    void goBack();
    void goForward();
    void reload();
    void stopLoading();
    // The request of the page shown (or being loaded).
    std::optional<URLRequest> request() const;
    // Whether the navigation offered to should-start right now comes from the
    // user's own gesture (a click, a key, an assistive action), as the engine
    // tells it. A page's script running in the moments after such a gesture
    // is counted as the gesture too. False outside that call.
    bool navigationHasUserGesture() const;

    bool scalesPageToFit() const { return scalesPageToFit_; }
    void setScalesPageToFit(bool v);
    bool mediaPlaybackRequiresUserAction() const { return mediaPlaybackRequiresUserAction_; }
    void setMediaPlaybackRequiresUserAction(bool v);
    bool allowsInlineMediaPlayback() const { return allowsInlineMediaPlayback_; }
    void setAllowsInlineMediaPlayback(bool v);
    unsigned dataDetectorTypes() const { return dataDetectorTypes_; }
    void setDataDetectorTypes(unsigned v) { dataDetectorTypes_ = v; }

    WebViewPeer* webPeer() const { return webPeer_; }

private:
    std::weak_ptr<WebViewDelegate> delegate_;
    WebContent content_;
    WebViewPeer* webPeer_ = nullptr;  // owned as the view's peer
    bool scalesPageToFit_ = false;
    bool mediaPlaybackRequiresUserAction_ = true;
    bool allowsInlineMediaPlayback_ = false;
    unsigned dataDetectorTypes_ = 0;
};

class WebViewPeer : public ViewPeer {
public:
    virtual void loadRequest(const URLRequest& request) = 0;
    virtual void loadHTMLString(const std::string& html, const std::optional<URL>& baseURL) = 0;
    virtual void evaluateJavaScript(const std::string& script,
                                    std::function<void(std::optional<std::string>)> completion) = 0;
    virtual bool isLoading() const = 0;
    virtual bool canGoBack() const = 0;
    virtual bool canGoForward() const = 0;
    virtual void goBack() = 0;
    virtual void goForward() = 0;
    virtual void reload() = 0;
    virtual void stopLoading() = 0;
    virtual std::optional<URLRequest> request() const = 0;
    virtual bool navigationHasUserGesture() const = 0;
    virtual void settingsChanged() {}
};

}  // namespace platform
