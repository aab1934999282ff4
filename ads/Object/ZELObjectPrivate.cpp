#include "Object/ZELObjectPrivate.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

#include "Delegate/ZELDelegateManager.h"
#include "Notification/ZELNotification.h"
#include "ViewController/ZELFullScreenAdScreen.h"
#include "Notification/ZELNotificationCenter.h"
#include "Object/ZELPreparedBuildPage.h"
#include "Utility/ZELServerAddresses.h"
#include "Request/ZELRequest.h"
#include "Request/ZELRequestError.h"
#include "Request/ZELRequestPrivate.h"
#include "Statistics/ZELStatistics.h"
#include "Statistics/ZELStatisticsCore.h"
#include "Utility/ZELIdentifierUtilities.h"
#include "Utility/ZELMacros.h"
#include "Utility/ZELNetworkUtilities.h"
#include "WebView/ZELBannerWebViewDelegate.h"
#include "WebView/ZELWebView.h"
#include "WebView/ZELWebViewDelegate.h"
#include "ViewController/ZELOrientationSetting.h"
#include "platform/Application.h"
#include "platform/Services.h"
#include "platform/View.h"
#include "platform/WebView.h"
#include "signals/Signals.h"
#include "Timing/ZELTiming.h"

namespace {

// Set once the platform has announced the end of the launch.
bool didAppFinishLaunching = false;

// Set once the first banner of the process has started the web engine.
bool didPrewarm = false;

int liveControllers = 0;

constexpr char kExpireDateKey[] = "expireDate";
constexpr char kStoreIdentifier[] = "ZELObjectPrivate";
constexpr char kBuildAdURLFunction[] = "RUMA_buildAdURL";

// White space and line ends, ASCII and the common Unicode ones.
bool isSpaceAt(const std::string& s, size_t i, size_t& length) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == ' ' || (c >= '\t' && c <= '\r')) { length = 1; return true; }
    if (c == 0xC2 && i + 1 < s.size()) {
        unsigned char d = static_cast<unsigned char>(s[i + 1]);
        if (d == 0x85 || d == 0xA0) { length = 2; return true; }
    }
    if (c == 0xE2 && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x80) {
        unsigned char d = static_cast<unsigned char>(s[i + 2]);
        if ((d >= 0x80 && d <= 0x8A) || d == 0xA8 || d == 0xA9 || d == 0xAF) { length = 3; return true; }
    }
    if (c == 0xE3 && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x80 &&
        static_cast<unsigned char>(s[i + 2]) == 0x80) {
        length = 3;
        return true;
    }
    return false;
}

std::string trimWhiteSpaceAndNewlines(const std::string& s) {
    size_t begin = 0, length = 0;
    while (begin < s.size() && isSpaceAt(s, begin, length)) begin += length;
    size_t end = s.size();
    // Walk back over whole characters: find the last non-space start.
    size_t lastEnd = begin;
    size_t i = begin;
    while (i < end) {
        if (isSpaceAt(s, i, length)) {
            i += length;
        } else {
            unsigned char c = static_cast<unsigned char>(s[i]);
            size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
            i += n;
            lastEnd = std::min(i, end);
        }
    }
    return s.substr(begin, lastEnd - begin);
}

platform::Dictionary rectDictionary(const platform::Rect& r) {
    return platform::Dictionary{{"x", platform::Value(r.x())},
                                {"y", platform::Value(r.y())},
                                {"w", platform::Value(r.width())},
                                {"h", platform::Value(r.height())}};
}

std::optional<std::string> userInfoString(const platform::Notification& message, const char* key) {
    const platform::Value* value = message.userInfo.find(key);
    if (!value) return std::nullopt;
    if (const std::string* s = value->asString()) return *s;
    return value->textForm();
}

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

}  // namespace

// Creation and ownership.

ZELObjectPrivate::ZELObjectPrivate(const platform::Rect& frame) : initialFrame_(frame) { ++liveControllers; }

