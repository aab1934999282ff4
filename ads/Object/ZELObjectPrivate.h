#pragma once
// The ad controller behind every banner view: it fetches the support script,
// builds the ad URL in a hidden web view, downloads and shows the markup,
// reads the response headers, fires the trackers, runs the reload timer and
// reports to the application through its delegate manager. One load at a
// time, through the states below.

#include <cstddef>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Network/ZELCachedFile.h"
#include "Network/ZELClickTracker.h"
#include "Object/ZELPreparedBuildPage.h"
#include "Utility/ZELPrivateUtilities.h"
#include "ViewController/ZELOrientationSetting.h"
#include "platform/Geometry.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "platform/URL.h"
#include "platform/Value.h"
#include "platform/WeakPtr.h"

namespace platform {
class View;
class ViewController;
class WebView;
}  // namespace platform
class ZELBannerWebViewDelegate;
class ZELDelegateManager;
class ZELRequest;
class ZELRequestPrivate;
class ZELWebView;
class ZELWebViewDelegate;
class ZELBuildPageDelegate;

// At most this many URLs of each tracking header are kept per ad: an honest
// ad names two or three counters, and each URL is a request the user pays for.
inline constexpr size_t kZELMaximumTrackingURLs = 16;
// Reloads come no oftener: each one costs an ad request and its impressions.
inline constexpr double kZELMinimumRefreshSeconds = 1.0;

// Load states.
enum ZELObjectState : int {
    kZELStateIdle = 0,
    kZELStateFetchingSupportScript = 1,
    kZELStateSupportScriptFailed = 2,
    kZELStateBuildingAdURL = 3,
    kZELStateLoadingAd = 4,
    kZELStateRendering = 5,
    kZELStateShown = 6,
    kZELStateFailed = 7,
};

