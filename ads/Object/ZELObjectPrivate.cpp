#include "Object/ZELObjectPrivate.h"

#include <utility>

#include "Delegate/ZELDelegateManager.h"
#include "Object/ZELAdScreenFactory.h"
#include "Object/ZELPreparedBuildPage.h"
#include "Object/ZELProcessState.h"
#include "Object/ZELTrackerSet.h"
#include "Opener/ZELOpener.h"
#include "Request/ZELRequest.h"
#include "Request/ZELRequestError.h"
#include "Request/ZELRequestPrivate.h"
#include "Statistics/ZELStatistics.h"
#include "Timing/ZELTiming.h"
#include "Utility/ZELServerAddresses.h"
#include "Utility/ZELStringUtilities.h"
#include "WebView/ZELWebView.h"
#include "platform/Application.h"
#include "platform/Services.h"
#include "platform/View.h"
#include "platform/WebView.h"

// Creation and ownership.

ZELObjectPrivate::ZELObjectPrivate(const platform::Rect& frame) : initialFrame_(frame) {}

std::shared_ptr<ZELObjectPrivate> ZELObjectPrivate::initWithFrame(const platform::Rect& frame) {
    ZELProcessState::controllerCreated();
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
    webViewDelegate_ = ZELBannerWebViewDelegate::initWithAd(weak_from_this(), webView_);
    webViewDelegate_->opener().setScreenFactory(&ZELAdScreenFactory::shared());
    supportScript_ = ZELSupportScript::create(*this);
    trackers_ = ZELTrackerSet::create();
}

void ZELObjectPrivate::resetProcessState() { ZELProcessState::reset(); }

ZELObjectPrivate::~ZELObjectPrivate() {
    // The ad web view sits in the banner's view tree: taken out, blank, and
    // let go on the next turn (this may be one of its own callbacks).
    if (webView_) {
        webView_->setDelegate({});
        webView_->loadHTMLString("", std::nullopt);
        webView_->removeFromSuperview();
        platform::releaseOnNextTurn(std::move(webView_));
    }
    // The markup of an ad nobody shows any more is not worth keeping.
    if (adHTML_) adHTML_->invalidate();
    ZELProcessState::controllerDestroyed();
}

// Properties.

bool ZELObjectPrivate::isMakingRequest() const {
    switch (state_) {
    case ZELObjectState::FetchingSupportScript:
    case ZELObjectState::BuildingAdURL:
    case ZELObjectState::LoadingAd:
    case ZELObjectState::Rendering: return true;
    default: return false;
    }
}

size_t ZELObjectPrivate::trackerCount() const { return trackers_->count(); }

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
    // The application may let its banner go while it hears of a failure.
    const auto protect = platform::protectForCall(*this);
    if (!supportsMinimumRequirementsForRequest(request)) return;
    // An automatic reload marks the banner as refreshed; one the application
    // asks for clears the mark.
    hasAutoRefreshed_ = autoRefresh;
    if (request != request_) {
        if (request) request_ = std::dynamic_pointer_cast<ZELRequestPrivate>(request->copy());
        if (!request_ || !request) request_ = std::make_shared<ZELRequestPrivate>();
    }
    auto statistics = ZELStatistics::sharedStatistics();
    if (!statistics->timingNamed("ptime")) statistics->startTimingNamed("ptime");
    request_->setCounter(statistics->incrementAdRequestCount());
    platform::traceMark("ad load requested");
    changeState(ZELObjectState::BuildingAdURL);
    supportScript_->ensure();
}

void ZELObjectPrivate::reloadCurrentRequest() {
    reload_.deactivate();
    loadPrivateRequest(request_, true);
}

void ZELObjectPrivate::cancelPendingActions() {
    prepareNextPage_.stop();
    trackers_->cancelCleanup();
    reload_.deactivate();
}

void ZELObjectPrivate::changeState(ZELObjectState state) {
    if (state == state_) return;
    state_ = state;
    if (state == ZELObjectState::Shown) {
        // A new ad: nothing the user did to the last one counts for it.
        webView_->setTouched(false);
        webView_->userActivation().reset();
        timeLastLoaded_ = ZELTiming::counter();
    }
    if (state == ZELObjectState::Shown || state == ZELObjectState::Failed) prepareNextBuildPage();
}

bool ZELObjectPrivate::isAppActive() const {
    if (platform::Application::shared().applicationState() == platform::ApplicationState::Active) return true;
    return !ZELProcessState::didAppFinishLaunching();  // the launch is under way
}