std::shared_ptr<ZELObjectPrivate> ZELObjectPrivate::initWithFrame(const platform::Rect& frame) {
    registerForLaunchNotification();
    prewarmOnFirstUse();
    std::shared_ptr<ZELObjectPrivate> controller(new ZELObjectPrivate(frame));
    controller->setUp();
    return controller;
}

std::shared_ptr<ZELObjectPrivate> ZELObjectPrivate::initWithView(platform::View& view) {
    auto controller = initWithFrame(view.bounds());
    controller->adView_ = view.weak_from_this();
    view.addSubview(controller->webView_);
    return controller;
}

void ZELObjectPrivate::setUp() {
    delegateManager_ = ZELDelegateManager::create();
    webView_ = std::make_shared<ZELWebView>(initialFrame_);
    webView_->setScalesPageToFit(false);
    webView_->setMediaPlaybackRequiresUserAction(true);
    webView_->setHidden(true);
    webViewDelegate_ = ZELBannerWebViewDelegate::initWithObjectPrivate(shared_from_this());

    auto observe = [this](const char* name, void (ZELObjectPrivate::*action)()) {
        applicationObservations_.push_back(platform::NotificationCenter::defaultCenter().observe(
            name, nullptr, [this, action](const platform::Notification&) { (this->*action)(); }));
    };
    if (ZELIdentifierUtilities::isOSAtLeast(4, 0, 0)) {
        observe(platform::kApplicationDidEnterBackgroundNotification, &ZELObjectPrivate::deactivateReloadTimer);
        observe(platform::kApplicationWillEnterForegroundNotification, &ZELObjectPrivate::activateReloadTimer);
    } else {
        observe(platform::kApplicationWillResignActiveNotification, &ZELObjectPrivate::deactivateReloadTimer);
        observe(platform::kApplicationDidBecomeActiveNotification, &ZELObjectPrivate::activateReloadTimer);
    }
    observe(ZELViewControllerWillPresentFullScreen, &ZELObjectPrivate::adWillPresentFullScreen);
    observe(ZELViewControllerDidRelinquishFullScreen, &ZELObjectPrivate::adDidRelinquishFullScreen);
}

void ZELObjectPrivate::registerForLaunchNotification() {
    // One observation for the process, until the launch has been announced.
    static platform::Observation* launch = nullptr;
    if (launch || didAppFinishLaunching) return;
    launch = new platform::Observation(platform::NotificationCenter::defaultCenter().observe(
        platform::kApplicationDidFinishLaunchingNotification, nullptr, [](const platform::Notification&) {
            didAppFinishLaunching = true;
            delete std::exchange(launch, nullptr);
        }));
}

void ZELObjectPrivate::prewarmOnFirstUse() {
    if (std::exchange(didPrewarm, true)) return;
    // The web engine's start is most of a first load; it runs beside whatever
    // the application does before it asks for an ad.
    platform::WebView::prewarm(platform::WebContent::Outside);
    // With a script stored from an earlier run, the request page can be made
    // ready now. It is read from the disk only: nothing goes to the server
    // before the load asks for it, and a load that finds a newer script
    // builds its own page.
    ZELCacheFolder::prepare();
    ZELCachedFile stored(std::weak_ptr<ZELCachedFileDelegate>(), ZELServerAddresses::supportScriptURL(),
                         ZELCachePurpose::SupportScript);
    if (auto script = stored.content(); script && !script->empty())
        ZELPreparedBuildPage::prepare(*script, ZELServerAddresses::adServerRootURL());
}

void ZELObjectPrivate::resetProcessState() {
    ZELStatistics::releaseSharedStatistics();
    didAppFinishLaunching = false;
    didPrewarm = false;
    ZELPreparedBuildPage::discard();
    registerForLaunchNotification();
}

ZELObjectPrivate::~ZELObjectPrivate() {
    // The ad web view sits in the banner's view tree: take it out, blank.
    if (webView_) {
        webView_->setDelegate({});
        webView_->loadHTMLString("", std::nullopt);
        webView_->removeFromSuperview();
    }
    resetBuildAdWebView();
    // The markup of an ad nobody shows any more is not worth keeping.
    if (adHTML_) adHTML_->invalidate();
    // The page made ready ahead serves banners; with none left it goes too.
    if (--liveControllers == 0) ZELPreparedBuildPage::discard();
}

