#pragma once
// The in-app browser's state: the page, its delegate, the toolbar and its
// controls, and a URL waiting for the page to exist.

#include <memory>
#include <optional>

#include "ViewController/ZELViewControllerPrivate.h"
#include "platform/NotificationCenter.h"
#include "platform/ActivityIndicatorView.h"
#include "platform/Toolbar.h"
#include "platform/URL.h"

class ZELWebView;
class ZELWebViewDelegate;

class ZELBrowserControllerPrivate : public ZELViewControllerPrivate {
public:
    ~ZELBrowserControllerPrivate() override;

    std::optional<platform::URL> urlToLoad_;
    std::optional<platform::URL> referringURLToLoad_;
    std::shared_ptr<ZELWebViewDelegate> webViewDelegate_;
    std::shared_ptr<ZELWebView> webView_;
    std::shared_ptr<platform::Toolbar> toolbar_;
    std::shared_ptr<platform::BarButtonItem> flexibleSpaceButton_;
    std::shared_ptr<platform::BarButtonItem> backButton_;
    std::shared_ptr<platform::BarButtonItem> forwardButton_;
    std::shared_ptr<platform::BarButtonItem> reloadButton_;
    std::shared_ptr<platform::BarButtonItem> safariButton_;
    std::shared_ptr<platform::BarButtonItem> doneButton_;
    std::shared_ptr<platform::BarButtonItem> spinnerContainingButton_;
    std::shared_ptr<platform::ActivityIndicatorView> spinner_;

    platform::Observation foreground_;
    platform::OneShotTimer closeAfterForeground_;
};