class ZELObjectPrivate : public ZELPrivateObject,
                         public ZELCachedFileDelegate,
                         public ZELClickTrackerDelegate,
                         public std::enable_shared_from_this<ZELObjectPrivate> {
public:
    // Support script lifetime and the hidden page's own limit.
    static constexpr double kSupportScriptLifetime = 86400.0;
    static constexpr double kBuildAdURLTimeout = 20.0;
    // How long the markup may take to finish loading in the ad view. Without
    // it, a resource that never arrives would keep the banner loading for
    // good: every later load, the reload timer's too, finds one in flight.
    static constexpr double kRenderTimeout = 20.0;

    static std::shared_ptr<ZELObjectPrivate> initWithView(platform::View& view);
    static std::shared_ptr<ZELObjectPrivate> initWithFrame(const platform::Rect& frame);
    // Forgets what the process has learnt so far (the launch announced, the
    // web engine started, the request page made ready ahead, the shared
    // statistics, saved first),
    // for a test that starts afresh.
    static void resetProcessState();
    ~ZELObjectPrivate() override;
    ZELObjectPrivate(const ZELObjectPrivate&) = delete;
    ZELObjectPrivate& operator=(const ZELObjectPrivate&) = delete;

    // Properties.
    std::shared_ptr<platform::View> adView() const { return adView_.lock(); }
    const std::string& adUnitID() const { return adUnitID_; }
    void setAdUnitID(std::string id) { adUnitID_ = std::move(id); }
    std::shared_ptr<platform::ViewController> rootViewController() const { return rootViewController_.lock(); }
    void setRootViewController(std::weak_ptr<platform::ViewController> controller) {
        rootViewController_ = std::move(controller);
    }
    const std::shared_ptr<ZELDelegateManager>& delegateManager() const { return delegateManager_; }
    const std::shared_ptr<ZELWebView>& webView() const { return webView_; }
    void setWebView(std::shared_ptr<ZELWebView> webView) { webView_ = std::move(webView); }
    const std::shared_ptr<ZELRequestPrivate>& request() const { return request_; }
    int state() const { return state_; }
    double timeLastLoaded() const { return timeLastLoaded_; }
    bool hasAutoRefreshed() const { return hasAutoRefreshed_; }
    ZELOrientationSetting supportedOrientations() const { return supportedOrientations_; }
    double reloadSeconds() const { return reloadSeconds_; }
    bool isReloadTimerScheduled() const { return reloadTimer_.isRunning(); }
    const std::shared_ptr<ZELCachedFile>& adHTML() const { return adHTML_; }
    std::optional<std::string> adHTMLString() const;
    std::optional<platform::URL> adHTMLBaseURL() const;
    std::vector<platform::URL> pendingTrackingURLs() const { return pendingTrackingURLs_.value_or(std::vector<platform::URL>()); }
    std::vector<platform::URL> pendingClickURLs() const { return pendingClickURLs_.value_or(std::vector<platform::URL>()); }
    bool isMakingRequest() const;
    const std::shared_ptr<platform::WebView>& buildAdWebView() const { return buildAdWebView_; }
    size_t trackerCount() const { return trackers_.size(); }

    // Loading.
    void loadRequest(const std::shared_ptr<ZELRequest>& request);
    void loadInterstitialRequest(const std::shared_ptr<ZELRequest>& request);
    static std::shared_ptr<ZELRequestPrivate> privateRequestWithRequest(const std::shared_ptr<ZELRequest>& request);
    void loadPrivateRequest(const std::shared_ptr<ZELRequestPrivate>& request, bool autoRefresh);
    void reloadCurrentRequest();
    void cancelPendingActions();
    void changeState(int state);
    bool isAppActive() const;
    bool supportsMinimumRequirementsForRequest(const std::shared_ptr<ZELRequestPrivate>& request);

    // Support script and hidden web view.
    void ensureSupportFiles();
    void buildAdUrl();
    void setupBuildAdWebView();
    // Adopts a page (a fresh one or one made ready ahead) as the hidden page.
    void setupBuildAdWebView(ZELPreparedBuildPage::Page page);
    void resetBuildAdWebView();
    void failedToDownloadJavaScriptWithError(const std::optional<platform::Error>& error);
    void addAdditionalParameters(platform::Dictionary& parameters) const;
    void loadAdURL(const platform::Notification& message);
    void invalidRequest(const platform::Notification& message);
    void unableToServe(const platform::Notification& message);

    // Showing.
    void loadHTMLFromURL(const std::optional<platform::URL>& url);
    void setAdHTML(std::shared_ptr<ZELCachedFile> file);
    void showAd();
    void failedAdRequestWithError(const std::optional<platform::Error>& error, ZELCachedFile* file);

    // Response headers, trackers and the reload timer.
    void processHTTPHeaders(const ZELCachedFile& file);
    // Appends the header's URLs, keeping the array at kZELMaximumTrackingURLs
    // at most; the URLs left out are counted in `dropped`.
    static std::optional<std::vector<platform::URL>> createOrReuseArrayOfURLsFromHeader(
        std::optional<std::vector<platform::URL>> array, const std::optional<std::string>& header,
        size_t* dropped = nullptr);
    void trackURLs(const std::vector<platform::URL>& urls);
    void cleanupTrackers();
    void addReloadInformationFromHeaders();
    void scheduleReloadTimer(double seconds);
    void activateReloadTimer();
    void deactivateReloadTimer();
    void adWillPresentFullScreen();
    void adDidRelinquishFullScreen();
    void resetReloadTimer();

    // Cached-file delegate.
    void cachedFileDownloadDidEnd(ZELCachedFile& file) override;
    void cachedFileDownloadDidFail(ZELCachedFile& file, const std::optional<platform::Error>& error) override;
    std::optional<platform::Error> cachedFileShouldRedirectToURL(ZELCachedFile& file, const platform::URL& url) override;

    // Click-tracker delegate.
    void trackerDidRedirect(ZELClickTracker& tracker, const std::optional<platform::URL>& url) override;
    void trackerDidFailWithError(ZELClickTracker& tracker, const std::optional<platform::Error>& error) override;

    // Numbers in header text, read the way a number text is read: a leading
    // decimal number, 0 when there is none.
    static double floatValueOfText(const std::string& text);

private:
    explicit ZELObjectPrivate(const platform::Rect& frame);
    void setUp();
    static void registerForLaunchNotification();
    static void prewarmOnFirstUse();
    void reportFailure(long code);
    void renderTimedOut();
    void scriptFailed(long code);
    void keepAliveForThisTurn();
    void prepareNextBuildPage();
    void buildInFreshPage(const std::string& script, const std::string& call, const platform::URL& baseURL);
    static std::optional<std::string> headerValue(const ZELCachedFile* file, const char* name);

    std::weak_ptr<platform::View> adView_;
    std::string adUnitID_;
    std::shared_ptr<ZELDelegateManager> delegateManager_;
    std::weak_ptr<platform::ViewController> rootViewController_;
    std::shared_ptr<ZELWebView> webView_;
    std::shared_ptr<platform::WebView> buildAdWebView_;
    std::shared_ptr<ZELBannerWebViewDelegate> webViewDelegate_;
    std::shared_ptr<ZELBuildPageDelegate> buildAdWebViewDelegate_;
    std::shared_ptr<ZELCachedFile> buildAdJS_;
    std::shared_ptr<ZELCachedFile> adHTML_;
    std::shared_ptr<ZELRequestPrivate> request_;
    int state_ = kZELStateIdle;
    double timeLastLoaded_ = 0;
    std::set<std::shared_ptr<ZELClickTracker>> trackers_;
    std::optional<std::vector<platform::URL>> pendingTrackingURLs_;
    std::optional<std::vector<platform::URL>> pendingClickURLs_;
    platform::OneShotTimer reloadTimer_;
    double reloadSeconds_ = 0;
    bool hasAutoRefreshed_ = false;
    ZELOrientationSetting supportedOrientations_ = kZELOrientationAny;
    platform::OneShotTimer buildAdURLWatchdog_;
    platform::OneShotTimer renderWatchdog_;
    platform::OneShotTimer prepareNextPage_;
    platform::OneShotTimer trackerCleanup_;
    std::vector<platform::Observation> applicationObservations_;
    std::vector<platform::Observation> buildPageObservations_;
    unsigned long buildCount_ = 0;  // hidden pages set up so far
    int fullScreenCovers_ = 0;      // ad screens up over the application
    bool urlsDroppedLogged_ = false;  // for the ad loading or shown now
    platform::Rect initialFrame_;
    platform::WeakPtrFactory<ZELObjectPrivate> weakFactory_{this};
};