// Properties.

std::optional<std::string> ZELObjectPrivate::adHTMLString() const {
    return adHTML_ ? adHTML_->content() : std::nullopt;
}

std::optional<platform::URL> ZELObjectPrivate::adHTMLBaseURL() const {
    if (!adHTML_) return std::nullopt;
    return adHTML_->httpDestinationURL();
}

bool ZELObjectPrivate::isMakingRequest() const {
    switch (state_) {
        case kZELStateFetchingSupportScript:
        case kZELStateBuildingAdURL:
        case kZELStateLoadingAd:
        case kZELStateRendering: return true;
        default: return false;
    }
}

// Loading.

void ZELObjectPrivate::loadRequest(const std::shared_ptr<ZELRequest>& request) {
    loadPrivateRequest(privateRequestWithRequest(request), false);
}

void ZELObjectPrivate::loadInterstitialRequest(const std::shared_ptr<ZELRequest>& request) {
    auto privateRequest = privateRequestWithRequest(request);
    if (privateRequest) privateRequest->setInterstitialAd(true);
    loadPrivateRequest(privateRequest, false);
}

std::shared_ptr<ZELRequestPrivate> ZELObjectPrivate::privateRequestWithRequest(
    const std::shared_ptr<ZELRequest>& request) {
    if (!request) return std::dynamic_pointer_cast<ZELRequestPrivate>(ZELRequest::request());
    return std::dynamic_pointer_cast<ZELRequestPrivate>(request);
}

void ZELObjectPrivate::loadPrivateRequest(const std::shared_ptr<ZELRequestPrivate>& request, bool autoRefresh) {
    if (isMakingRequest()) return;  // a load in flight is never interrupted
    if (!isAppActive()) return;
    if (!supportsMinimumRequirementsForRequest(request)) return;
    // An automatic reload marks the banner as refreshed; one the application
    // asks for clears the mark.
    hasAutoRefreshed_ = autoRefresh;
    if (request != request_) {
        if (request) {
            request_ = std::dynamic_pointer_cast<ZELRequestPrivate>(request->copy());
        } else {
            request_ = std::make_shared<ZELRequestPrivate>();
        }
        if (!request_) request_ = std::make_shared<ZELRequestPrivate>();
    }
    auto statistics = ZELStatistics::sharedStatistics();
    if (!statistics->timingNamed("ptime")) statistics->startTimingNamed("ptime");
    request_->setCounter(statistics->incrementAdRequestCount());
    platform::traceMark("ad load requested");
    changeState(kZELStateBuildingAdURL);
    ensureSupportFiles();
}

void ZELObjectPrivate::reloadCurrentRequest() {
    reloadTimer_.stop();
    loadPrivateRequest(request_, true);
}

void ZELObjectPrivate::cancelPendingActions() {
    prepareNextPage_.stop();
    trackerCleanup_.stop();
    resetReloadTimer();
}

void ZELObjectPrivate::changeState(int state) {
    if (state == state_) return;
    state_ = state;
    if (state == kZELStateShown) {
        // A new ad: nothing the user did to the last one counts for it.
        if (webView_) {
            webView_->setTouched(false);
            webView_->userActivation().reset();
        }
        timeLastLoaded_ = ZELTiming::counter();
    }
    if (state == kZELStateShown || state == kZELStateFailed) prepareNextBuildPage();
}

bool ZELObjectPrivate::isAppActive() const {
    if (platform::Application::shared().applicationState() == platform::ApplicationState::Active) return true;
    return !didAppFinishLaunching;  // the launch is under way
}

bool ZELObjectPrivate::supportsMinimumRequirementsForRequest(const std::shared_ptr<ZELRequestPrivate>& request) {
    if (ZELRequestPrivate::deviceAtLeastMinimumOSMajorVersion(3, 0)) return true;
    keepAliveForThisTurn();
    changeState(kZELStateFailed);
    delegateManager_->didFailToReceiveAdWithError(ZELRequestError::errorWithCode(ZELErrorOSVersionTooLow, request.get()));
    return false;
}

