#pragma once
// View peers of the sim backend: a plain recording peer, and a scripted web
// engine that tests drive (navigate, finish, fail) and watch (loads and
// scripts).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/WeakPtr.h"
#include "platform/WebView.h"

namespace platform {
class Window;
}

namespace platform::sim {

class SimRunLoop;
class SimWebEngine;

// The sim's screen: which views the user sees. A watched view is visible
// while it and every view above it are shown, its window is shown and not
// minimised, and its size is not empty; each change of the view tree is
// looked at on the loop's next turn, and the views whose visibility changed
// hear it.
class SimDisplay {
public:
    explicit SimDisplay(SimRunLoop& loop) : loop_(loop) {}
    void setMinimized(const Window& window, bool minimized);
    bool isMinimized(const Window& window) const;
    void watch(View& view, bool watching);
    // Something in the view tree changed.
    void treeChanged();
    void reset();

private:
    bool visible(const View& view) const;
    void check();
    SimRunLoop& loop_;
    std::vector<std::weak_ptr<View>> watched_;
    std::vector<const Window*> minimized_;
    bool checkPending_ = false;
};

class SimViewPeer final : public ViewPeer {
public:
    SimViewPeer(View& view, SimDisplay& display) : view_(view), display_(display) {}
    void frameChanged() override {
        ++frameChanges;
        display_.treeChanged();
    }
    void propertiesChanged() override {
        ++propertyChanges;
        display_.treeChanged();
    }
    void subviewsChanged() override {
        ++subviewChanges;
        display_.treeChanged();
    }
    void focusRequested() override { ++focusRequests; }
    void watchVisibility(bool watch) override { display_.watch(view_, watch); }
    View& view() const { return view_; }
    static SimViewPeer* of(const View& view);

    int frameChanges = 0;
    int propertyChanges = 0;
    int subviewChanges = 0;
    int focusRequests = 0;

private:
    View& view_;
    SimDisplay& display_;
};

// What the page was asked to show.
struct SimWebLoad {
    enum class Kind { Request, HTML };
    Kind kind = Kind::Request;
    URLRequest request;          // for HTML: the base URL (or about:blank)
    std::string html;            // for HTML
    std::optional<URL> baseURL;  // for HTML
};

class SimWebViewPeer final : public WebViewPeer {
public:
    SimWebViewPeer(WebView& view, SimWebEngine& engine);
    ~SimWebViewPeer() override;

    // The sim peer of a web view (null when it has another kind of peer).
    static SimWebViewPeer* of(const WebView& view);
    WebView& view() const { return view_; }

    // --- what tests drive ---
    // A navigation of the page: offered to the delegate with the request and
    // type; an allowed main-frame navigation starts a load (isLoading,
    // didStartLoad). Returns whether the delegate let it through.
    bool navigate(const URL& url, NavigationType type, bool mainFrame = true);
    bool navigate(const URLRequest& request, NavigationType type, bool mainFrame = true);
    bool navigate(const std::string& url, NavigationType type, bool mainFrame = true);
    // The same, as the engine reports a navigation of the user's own gesture
    // (a key pressed on a link, an assistive action).
    bool navigateByUserGesture(const std::string& url, NavigationType type);
    // Ends the load in progress (false when none is).
    bool finishLoad();
    bool failLoad(const Error& error);
    // The page's process ends: a load in flight fails, then the delegate
    // hears of the process; the page is blank until the next load.
    void endProcess();
    // A tap on the page: the web view's hit test sees it first.
    std::shared_ptr<View> tap(Point point);

    // --- what tests watch ---
    const std::vector<SimWebLoad>& loads() const { return loads_; }
    const std::vector<std::string>& scripts() const { return scripts_; }
    std::optional<SimWebLoad> lastLoad() const;
    // The HTML of the last loadHTMLString, if any.
    std::optional<std::string> lastHTML() const;
    int startCount() const { return starts_; }

    // Answers scripts of this view (overrides the engine's responder).
    void setScriptResponder(std::function<std::optional<std::string>(const std::string&)> responder) {
        responder_ = std::move(responder);
    }

