#include "LoadWatch.h"

#include "platform/Application.h"

namespace mensajes {

void LoadWatch::start(std::weak_ptr<platform::WebView> webView,
                      std::weak_ptr<platform::ActivityIndicatorView> spinner) {
    webView_ = std::move(webView);
    spinner_ = std::move(spinner);
    if (loadTimer_.isRunning()) return;
    loadTimer_.start(kInterval, [this] { checkLoad(); });
    notLoadTimer_.start(kInterval, [this] { checkNotLoad(); });
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