void ZELObjectPrivate::keepAliveForThisTurn() {
    // A listener may release the banner inside a callback; the controller and
    // everything it owns stay until the next turn of the run loop.
    platform::RunLoop::main().keepAliveUntilNextTurn(shared_from_this());
}

void ZELObjectPrivate::reportFailure(long code) {
    keepAliveForThisTurn();
    delegateManager_->didFailToReceiveAdWithError(ZELRequestError::errorWithCode(code, request_.get()));
}

// Support script.

void ZELObjectPrivate::ensureSupportFiles() {
    if (!buildAdJS_) {
        changeState(kZELStateFetchingSupportScript);
        buildAdJS_ = std::make_shared<ZELCachedFile>(weak_from_this(), ZELServerAddresses::supportScriptURL(),
                                                     ZELCachePurpose::SupportScript);
    }
    auto expireDate = ZELStatisticsCore(kStoreIdentifier).dateForKey(kExpireDateKey);
    auto content = buildAdJS_->content();
    if (expireDate && content && !content->empty() && *expireDate >= platform::Date::now()) {
        buildAdUrl();
        return;
    }
    // A stored copy that cannot be read is nothing to revalidate: a 304 would
    // keep it for good. Fetch the script whole.
    if (!content || content->empty()) buildAdJS_->invalidate();
    changeState(kZELStateFetchingSupportScript);
    buildAdJS_->validate();
}

void ZELObjectPrivate::failedToDownloadJavaScriptWithError(const std::optional<platform::Error>&) {
    changeState(kZELStateSupportScriptFailed);
    // Go on with a stored copy only when it holds a script: an empty or
    // unreadable file would come straight back here.
    auto content = buildAdJS_ ? buildAdJS_->content() : std::nullopt;
    if (content && !content->empty()) {
        buildAdUrl();
        return;
    }
    reportFailure(ZELErrorNetworkError);
}

void ZELObjectPrivate::buildAdUrl() {
    auto script = buildAdJS_ ? buildAdJS_->content() : std::nullopt;
    if (!script || script->empty()) {
        failedToDownloadJavaScriptWithError(std::nullopt);
        return;
    }
    changeState(kZELStateBuildingAdURL);
    platform::traceMark("ad script ready");
    platform::Dictionary parameters = request_->parameters();
    addAdditionalParameters(parameters);
    std::string json = ZELMacros::jsonify(platform::Value(parameters)).value_or("");
    const std::string call = std::string(kBuildAdURLFunction) + "(" + escapeForScriptElement(json) + ");";
    const platform::URL baseURL = ZELServerAddresses::adServerRootURL();

    if (auto page = ZELPreparedBuildPage::take(*script, baseURL)) {
        setupBuildAdWebView(std::move(*page));
        const unsigned long build = buildCount_;
        buildAdWebView_->evaluateJavaScript(
            call, platform::bindWeak(weakFactory_.getWeakPtr(), [build, script = *script, call, baseURL](
                                                                   ZELObjectPrivate& self, std::optional<std::string> result) {
                if (result || self.buildCount_ != build || self.state_ != kZELStateBuildingAdURL) return;
                // The prepared page could not run the call (its process may
                // have ended): build in a fresh page instead.
                self.buildInFreshPage(script, call, baseURL);
            }));
        return;
    }
    buildInFreshPage(*script, call, baseURL);
}

void ZELObjectPrivate::buildInFreshPage(const std::string& script, const std::string& call,
                                        const platform::URL& baseURL) {
    setupBuildAdWebView();
    buildAdWebView_->loadHTMLString(ZELPreparedBuildPage::pageHTML(script, call), baseURL);
}

