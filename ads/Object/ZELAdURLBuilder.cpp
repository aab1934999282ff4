#include "Object/ZELAdURLBuilder.h"

#include "Request/ZELRequest.h"
#include "Request/ZELRequestError.h"
#include "Request/ZELRequestPrivate.h"
#include "Utility/ZELMacros.h"
#include "Utility/ZELNetworkUtilities.h"
#include "platform/Services.h"
#include "platform/WebView.h"
#include "signals/Signals.h"

namespace {

constexpr char kBuildAdURLFunction[] = "RUMA_buildAdURL";

// The JSON goes inside a script element: "</" would end it early.
std::string escapeForScriptElement(const std::string& json) {
    std::string out;
    out.reserve(json.size());
    for (size_t i = 0; i < json.size(); ++i) {
        if (json[i] == '<' && i + 1 < json.size() && json[i + 1] == '/') {
            out += "<\\/";
            ++i;
        } else {
            out += json[i];
        }
    }
    return out;
}

platform::Dictionary rectDictionary(const platform::Rect& r) {
    return platform::Dictionary{{"x", platform::Value(r.x())},
                                {"y", platform::Value(r.y())},
                                {"w", platform::Value(r.width())},
                                {"h", platform::Value(r.height())}};
}

}  // namespace

ZELAdURLBuilder::~ZELAdURLBuilder() { reset(); }

void ZELAdURLBuilder::addSlotParameters(platform::Dictionary& parameters, const std::string& adUnitID,
                                        bool interstitial, const platform::Rect& frame, const platform::Rect& bounds) {
    if (!adUnitID.empty()) parameters["slotname"] = platform::Value(adUnitID);
    if (interstitial) {
        parameters["format"] = platform::Value("interstitial_mb");
        return;
    }
    parameters["ad_frame"] = platform::Value(rectDictionary(frame));
    parameters["ad_bounds"] = platform::Value(rectDictionary(bounds));
}

std::string ZELAdURLBuilder::callFor(const platform::Dictionary& parameters) {
    const std::string json = ZELMacros::jsonify(platform::Value(parameters)).value_or("");
    return std::string(kBuildAdURLFunction) + "(" + escapeForScriptElement(json) + ");";
}

void ZELAdURLBuilder::build(const std::string& script, const platform::Dictionary& parameters,
                            const platform::URL& baseURL) {
    const std::string call = callFor(parameters);
    auto taken = ZELPreparedBuildPage::take(script, baseURL);
    if (!taken) {
        buildInFreshPage(script, call, baseURL);
        return;
    }
    const bool withScript = taken->needsScript, loaded = taken->loaded;
    adopt(std::move(taken->page));
    if (loaded) {
        runInPage(withScript, script, call, baseURL);
        return;
    }
    const auto self = weakFactory_.getWeakPtr();
    page_.delegate->setLoadedHandler(
        platform::bindWeak(self, [adopted = pages_, withScript, script, call, baseURL](ZELAdURLBuilder& builder) {
            if (builder.pages_ != adopted) return;
            builder.failWhenLost();  // from now on its script runs: lost is lost
            builder.runInPage(withScript, script, call, baseURL);
        }));
    // A page lost before it loaded is no reason to fail the load.
    page_.delegate->setPageLostHandler(
        platform::bindWeak(self, [adopted = pages_, script, call, baseURL](ZELAdURLBuilder& builder) {
            if (builder.pages_ == adopted) builder.buildInFreshPage(script, call, baseURL);
        }));
}

void ZELAdURLBuilder::runInPage(bool withScript, const std::string& script, const std::string& call,
                                const platform::URL& baseURL) {
    // Two runs, as two script elements would be: the call runs even when the
    // script threw after defining it.
    if (withScript) page_.webView->evaluateJavaScript(script);
    const unsigned long adopted = pages_;
    page_.webView->evaluateJavaScript(
        call,
        platform::bindWeak(weakFactory_.getWeakPtr(),
                           [adopted, script, call, baseURL](ZELAdURLBuilder& self, std::optional<std::string> result) {
                               if (result || self.pages_ != adopted || !self.page_.webView) return;
                               // The prepared page could not run the call (its process may have
                               // ended): build in a fresh page instead.
                               self.buildInFreshPage(script, call, baseURL);
                           }));
}