bool ZELObjectPrivate::supportsMinimumRequirementsForRequest(const std::shared_ptr<ZELRequestPrivate>& request) {
    if (ZELRequestPrivate::deviceAtLeastMinimumOSMajorVersion(3, 0)) return true;
    changeState(ZELObjectState::Failed);
    delegateManager_->didFailToReceiveAdWithError(
        ZELRequestError::errorWithCode(ZELErrorOSVersionTooLow, request.get()));
    return false;
}

void ZELObjectPrivate::reportFailure(long code) {
    delegateManager_->didFailToReceiveAdWithError(ZELRequestError::errorWithCode(code, request_.get()));
}

void ZELObjectPrivate::loadFailed(long code) {
    const auto protect = platform::protectForCall(*this);
    changeState(ZELObjectState::Failed);
    reportFailure(code);
    reload_.activate();
}

// The support script and the request page.

void ZELObjectPrivate::supportScriptWillFetch() { changeState(ZELObjectState::FetchingSupportScript); }

void ZELObjectPrivate::supportScriptIsReady(const std::string& script) { buildAdUrl(script); }

void ZELObjectPrivate::supportScriptFetchFailed(const std::optional<std::string>& storedScript,
                                                const std::optional<platform::Error>& error) {
    const auto protect = platform::protectForCall(*this);
    changeState(ZELObjectState::SupportScriptFailed);
    if (storedScript) {
        buildAdUrl(*storedScript);
        return;
    }
    reportFailure(ZELErrorNetworkError);
    reload_.retryIfUnreachable(error);
}

void ZELObjectPrivate::supportScriptRedirected(const ZELCachedFile& file) { processHTTPHeaders(file); }

void ZELObjectPrivate::buildAdUrl(const std::string& script) {
    changeState(ZELObjectState::BuildingAdURL);
    platform::traceMark("ad script ready");
    platform::Dictionary parameters = request_->parameters();
    addAdditionalParameters(parameters);
    urlBuilder_.build(script, parameters, ZELServerAddresses::adServerRootURL());
}

void ZELObjectPrivate::addAdditionalParameters(platform::Dictionary& parameters) const {
    // The banner's place, or its ad view's when it has gone.
    auto view = adView_.lock();
    const platform::View* place = view ? view.get() : webView_.get();
    ZELAdURLBuilder::addSlotParameters(parameters, adUnitID_, request_ && request_->isInterstitialAd(),
                                       place ? place->frame() : platform::Rect(),
                                       place ? place->bounds() : platform::Rect());
}

void ZELObjectPrivate::adURLBuilderDidBuild(const std::optional<platform::URL>& adURL) {
    const auto protect = platform::protectForCall(*this);
    changeState(ZELObjectState::LoadingAd);
    platform::traceMark("ad URL built");
    ZELStatistics::sharedStatistics()->startTimingNamed("prl");
    loadHTMLFromURL(adURL);
}

void ZELObjectPrivate::adURLBuilderDidFail(long code) {
    // A page that never answered may have run a damaged script (cut,
    // overwritten): the next load fetches it again instead of failing the
    // same way for a day.
    if (code == ZELErrorTimeout) supportScript_->discard();
    loadFailed(code);
}

void ZELObjectPrivate::prepareNextBuildPage() {
    // After the load, not during it: loading the page would hold up the ad's
    // own page in the shared web process.
    prepareNextPage_.start(0, [this] {
        if (isMakingRequest()) return;
        if (auto script = supportScript_->script())
            ZELPreparedBuildPage::prepare(*script, ZELServerAddresses::adServerRootURL());
    });
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
    pendingURLs_.clear();
    impressionsOwed_ = false;  // an ad nobody saw is not counted
    if (adHTML_) adHTML_->validate();
}

void ZELObjectPrivate::showAd() {
    const std::string markup =
        ZELStringUtilities::trimWhiteSpaceAndNewlines(adHTML_ ? adHTML_->content().value_or("") : "");
    addReloadInformationFromHeaders();
    if (markup.empty()) {
        changeState(ZELObjectState::Failed);
        reportFailure(ZELErrorNoAd);
        return;
    }
    changeState(ZELObjectState::Rendering);
    platform::traceMark("ad markup received");
    webView_->loadHTMLString(markup, adHTMLBaseURL());
    renderWatchdog_.start(kRenderTimeout, [this] { renderTimedOut(); });
}

void ZELObjectPrivate::renderTimedOut() {
    if (state_ != ZELObjectState::Rendering) return;
    const auto protect = platform::protectForCall(*this);
    platform::log("<Nimbra> The ad did not finish loading in time; given up.");
    changeState(ZELObjectState::Failed);
    webView_->stopLoading();
    reportFailure(ZELErrorNetworkError);
    // The reload timer may have fired during the render and found the load in
    // flight: the server's rate starts again from here.
    if (!reload_.isScheduled()) addReloadInformationFromHeaders();
}