void ZELObjectPrivate::prepareNextBuildPage() {
    // After the load, not during it: loading the page would hold up the ad's
    // own page in the shared web process.
    prepareNextPage_.start(0, [this] {
        if (!buildAdJS_ || isMakingRequest()) return;
        auto script = buildAdJS_->content();
        if (script && !script->empty()) ZELPreparedBuildPage::prepare(*script, ZELServerAddresses::adServerRootURL());
    });
}

void ZELObjectPrivate::addAdditionalParameters(platform::Dictionary& parameters) const {
    if (!adUnitID_.empty()) parameters["slotname"] = platform::Value(adUnitID_);
    if (request_ && request_->isInterstitialAd()) {
        parameters["format"] = platform::Value("interstitial_mb");
        return;
    }
    platform::Rect frame, bounds;
    if (auto view = adView_.lock()) {
        frame = view->frame();
        bounds = view->bounds();
    } else if (webView_) {
        frame = webView_->frame();
        bounds = webView_->bounds();
    }
    parameters["ad_frame"] = platform::Value(rectDictionary(frame));
    parameters["ad_bounds"] = platform::Value(rectDictionary(bounds));
}

void ZELObjectPrivate::setupBuildAdWebView() { setupBuildAdWebView(ZELPreparedBuildPage::makePage()); }

void ZELObjectPrivate::setupBuildAdWebView(ZELPreparedBuildPage::Page page) {
    resetBuildAdWebView();
    ++buildCount_;
    buildAdWebViewDelegate_ = std::move(page.delegate);
    buildAdWebView_ = std::move(page.webView);

    // The page's answers, from this page only.
    auto observe = [this](const char* message, void (ZELObjectPrivate::*handler)(const platform::Notification&)) {
        buildPageObservations_.push_back(ZELNotificationCenter::defaultCenter().observe(
            message, static_cast<const platform::View*>(buildAdWebView_.get()), [this, handler](const platform::Notification& n) { (this->*handler)(n); }));
    };
    observe(kZELMessageLoadAdURL, &ZELObjectPrivate::loadAdURL);
    observe(kZELMessageInvalidRequest, &ZELObjectPrivate::invalidRequest);
    observe(kZELMessageUnableToServe, &ZELObjectPrivate::unableToServe);

    // A page whose load failed or whose process ended will never answer.
    const unsigned long build = buildCount_;
    buildAdWebViewDelegate_->setPageLostHandler(platform::bindWeak(weakFactory_.getWeakPtr(), [build](ZELObjectPrivate& self) {
        if (self.buildCount_ != build || self.state_ != kZELStateBuildingAdURL) return;
        self.resetBuildAdWebView();
        platform::log("<Nimbra> The page building the ad request was lost.");
        self.scriptFailed(ZELErrorNetworkError);
    }));

    // A script that never answers (or throws) would keep the banner building
    // forever; give the page a limit.
    buildAdURLWatchdog_.start(kBuildAdURLTimeout, [this] {
        if (state_ != kZELStateBuildingAdURL || !buildAdWebView_) return;
        resetBuildAdWebView();
        platform::log("<Nimbra> The ad request could not be built in time.");
        // The stored script may be damaged (cut, overwritten): the next load
        // fetches it again instead of failing the same way for a day.
        if (buildAdJS_) buildAdJS_->invalidate();
        scriptFailed(ZELErrorTimeout);
    });
}

void ZELObjectPrivate::resetBuildAdWebView() {
    buildAdURLWatchdog_.stop();
    buildPageObservations_.clear();
    if (!buildAdWebView_ && !buildAdWebViewDelegate_) return;
    if (buildAdWebViewDelegate_) buildAdWebViewDelegate_->setPageLostHandler({});
    if (buildAdWebView_) {
        buildAdWebView_->setDelegate({});
        buildAdWebView_->stopLoading();
    }
    // The page may be answering from inside a web view callback: let the
    // web view go on the next turn, not under its own feet.
    if (buildAdWebView_) platform::RunLoop::main().keepAliveUntilNextTurn(buildAdWebView_);
    if (buildAdWebViewDelegate_) platform::RunLoop::main().keepAliveUntilNextTurn(buildAdWebViewDelegate_);
    buildAdWebView_.reset();
    buildAdWebViewDelegate_.reset();
}