void ZELAdURLBuilder::buildInFreshPage(const std::string& script, const std::string& call,
                                       const platform::URL& baseURL) {
    adopt(ZELPreparedBuildPage::makePage());
    page_.webView->loadHTMLString(ZELPreparedBuildPage::pageHTML(script, call), baseURL);
}

void ZELAdURLBuilder::adopt(ZELPreparedBuildPage::Page page) {
    reset();
    ++pages_;
    page_ = std::move(page);
    const auto self = weakFactory_.getWeakPtr();
    // The page's answers, from this page only.
    page_.delegate->setAnswerHandler(platform::bindWeak(
        self, [](ZELAdURLBuilder& builder, const ZELBuildPageAnswer& answer) { builder.answered(answer); }));
    failWhenLost();
    watchdog_.start(kTimeout, [this] { fail("<Nimbra> The ad request could not be built in time.", ZELErrorTimeout); });
}

void ZELAdURLBuilder::failWhenLost() {
    // A page whose load failed or whose process ended will never answer.
    page_.delegate->setPageLostHandler(platform::bindWeak(weakFactory_.getWeakPtr(), [](ZELAdURLBuilder& builder) {
        builder.fail("<Nimbra> The page building the ad request was lost.", ZELErrorNetworkError);
    }));
}

void ZELAdURLBuilder::reset() {
    watchdog_.stop();
    if (page_.delegate) {
        page_.delegate->setAnswerHandler({});
        page_.delegate->setPageLostHandler({});
        page_.delegate->setLoadedHandler({});
    }
    if (page_.webView) {
        page_.webView->setDelegate({});
        page_.webView->stopLoading();
    }
    // The page may be answering from inside a web view callback: it goes on
    // the next turn, not under its own feet.
    platform::releaseOnNextTurn(std::exchange(page_.webView, nullptr));
    platform::releaseOnNextTurn(std::exchange(page_.delegate, nullptr));
}

void ZELAdURLBuilder::fail(const char* logLine, long code) {
    if (!page_.webView) return;
    reset();
    platform::log(logLine);
    client_.adURLBuilderDidFail(code);
}

void ZELAdURLBuilder::answered(const ZELBuildPageAnswer& answer) {
    reset();
    using Kind = ZELBuildPageAnswer::Kind;
    if (answer.kind != Kind::LoadAdURL || answer.parameters.count("errors")) {
        if (answer.kind == Kind::InvalidRequest)
            platform::log("<Nimbra> Invalid Request: " + platform::Value(answer.parameters).description());
        if (answer.kind == Kind::UnableToServe)
            platform::log("<Nimbra> Unable to serve: " + platform::Value(answer.parameters).description());
        client_.adURLBuilderDidFail(ZELErrorInvalidRequest);
        return;
    }
    client_.adURLBuilderDidBuild(adURLFromAnswer(answer));
}

std::optional<platform::URL> ZELAdURLBuilder::adURLFromAnswer(const ZELBuildPageAnswer& answer) {
    const auto urlText = answer.parameter("url");
    const auto type = answer.parameter("type");
    std::optional<platform::URL> url = urlText ? platform::URL::parse(*urlText) : std::nullopt;
    // The signals library hears of every source, whether its URL is usable or not.
    zel_gig(ZELRequestPrivate::requestTypeFromString(type), ZELRequest::sdkVersion());
    if (!url) return url;
    if (auto signals = ZELRequestPrivate::spamSignals(); !signals.empty()) {
        if (auto withSignals = ZELNetworkUtilities::appendQueryParameters(signals, *url)) url = withSignals;
    }
    if (type && *type == "qwhirl") {
        if (auto withSeq = ZELNetworkUtilities::appendQueryKey("seq_num", std::string("1"), *url)) url = withSeq;
    }
    return url;
}
