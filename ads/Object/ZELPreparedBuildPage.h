#pragma once
// The hidden page in which the support script builds an ad URL, and one such
// page made ready ahead of time. Loading the page and running the script is
// most of the time an ad load spends building its URL, so after a load ends
// one page is loaded with the script alone, and the next load of any banner
// only calls the entry point in it. Every page still serves a single request:
// nothing a script keeps in its globals reaches the next one. The page goes
// when the last banner does.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "WebView/ZELWebViewDelegate.h"
#include "platform/URL.h"
#include "platform/Value.h"

// What the request page answered: the ad URL ("loadAdURL" with "url" and
// "type", or "errors"), or a refusal. The parameters are the message's.
struct ZELBuildPageAnswer {
    enum class Kind { LoadAdURL, InvalidRequest, UnableToServe };
    Kind kind;
    platform::Dictionary parameters;

    std::optional<std::string> parameter(const char* key) const;
};

// The hidden page's delegate: the ad messages of the base delegate; its
// answers go to whoever holds the page, on the next turn (never from inside
// the page's navigation), and so does the word that it can no longer answer
// (its load failed or its process ended), so nobody waits for it until a
// time limit.
class ZELBuildPageDelegate final : public ZELWebViewDelegate {
public:
    ZELBuildPageDelegate() : ZELWebViewDelegate(ZELMessageScope::RequestPage) {}
    void setAnswerHandler(std::function<void(const ZELBuildPageAnswer&)> handler) { answer_ = std::move(handler); }
    void setPageLostHandler(std::function<void()> handler) { pageLost_ = std::move(handler); }
    // Told once, when the page has loaded.
    void setLoadedHandler(std::function<void()> handler) { loaded_ = std::move(handler); }
    void webViewDidFailLoadWithError(platform::WebView& webView, const platform::Error& error) override;
    void webViewWebProcessDidTerminate(platform::WebView& webView) override;

protected:
    void receiveMessage(platform::WebView& webView, const platform::URL& url, const ZELNotification& message) override;
    void loadedFirstPage(platform::WebView& webView) override;

private:
    void pageLost();
    std::function<void(const ZELBuildPageAnswer&)> answer_;
    std::function<void()> pageLost_;
    std::function<void()> loaded_;
    platform::WeakPtrFactory<ZELBuildPageDelegate> weakFactory_{this};
};

class ZELPreparedBuildPage {
public:
    struct Page {
        std::shared_ptr<platform::WebView> webView;
        std::shared_ptr<ZELBuildPageDelegate> delegate;
    };

    // A hidden 1 x 1 web view, not in any window, with its delegate.
    static Page makePage();
    // The page's markup: the script, then the call when there is one.
    static std::string pageHTML(const std::string& script, const std::string& call);

    struct Taken {
        Page page;
        bool needsScript;  // a blank page: the script is still to be run in it
        bool loaded;       // otherwise its delegate tells when it is
    };
    // The page made ready (or still loading) for this script and base URL, or
    // a blank one for it; it is the caller's from then on.
    static std::optional<Taken> take(const std::string& script, const platform::URL& baseURL);
    // Loads a page with this script, unless one is ready or loading for it.
    static void prepare(const std::string& script, const platform::URL& baseURL);
    // Loads a page with no script yet, for the first load of a process, which
    // finds none stored: the page loads while the script downloads.
    static void prepareBlank(const platform::URL& baseURL) { prepare("", baseURL); }
    static bool hasPreparedPage();
    // The web view of the page that is ready for the next load, if any.
    static std::shared_ptr<platform::WebView> readyWebView();
    static void discard();
};