void ZELObjectPrivate::scriptFailed(long code) {
    // The request could not be built: end the load so the next one can run,
    // and keep the server's schedule.
    changeState(kZELStateFailed);
    reportFailure(code);
    scheduleReloadTimer(reloadSeconds_);
}

void ZELObjectPrivate::loadAdURL(const platform::Notification& message) {
    resetBuildAdWebView();
    if (message.userInfo.find("errors")) {
        scriptFailed(ZELErrorInvalidRequest);
        return;
    }
    changeState(kZELStateLoadingAd);
    platform::traceMark("ad URL built");
    auto urlText = userInfoString(message, "url");
    auto type = userInfoString(message, "type");
    std::optional<platform::URL> url = urlText ? platform::URL::parse(*urlText) : std::nullopt;

    zel_gig(ZELRequestPrivate::requestTypeFromString(type), ZELRequest::sdkVersion());
    if (url) {
        auto signals = ZELRequestPrivate::spamSignals();
        if (!signals.empty()) {
            if (auto withSignals = ZELNetworkUtilities::appendQueryParameters(signals, *url)) url = withSignals;
        }
        if (type && *type == "qwhirl") {
            if (auto withSeq = ZELNetworkUtilities::appendQueryKey("seq_num", std::string("1"), *url)) url = withSeq;
        }
    }
    ZELStatistics::sharedStatistics()->startTimingNamed("prl");
    loadHTMLFromURL(url);
}

void ZELObjectPrivate::invalidRequest(const platform::Notification& message) {
    resetBuildAdWebView();
    platform::log("<Nimbra> Invalid Request: " + message.userInfo.description());
    scriptFailed(ZELErrorInvalidRequest);
}

void ZELObjectPrivate::unableToServe(const platform::Notification& message) {
    resetBuildAdWebView();
    platform::log("<Nimbra> Unable to serve: " + message.userInfo.description());
    scriptFailed(ZELErrorInvalidRequest);
}

// Showing.

void ZELObjectPrivate::loadHTMLFromURL(const std::optional<platform::URL>& url) {
    if (!url) {
        // No usable ad URL: a download that could not start.
        failedAdRequestWithError(std::nullopt, nullptr);
        return;
    }
    auto file = std::make_shared<ZELCachedFile>(weak_from_this(), *url, ZELCachePurpose::AdMarkup);
    // One ad's markup, deleted at the next load: not worth a flush to disk.
    file->setFlushesToDisk(false);
    setAdHTML(std::move(file));
}

void ZELObjectPrivate::setAdHTML(std::shared_ptr<ZELCachedFile> file) {
    if (file == adHTML_) return;
    if (adHTML_) {
        adHTML_->setDelegate({});
        adHTML_->invalidate();
    }
    adHTML_ = std::move(file);
    pendingTrackingURLs_.reset();
    pendingClickURLs_.reset();
    urlsDroppedLogged_ = false;
    if (adHTML_) adHTML_->validate();
}

void ZELObjectPrivate::showAd() {
    std::string markup = trimWhiteSpaceAndNewlines(adHTML_ ? adHTML_->content().value_or("") : "");
    std::optional<platform::URL> baseURL = adHTMLBaseURL();
    addReloadInformationFromHeaders();
    if (markup.empty()) {
        changeState(kZELStateFailed);
        reportFailure(ZELErrorNoAd);
        return;
    }
    changeState(kZELStateRendering);
    platform::traceMark("ad markup received");
    webView_->loadHTMLString(markup, baseURL);
    renderWatchdog_.start(kRenderTimeout, [this] { renderTimedOut(); });
}

void ZELObjectPrivate::renderTimedOut() {
    if (state_ != kZELStateRendering) return;
    platform::log("<Nimbra> The ad did not finish loading in time; given up.");
    changeState(kZELStateFailed);
    webView_->stopLoading();
    reportFailure(ZELErrorNetworkError);
    // The reload timer may have fired during the render and found the load in
    // flight: the server's rate starts again from here.
    if (!reloadTimer_.isRunning()) addReloadInformationFromHeaders();
}

