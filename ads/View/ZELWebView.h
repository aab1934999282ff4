#pragma once
// The web view of every ad surface. It adds one thing to the platform web
// view: whether the user has touched it since the last reset, which is how a
// click is told from a page's own navigation.

#include <memory>

#include "Utility/ZELPrivateUtilities.h"
#include "platform/WebView.h"

class ZELWebViewPrivate : public ZELPrivateObject {
public:
    bool touched() const { return touched_; }
    void setTouched(bool touched) { touched_ = touched; }

private:
    bool touched_ = false;
};

class ZELWebView : public platform::WebView {
public:
    explicit ZELWebView(const platform::Rect& frame);
    ~ZELWebView() override;

    bool touched() const;
    void setTouched(bool touched);
    std::shared_ptr<ZELWebViewPrivate> vars() const;

    // Any touch that reaches the view counts, before the page handles it.
    std::shared_ptr<platform::View> hitTest(platform::Point point, const platform::Event* event) override;
};
