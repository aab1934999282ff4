#pragma once
// The web-app screen's state: the page, its delegate, the close button, the
// spinner shown until the first page has loaded, and what waits to be loaded.

#include <memory>
#include <optional>
#include <string>

#include "ViewController/ZELViewControllerPrivate.h"
#include "platform/ActivityIndicatorView.h"
#include "platform/Button.h"
#include "platform/URL.h"

class ZELScreenFactory;
class ZELWebAppWebViewDelegate;
class ZELWebView;

class ZELWebAppViewControllerPrivate : public ZELViewControllerPrivate {
public:
    // The page and its delegate outlive the screen a little (see
    // ZELWebAppWebViewDelegate::releaseWithWebView).
    ~ZELWebAppViewControllerPrivate() override;

    std::optional<platform::URL> urlToLoad_;
    std::optional<std::string> htmlToLoad_;
    std::optional<platform::URL> htmlBaseURLToLoad_;
    std::shared_ptr<ZELWebAppWebViewDelegate> webViewDelegate_;
    std::shared_ptr<ZELWebView> webView_;
    std::shared_ptr<platform::Button> closeButton_;
    std::shared_ptr<platform::ActivityIndicatorView> loadingSpinner_;
    const ZELScreenFactory* screenFactory_ = nullptr;  // for the page's opener
};
