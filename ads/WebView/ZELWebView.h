#pragma once
// The web view of every ad surface: a platform web view for outside content
// that remembers whether the user has touched it since the last reset, and
// holds the user's activation, which is how a click is told from a page's own
// navigation and what lets a page open anything at all.

#include <memory>

#include "WebView/ZELUserActivation.h"
#include "platform/WebView.h"

class ZELWebView : public platform::WebView {
public:
    explicit ZELWebView(const platform::Rect& frame);

    bool touched() const { return touched_; }
    void setTouched(bool touched) { touched_ = touched; }
    ZELUserActivation& userActivation() { return userActivation_; }

    // Any touch that reaches the view counts, before the page handles it: it
    // is a new activation too.
    std::shared_ptr<platform::View> hitTest(platform::Point point, const platform::Event* event) override;

private:
    bool touched_ = false;
    ZELUserActivation userActivation_;
};
