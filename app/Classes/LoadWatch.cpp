#include "LoadWatch.h"

#include "platform/Application.h"

namespace mensajes {

LoadWatch::~LoadWatch() {
    if (loadTimer_) loadTimer_->invalidate();
    if (notLoadTimer_) notLoadTimer_->invalidate();
}

void LoadWatch::start(std::weak_ptr<platform::WebView> webView, std::weak_ptr<platform::ActivityIndicatorView> spinner) {
    webView_ = std::move(webView);
    spinner_ = std::move(spinner);
    if (loadTimer_) return;
    std::weak_ptr<int> alive = alive_;
    auto& loop = platform::RunLoop::main();
    loadTimer_ = loop.scheduleTimer(kInterval, true, [this, alive](platform::Timer&) {
        if (!alive.expired()) checkLoad();
    });
    notLoadTimer_ = loop.scheduleTimer(kInterval, true, [this, alive](platform::Timer&) {
        if (!alive.expired()) checkNotLoad();
    });
}

void LoadWatch::checkLoad() {
    auto web = webView_.lock();
    if (!web || !web->isLoading()) return;
    if (auto spinner = spinner_.lock()) spinner->startAnimating();
    if (drivesNetworkIndicator_) platform::Application::shared().setNetworkActivityIndicatorVisible(true);
}

void LoadWatch::checkNotLoad() {
    auto web = webView_.lock();
    if (web && web->isLoading()) return;
    if (auto spinner = spinner_.lock()) spinner->stopAnimating();
    if (drivesNetworkIndicator_) platform::Application::shared().setNetworkActivityIndicatorVisible(false);
}

}  // namespace mensajes
