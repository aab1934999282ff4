#include "platform/sim/SimViews.h"

#include <algorithm>
#include <utility>

#include "platform/Window.h"

#include "platform/sim/SimRunLoop.h"

namespace platform::sim {

namespace {

constexpr const char* kDefaultUserAgent =
    "Mozilla/5.0 (Linux; Sim) AppleWebKit/605.1.15 (KHTML, like Gecko) Mobile/15E148";

Error cancelledError() { return Error{kURLErrorDomain, kURLErrorCancelled, "cancelled"}; }

}  // namespace

void SimDisplay::setMinimized(const Window& window, bool minimized) {
    std::erase(minimized_, &window);
    if (minimized) minimized_.push_back(&window);
    treeChanged();
}

bool SimDisplay::isMinimized(const Window& window) const {
    return std::find(minimized_.begin(), minimized_.end(), &window) != minimized_.end();
}

void SimDisplay::watch(View& view, bool watching) {
    std::erase_if(watched_, [&view](const std::weak_ptr<View>& w) { return w.expired() || w.lock().get() == &view; });
    if (watching) watched_.push_back(view.weak_from_this());
    treeChanged();
}

void SimDisplay::treeChanged() {
    if (watched_.empty() || std::exchange(checkPending_, true)) return;
    loop_.post(0, [this] { check(); });
}

void SimDisplay::reset() {
    watched_.clear();
    minimized_.clear();
    checkPending_ = false;
}

bool SimDisplay::visible(const View& view) const {
    for (const View* v = &view; v; v = v->superview().get())
        if (v->isHidden()) return false;
    const auto window = view.window();
    return window && !isMinimized(*window) && view.frame().width() > 0 && view.frame().height() > 0;
}

void SimDisplay::check() {
    checkPending_ = false;
    // Copy: a view that hears of its change may change the tree.
    const auto watched = watched_;
    for (const auto& weak : watched)
        if (auto view = weak.lock()) view->setVisibleOnScreen(visible(*view));
}

SimViewPeer* SimViewPeer::of(const View& view) { return dynamic_cast<SimViewPeer*>(view.peer()); }

SimWebViewPeer::SimWebViewPeer(WebView& view, SimWebEngine& engine) : view_(view), engine_(engine) {
    engine_.live_.push_back(this);
}

SimWebViewPeer::~SimWebViewPeer() { std::erase(engine_.live_, this); }

SimWebViewPeer* SimWebViewPeer::of(const WebView& view) { return dynamic_cast<SimWebViewPeer*>(view.webPeer()); }

void SimWebViewPeer::later(std::function<void(SimWebViewPeer&)> fn) {
    engine_.loop_.post(0, platform::bindWeak(weakFactory_.getWeakPtr(), std::move(fn)));
}

bool SimWebViewPeer::offer(const URLRequest& request, NavigationType type) {
    auto hold = view_.weak_from_this().lock();  // the delegate may drop the view
    auto delegate = view_.delegate();
    if (!delegate) return true;
    return delegate->webViewShouldStartLoadWithRequest(view_, request, type);
}

bool SimWebViewPeer::navigate(const URLRequest& original, NavigationType type, bool mainFrame) {
    URLRequest request = original;
    if (!request.valueForHTTPHeaderField("User-Agent"))
        request.setValueForHTTPHeaderField(engine_.userAgent(), "User-Agent");
    const WeakPtr<SimWebViewPeer> alive = weakFactory_.getWeakPtr();
    const bool allowed = offer(request, type);
    if (!alive) return allowed;
    if (allowed && mainFrame)
        startLoad(request, type, std::nullopt, type != NavigationType::BackForward && type != NavigationType::Reload);
    return allowed;
}

bool SimWebViewPeer::navigate(const URL& url, NavigationType type, bool mainFrame) {
    return navigate(URLRequest(url), type, mainFrame);
}

bool SimWebViewPeer::navigate(const std::string& url, NavigationType type, bool mainFrame) {
    auto parsed = URL::parse(url);
    if (!parsed) return false;
    return navigate(*parsed, type, mainFrame);
}

bool SimWebViewPeer::navigateByUserGesture(const std::string& url, NavigationType type) {
    const WeakPtr<SimWebViewPeer> alive = weakFactory_.getWeakPtr();
    userGesture_ = true;
    const bool allowed = navigate(url, type);
    if (alive) userGesture_ = false;
    return allowed;
}

void SimWebViewPeer::interruptLoad() {
    if (!loading_) return;
    loading_ = false;
    auto hold = view_.weak_from_this().lock();
    if (auto delegate = view_.delegate()) delegate->webViewDidFailLoadWithError(view_, cancelledError());
}

void SimWebViewPeer::startLoad(const URLRequest& request, NavigationType type, std::optional<SimWebLoad> page,
                               bool newEntry) {
    (void)type;
    const WeakPtr<SimWebViewPeer> alive = weakFactory_.getWeakPtr();
    interruptLoad();
    if (!alive) return;
    loading_ = true;
    current_ = request;
    if (newEntry) {
        if (!history_.empty())
            history_.erase(history_.begin() + static_cast<std::ptrdiff_t>(index_) + 1, history_.end());
        history_.push_back(request);
        index_ = history_.size() - 1;
    }
    ++starts_;
    const int generation = starts_;
    {
        auto hold = view_.weak_from_this().lock();
        if (auto delegate = view_.delegate()) delegate->webViewDidStartLoad(view_);
    }
    if (!alive) return;
    SimWebLoad load = page ? *page : SimWebLoad{SimWebLoad::Kind::Request, request, {}, {}};
    later([load](SimWebViewPeer& p) {
        if (auto behaviour = p.engine_.behaviour_) behaviour(p, load);
    });
    if (engine_.autoFinish_) {
        later([generation](SimWebViewPeer& p) {
            if (p.starts_ == generation) p.finishLoad();
        });
    }
}

bool SimWebViewPeer::finishLoad() {
    if (!loading_) return false;
    loading_ = false;
    auto hold = view_.weak_from_this().lock();
    if (auto delegate = view_.delegate()) delegate->webViewDidFinishLoad(view_);
    return true;
}

bool SimWebViewPeer::failLoad(const Error& error) {
    if (!loading_) return false;
    loading_ = false;
    auto hold = view_.weak_from_this().lock();
    if (auto delegate = view_.delegate()) delegate->webViewDidFailLoadWithError(view_, error);
    return true;
}

void SimWebViewPeer::endProcess() {
    const WeakPtr<SimWebViewPeer> alive = weakFactory_.getWeakPtr();
    auto hold = view_.weak_from_this().lock();
    failLoad(Error{kWebProcessErrorDomain, 1, "The page's process ended."});
    if (!alive) return;
    current_.reset();
    if (auto delegate = view_.delegate()) delegate->webViewWebProcessDidTerminate(view_);
}

std::shared_ptr<View> SimWebViewPeer::tap(Point point) {
    Event touch;
    touch.type = Event::Type::Touches;
    return view_.hitTest(point, &touch);
}

std::optional<SimWebLoad> SimWebViewPeer::lastLoad() const {
    if (loads_.empty()) return std::nullopt;
    return loads_.back();
}

std::optional<std::string> SimWebViewPeer::lastHTML() const {
    for (auto it = loads_.rbegin(); it != loads_.rend(); ++it)
        if (it->kind == SimWebLoad::Kind::HTML) return it->html;
    return std::nullopt;
}

void SimWebViewPeer::loadRequest(const URLRequest& original) {
    URLRequest request = original;
    if (!request.valueForHTTPHeaderField("User-Agent"))
        request.setValueForHTTPHeaderField(engine_.userAgent(), "User-Agent");
    loads_.push_back({SimWebLoad::Kind::Request, request, {}, {}});
    ++asked_;
    later([request](SimWebViewPeer& p) {
        --p.asked_;
        const WeakPtr<SimWebViewPeer> alive = p.weakFactory_.getWeakPtr();
        if (p.offer(request, NavigationType::Other) && alive)
            p.startLoad(request, NavigationType::Other, std::nullopt, true);
    });
}

void SimWebViewPeer::loadHTMLString(const std::string& html, const std::optional<URL>& baseURL) {
    URLRequest request(baseURL ? *baseURL : *URL::parse("about:blank"));
    request.setValueForHTTPHeaderField(engine_.userAgent(), "User-Agent");
    SimWebLoad load{SimWebLoad::Kind::HTML, request, html, baseURL};
    loads_.push_back(load);
    ++asked_;
    later([load](SimWebViewPeer& p) {
        --p.asked_;
        const WeakPtr<SimWebViewPeer> alive = p.weakFactory_.getWeakPtr();
        if (p.offer(load.request, NavigationType::Other) && alive)
            p.startLoad(load.request, NavigationType::Other, load, true);
    });
}

void SimWebViewPeer::evaluateJavaScript(const std::string& script,
                                        std::function<void(std::optional<std::string>)> completion) {
    scripts_.push_back(script);
    later([script, completion = std::move(completion)](SimWebViewPeer& p) {
        if (p.engine_.scriptBehaviour_) {
            const WeakPtr<SimWebViewPeer> alive = p.weakFactory_.getWeakPtr();
            auto behaviour = p.engine_.scriptBehaviour_;
            behaviour(p, script);
            if (!alive) return;  // the behaviour destroyed the view
        }
        auto& responder = p.responder_ ? p.responder_ : p.engine_.responder_;
        std::optional<std::string> result = responder ? responder(script) : std::optional<std::string>("");
        if (completion) completion(result);
    });
}

void SimWebViewPeer::historyMove(int by) {
    later([by](SimWebViewPeer& p) {
        const long target = static_cast<long>(p.index_) + by;
        if (target < 0 || target >= static_cast<long>(p.history_.size())) return;
        const URLRequest request = p.history_[static_cast<size_t>(target)];
        const WeakPtr<SimWebViewPeer> alive = p.weakFactory_.getWeakPtr();
        if (!p.offer(request, NavigationType::BackForward) || !alive) return;
        p.index_ = static_cast<size_t>(target);
        p.startLoad(request, NavigationType::BackForward, std::nullopt, false);
    });
}

void SimWebViewPeer::goBack() {
    if (canGoBack()) historyMove(-1);
}

void SimWebViewPeer::goForward() {
    if (canGoForward()) historyMove(1);
}

void SimWebViewPeer::reload() {
    if (!current_) return;
    later([](SimWebViewPeer& p) {
        if (!p.current_) return;
        const URLRequest request = *p.current_;
        const WeakPtr<SimWebViewPeer> alive = p.weakFactory_.getWeakPtr();
        if (p.offer(request, NavigationType::Reload) && alive)
            p.startLoad(request, NavigationType::Reload, std::nullopt, false);
    });
}

void SimWebViewPeer::stopLoading() { interruptLoad(); }

SimWebViewPeer* SimWebEngine::findByURLPrefix(const std::string& prefix) const {
    for (auto it = live_.rbegin(); it != live_.rend(); ++it) {
        auto request = (*it)->request();
        auto last = (*it)->lastLoad();
        const std::string shown = request ? request->url.absoluteString() : std::string();
        const std::string asked = last ? last->request.url.absoluteString() : std::string();
        if ((request && shown.compare(0, prefix.size(), prefix) == 0) ||
            (last && asked.compare(0, prefix.size(), prefix) == 0))
            return *it;
    }
    return nullptr;
}

SimWebViewPeer* SimWebEngine::findByHTML(const std::string& fragment) const {
    for (auto it = live_.rbegin(); it != live_.rend(); ++it) {
        auto html = (*it)->lastHTML();
        if (html && html->find(fragment) != std::string::npos) return *it;
    }
    return nullptr;
}

void SimWebEngine::reset() {
    behaviour_ = nullptr;
    scriptBehaviour_ = nullptr;
    responder_ = nullptr;
    autoFinish_ = false;
    userAgent_ = kDefaultUserAgent;
    prewarms_ = 0;
}

}  // namespace platform::sim