void ZELObjectPrivate::failedAdRequestWithError(const std::optional<platform::Error>&, ZELCachedFile* file) {
    changeState(kZELStateFailed);
    int status = file ? file->httpStatusCode() : 0;
    long code;
    if (status == 400) {
        platform::log("<Nimbra> Server rejected ad parameters.  Typically this is because the ad unit ID is incorrect.");
        code = ZELErrorInvalidRequest;
    } else if (status < 400) {
        code = ZELErrorNetworkError;
    } else {
        code = ZELErrorServerError;
    }
    reportFailure(code);
    addReloadInformationFromHeaders();
}

// Cached-file delegate.

void ZELObjectPrivate::cachedFileDownloadDidEnd(ZELCachedFile& file) {
    keepAliveForThisTurn();
    if (&file == buildAdJS_.get()) {
        // Fresh for a day from now: the server has just sent or confirmed it.
        // (A failed fetch leaves the date, so the next load asks again.)
        ZELStatisticsCore store(kStoreIdentifier);
        store.setDate(platform::Value(platform::Date::now().addingSeconds(kSupportScriptLifetime)), kExpireDateKey);
        store.synchronize();
        buildAdUrl();
    } else if (&file == adHTML_.get()) {
        processHTTPHeaders(file);
        showAd();
    }
}

void ZELObjectPrivate::cachedFileDownloadDidFail(ZELCachedFile& file, const std::optional<platform::Error>& error) {
    keepAliveForThisTurn();
    if (&file == buildAdJS_.get()) {
        failedToDownloadJavaScriptWithError(error);
    } else if (&file == adHTML_.get()) {
        failedAdRequestWithError(error, &file);
    }
}

std::optional<platform::Error> ZELObjectPrivate::cachedFileShouldRedirectToURL(ZELCachedFile& file,
                                                                               const platform::URL&) {
    processHTTPHeaders(file);
    return std::nullopt;
}

// Response headers.

std::optional<std::string> ZELObjectPrivate::headerValue(const ZELCachedFile* file, const char* name) {
    if (!file || !file->httpHeaders()) return std::nullopt;
    const auto& headers = *file->httpHeaders();
    auto it = headers.find(name);
    if (it == headers.end()) return std::nullopt;
    return it->second;
}

void ZELObjectPrivate::processHTTPHeaders(const ZELCachedFile& file) {
    if (!file.httpHeaders()) return;
    auto value = [&file](const char* name) { return headerValue(&file, name); };
    // Each URL costs a request the user pays for: at most a few per ad, the
    // rest dropped (and said once per ad).
    auto addURLs = [&](std::optional<std::vector<platform::URL>>& pending, const char* header) {
        size_t dropped = 0;
        pending = createOrReuseArrayOfURLsFromHeader(std::move(pending), value(header), &dropped);
        if (dropped == 0 || std::exchange(urlsDroppedLogged_, true)) return;
        platform::log("<Nimbra> The ad server sent more than " + std::to_string(kZELMaximumTrackingURLs) + " URLs in " +
                      header + "; the rest are dropped.");
    };
    addURLs(pendingTrackingURLs_, "X-Ruma-Tracking-Urls");
    addURLs(pendingClickURLs_, "X-Ruma-Click-Tracking-Urls");
    const ZELOrientationSetting orientation = ZELOrientationFromString(value("X-Ruma-Orientation"));
    if (orientation != kZELOrientationUnset) supportedOrientations_ = orientation;
    if (auto timeout = value("X-Ruma-Interstitial-Timeout"); timeout && !timeout->empty()) {
        platform::UserDefaults::standard().setFloat(static_cast<float>(floatValueOfText(*timeout)), "applicationTimeout");
    }
}

