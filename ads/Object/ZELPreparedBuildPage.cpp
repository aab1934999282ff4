#include "Object/ZELPreparedBuildPage.h"

#include "Notification/ZELNotification.h"
#include "platform/RunLoop.h"
#include "platform/WebView.h"

namespace {

struct Prepared {
    ZELPreparedBuildPage::Page page;
    std::string script;
    std::string baseURL;
};

// Never destroyed: a web view must not outlive the toolkit at exit.
std::optional<Prepared>& prepared() {
    static auto* slot = new std::optional<Prepared>();
    return *slot;
}

bool isReady(const Prepared& p) { return p.page.delegate->hasLoadedAtLeastOnce(); }

}  // namespace

void ZELBuildPageDelegate::webViewDidFailLoadWithError(platform::WebView& webView, const platform::Error& error) {
    ZELWebViewDelegate::webViewDidFailLoadWithError(webView, error);
    pageLost();
}

void ZELBuildPageDelegate::webViewWebProcessDidTerminate(platform::WebView& webView) {
    ZELWebViewDelegate::webViewWebProcessDidTerminate(webView);
    pageLost();
}

std::optional<std::string> ZELBuildPageAnswer::parameter(const char* key) const {
    auto it = parameters.find(key);
    if (it == parameters.end()) return std::nullopt;
    if (const std::string* text = it->second.asString()) return *text;
    return it->second.textForm();
}

void ZELBuildPageDelegate::receiveMessage(platform::WebView&, const platform::URL&, const ZELNotification& message) {
    using Kind = ZELBuildPageAnswer::Kind;
    const std::string& name = message.name();
    const Kind kind = name == kZELMessageLoadAdURL        ? Kind::LoadAdURL
                      : name == kZELMessageInvalidRequest ? Kind::InvalidRequest
                                                          : Kind::UnableToServe;
    // The scope lets only the three answers through to here.
    ZELBuildPageAnswer answer{kind, message.parameters().value_or(platform::Dictionary())};
    platform::RunLoop::main().postTask(weakFactory_.getWeakPtr(), [answer](ZELBuildPageDelegate& self) {
        if (auto handler = self.answer_) handler(answer);
    });
}

void ZELBuildPageDelegate::loadedFirstPage(platform::WebView&) {
    if (auto handler = std::exchange(loaded_, nullptr)) handler();
}

void ZELBuildPageDelegate::pageLost() {
    // The handler may release this delegate.
    if (auto handler = pageLost_) handler();
}

ZELPreparedBuildPage::Page ZELPreparedBuildPage::makePage() {
    Page page;
    page.delegate = std::make_shared<ZELBuildPageDelegate>();
    // The support script comes from outside like the ads it asks for.
    page.webView = std::make_shared<platform::WebView>(platform::Rect(0, 0, 1, 1), platform::WebContent::Outside);
    page.webView->setHidden(true);
    page.webView->setDelegate(page.delegate);
    return page;
}

std::string ZELPreparedBuildPage::pageHTML(const std::string& script, const std::string& call) {
    std::string html = "<html><head><script>" + script + "</script>";
    if (!call.empty()) html += "<script>" + call + "</script>";
    return html + "</head><body></body></html>";
}

std::optional<ZELPreparedBuildPage::Taken> ZELPreparedBuildPage::take(const std::string& script,
                                                                      const platform::URL& baseURL) {
    auto& slot = prepared();
    if (!slot || slot->baseURL != baseURL.absoluteString() || (slot->script != script && !slot->script.empty()))
        return std::nullopt;
    const bool needsScript = slot->script.empty() && !script.empty(), loaded = isReady(*slot);
    Taken taken{std::move(slot->page), needsScript, loaded};
    slot.reset();
    taken.page.delegate->setPageLostHandler({});
    return taken;
}

void ZELPreparedBuildPage::prepare(const std::string& script, const platform::URL& baseURL) {
    auto& slot = prepared();
    if (slot && slot->script == script && slot->baseURL == baseURL.absoluteString() &&
        (isReady(*slot) || slot->page.webView->isLoading()))
        return;
    discard();
    slot = Prepared{makePage(), script, baseURL.absoluteString()};
    // A page that can no longer answer is no page to hand out.
    const platform::WebView* page = slot->page.webView.get();
    slot->page.delegate->setPageLostHandler([page] {
        if (prepared() && prepared()->page.webView.get() == page) discard();
    });
    slot->page.webView->loadHTMLString(pageHTML(script, ""), baseURL);
}

bool ZELPreparedBuildPage::hasPreparedPage() { return prepared().has_value(); }

std::shared_ptr<platform::WebView> ZELPreparedBuildPage::readyWebView() {
    const auto& slot = prepared();
    return slot && isReady(*slot) ? slot->page.webView : nullptr;
}

void ZELPreparedBuildPage::discard() {
    auto& slot = prepared();
    if (!slot) return;
    slot->page.webView->setDelegate({});
    slot->page.webView->stopLoading();
    // Not under the feet of a web view callback that led here.
    platform::releaseOnNextTurn(std::move(slot->page.webView));
    slot.reset();
}