void ZELObjectPrivate::failedAdRequestWithError(const std::optional<platform::Error>& error, ZELCachedFile* file) {
    changeState(ZELObjectState::Failed);
    const int status = file ? file->httpStatusCode() : 0;
    long code;
    if (status == 400) {
        platform::log(
            "<Nimbra> Server rejected ad parameters.  Typically this is because the ad unit ID is incorrect.");
        code = ZELErrorInvalidRequest;
    } else if (status < 400) {
        code = ZELErrorNetworkError;
    } else {
        code = ZELErrorServerError;
    }
    reportFailure(code);
    addReloadInformationFromHeaders();
    if (code == ZELErrorNetworkError) reload_.retryIfUnreachable(error);
}

// The markup's download.

void ZELObjectPrivate::cachedFileDownloadDidEnd(ZELCachedFile& file) {
    if (&file != adHTML_.get()) return;
    const auto protect = platform::protectForCall(*this);
    reload_.serverReached();
    processHTTPHeaders(file);
    showAd();
}

void ZELObjectPrivate::cachedFileDownloadDidFail(ZELCachedFile& file, const std::optional<platform::Error>& error) {
    if (&file != adHTML_.get()) return;
    const auto protect = platform::protectForCall(*this);
    failedAdRequestWithError(error, &file);
}

std::optional<platform::Error> ZELObjectPrivate::cachedFileShouldRedirectToURL(ZELCachedFile& file,
                                                                               const platform::URL&) {
    processHTTPHeaders(file);
    return std::nullopt;
}

// Response headers.

void ZELObjectPrivate::processHTTPHeaders(const ZELCachedFile& file) {
    if (!file.httpHeaders()) return;
    const ZELAdResponse response = ZELAdResponse::fromHeaders(*file.httpHeaders());
    pendingURLs_.add(response);
    if (response.orientation != kZELOrientationUnset) supportedOrientations_ = response.orientation;
    if (response.interstitialTimeout)
        platform::UserDefaults::standard().setFloat(static_cast<float>(*response.interstitialTimeout),
                                                    "applicationTimeout");
}

void ZELObjectPrivate::addReloadInformationFromHeaders() {
    std::optional<double> rate;
    if (adHTML_ && adHTML_->httpHeaders()) rate = ZELAdResponse::fromHeaders(*adHTML_->httpHeaders()).refreshRate;
    reload_.schedule(rate.value_or(reload_.interval()));
}

// Trackers, and seeing the banner.

void ZELObjectPrivate::trackURLs(const std::vector<platform::URL>& urls) { trackers_->trackURLs(urls); }

void ZELObjectPrivate::setVisible(bool visible) {
    reload_.setVisible(visible);
    trackImpressionsWhenSeen();
}

void ZELObjectPrivate::setReloadsWhileHidden(bool reloads) {
    reload_.setReloadsWhileHidden(reloads);
    trackImpressionsWhenSeen();
}

void ZELObjectPrivate::trackImpressionsWhenSeen() {
    // An impression is an ad the user could see: one shown while the banner
    // was hidden counts when it is first seen.
    if (!impressionsOwed_ || !reload_.isSeen()) return;
    impressionsOwed_ = false;
    trackURLs(pendingURLs_.tracking());
}

// The banner's page.

void ZELObjectPrivate::adPageDidFinishLoad() {
    if (state_ != ZELObjectState::Rendering) return;
    const auto protect = platform::protectForCall(*this);
    changeState(ZELObjectState::Shown);
    platform::traceMark("ad shown");
    webView_->setHidden(false);
    impressionsOwed_ = true;
    delegateManager_->didReceiveAd();
    trackImpressionsWhenSeen();
    auto statistics = ZELStatistics::sharedStatistics();
    statistics->endTimingNamed("prl");
    statistics->startTimingNamed("ppcl");
}

void ZELObjectPrivate::adPageDidFailLoad() {
    // Only the markup's own render fails a load: a page already shown, or one
    // given up on, has been reported.
    if (state_ != ZELObjectState::Rendering) return;
    const auto protect = platform::protectForCall(*this);
    changeState(ZELObjectState::Failed);
    reportFailure(ZELErrorNetworkError);
}

void ZELObjectPrivate::adPageProcessDidTerminate() {
    // A load in flight has already failed; a shown ad is gone from the screen
    // and is reported lost once. The next load starts a new process.
    if (state_ != ZELObjectState::Shown) return;
    const auto protect = platform::protectForCall(*this);
    changeState(ZELObjectState::Failed);
    webView_->setHidden(true);
    impressionsOwed_ = false;  // gone before anyone saw it
    reportFailure(ZELErrorNetworkError);
}