std::optional<std::vector<platform::URL>> ZELObjectPrivate::createOrReuseArrayOfURLsFromHeader(
    std::optional<std::vector<platform::URL>> array, const std::optional<std::string>& header, size_t* dropped) {
    if (!header) return array;
    size_t start = 0;
    while (start <= header->size()) {
        size_t blank = header->find(' ', start);
        std::string piece = header->substr(start, blank == std::string::npos ? std::string::npos : blank - start);
        size_t b = piece.find_first_not_of(" \t");
        size_t e = piece.find_last_not_of(" \t");
        piece = b == std::string::npos ? std::string() : piece.substr(b, e - b + 1);
        if (auto url = platform::URL::parse(piece); url && !url->absoluteString().empty()) {
            if (array && array->size() >= kZELMaximumTrackingURLs) {
                if (dropped) ++*dropped;
            } else {
                if (!array) array.emplace();
                array->push_back(*url);
            }
        }
        if (blank == std::string::npos) break;
        start = blank + 1;
    }
    return array;
}

// Trackers.

void ZELObjectPrivate::trackURLs(const std::vector<platform::URL>& urls) {
    for (const auto& url : urls) {
        auto tracker = ZELClickTracker::create(weak_from_this());
        trackers_.insert(tracker);
        tracker->trackURL(url);
    }
}

void ZELObjectPrivate::cleanupTrackers() {
    for (auto it = trackers_.begin(); it != trackers_.end();) {
        if ((*it)->hasTracked()) {
            it = trackers_.erase(it);
        } else {
            ++it;
        }
    }
}

void ZELObjectPrivate::trackerDidRedirect(ZELClickTracker&, const std::optional<platform::URL>&) {
    // Never remove a tracker inside its own callback.
    if (!trackerCleanup_.isRunning()) trackerCleanup_.start(0, [this] { cleanupTrackers(); });
}

void ZELObjectPrivate::trackerDidFailWithError(ZELClickTracker& tracker, const std::optional<platform::Error>&) {
    trackerDidRedirect(tracker, std::nullopt);
}

// Reload timer.

double ZELObjectPrivate::floatValueOfText(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Only plain decimal numbers: "inf", "nan" and hexadecimal forms are not numbers here.
    if (i >= text.size() || !((text[i] >= '0' && text[i] <= '9') || text[i] == '.')) return 0;
    double value = 0;
    auto result = std::from_chars(text.data() + i, text.data() + text.size(), value, std::chars_format::fixed);
    if (result.ec != std::errc() || !std::isfinite(value)) return 0;
    return negative ? -value : value;
}

void ZELObjectPrivate::addReloadInformationFromHeaders() {
    auto rate = headerValue(adHTML_.get(), "X-Ruma-Refresh-Rate");
    double seconds = (rate && !rate->empty()) ? floatValueOfText(*rate) : reloadSeconds_;
    scheduleReloadTimer(seconds);
}

void ZELObjectPrivate::scheduleReloadTimer(double seconds) {
    resetReloadTimer();
    // 0 stops reloading; so do a negative interval and one that is not a
    // number, which would otherwise reload back to back.
    if (!(seconds > 0)) return;
    // Each reload fires impressions: never more often than this.
    seconds = std::max(seconds, kZELMinimumRefreshSeconds);
    reloadSeconds_ = seconds;
    // Under an ad screen the banner waits; the screen's going starts it.
    if (fullScreenCovers_ > 0) return;
    reloadTimer_.start(seconds, [this] { reloadCurrentRequest(); });
}

// Screens can stack (one ad screen opening another): the banner reloads again
// only once the last of them is gone.
void ZELObjectPrivate::adWillPresentFullScreen() {
    ++fullScreenCovers_;
    deactivateReloadTimer();
}

void ZELObjectPrivate::adDidRelinquishFullScreen() {
    if (fullScreenCovers_ > 0) --fullScreenCovers_;
    if (fullScreenCovers_ == 0) activateReloadTimer();
}

void ZELObjectPrivate::resetReloadTimer() { reloadTimer_.stop(); }

void ZELObjectPrivate::deactivateReloadTimer() { resetReloadTimer(); }

void ZELObjectPrivate::activateReloadTimer() { scheduleReloadTimer(reloadSeconds_); }