    // WebViewPeer
    void loadRequest(const URLRequest& request) override;
    void loadHTMLString(const std::string& html, const std::optional<URL>& baseURL) override;
    void evaluateJavaScript(const std::string& script,
                            std::function<void(std::optional<std::string>)> completion) override;
    // Loading from the moment a load is asked for, as the engine counts it,
    // until it is refused, finished or failed.
    bool isLoading() const override { return loading_ || asked_ > 0; }
    bool canGoBack() const override { return index_ > 0; }
    bool canGoForward() const override { return index_ + 1 < history_.size(); }
    void goBack() override;
    void goForward() override;
    void reload() override;
    void stopLoading() override;
    std::optional<URLRequest> request() const override { return current_; }
    bool navigationHasUserGesture() const override { return userGesture_; }
    void settingsChanged() override { ++settingsChanges; }

    int settingsChanges = 0;

private:
    // Runs fn on the next turn unless this peer is gone by then.
    void later(std::function<void(SimWebViewPeer&)> fn);
    bool offer(const URLRequest& request, NavigationType type);
    void startLoad(const URLRequest& request, NavigationType type, std::optional<SimWebLoad> page, bool newEntry);
    void historyMove(int by);
    void interruptLoad();

    WebView& view_;
    SimWebEngine& engine_;
    std::vector<SimWebLoad> loads_;
    std::vector<std::string> scripts_;
    std::function<std::optional<std::string>(const std::string&)> responder_;
    bool loading_ = false;
    int asked_ = 0;             // loads asked for and not yet offered to the delegate
    bool userGesture_ = false;  // during the offer of a gesture's navigation
    std::optional<URLRequest> current_;
    std::vector<URLRequest> history_;
    size_t index_ = 0;
    int starts_ = 0;
    WeakPtrFactory<SimWebViewPeer> weakFactory_{this};
};

// Settings shared by every sim web view, and the list of the live ones.
class SimWebEngine {
public:
    explicit SimWebEngine(SimRunLoop& loop) : loop_(loop) { reset(); }

    // Runs one turn after a load has started (the page "executing"): for an
    // HTML load, the load carries the markup. Typical use: make the hidden
    // page send a message with peer.navigate("qmsg://...", Other).
    using PageBehaviour = std::function<void(SimWebViewPeer&, const SimWebLoad&)>;
    void setPageBehaviour(PageBehaviour behaviour) { behaviour_ = std::move(behaviour); }
    // Runs when an evaluated script is answered, before the answer: the page
    // running it (typical use: the call sends a message, as a page does).
    using ScriptBehaviour = std::function<void(SimWebViewPeer&, const std::string&)>;
    void setScriptBehaviour(ScriptBehaviour behaviour) { scriptBehaviour_ = std::move(behaviour); }
    // Answers evaluated scripts (default: the empty string).
    void setScriptResponder(std::function<std::optional<std::string>(const std::string&)> responder) {
        responder_ = std::move(responder);
    }
    // Finishes every started load one turn after it started.
    void setAutoFinish(bool on) { autoFinish_ = on; }
    // The User-Agent the engine puts on the requests it offers.
    void setUserAgent(std::string ua) { userAgent_ = std::move(ua); }
    const std::string& userAgent() const { return userAgent_; }

    const std::vector<SimWebViewPeer*>& liveWebViews() const { return live_; }
    // Times the engine was asked to start ahead of a page, and for what.
    int prewarms() const { return prewarms_; }
    void prewarm(WebContent content) {
        ++prewarms_;
        lastPrewarm_ = content;
    }
    WebContent lastPrewarm() const { return lastPrewarm_; }
    // The newest live web view whose last load matches, for finding the
    // views a component made by itself.
    SimWebViewPeer* findByURLPrefix(const std::string& prefix) const;
    SimWebViewPeer* findByHTML(const std::string& fragment) const;

    void reset();

private:
    friend class SimWebViewPeer;
    SimRunLoop& loop_;
    PageBehaviour behaviour_;
    ScriptBehaviour scriptBehaviour_;
    std::function<std::optional<std::string>(const std::string&)> responder_;
    bool autoFinish_ = false;
    std::string userAgent_;
    std::vector<SimWebViewPeer*> live_;
    int prewarms_ = 0;
    WebContent lastPrewarm_ = WebContent::Application;
};

}  // namespace platform::sim
