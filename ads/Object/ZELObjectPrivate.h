#pragma once
// The ad controller behind every banner view: the state machine of one ad load
// at a time, wiring the parts that do the work:
//
//   ZELSupportScript     the support script, kept a day and revalidated
//   ZELAdURLBuilder      the hidden request page that turns the request into the ad URL
//   (the markup)         one ZELCachedFile per ad, shown in the banner's ZELWebView
//   ZELAdResponse        what the markup's headers say, read as one value
//   ZELTrackerSet        the impression and click trackers
//   ZELReloadScheduler   when the next ad comes
//
// and reporting to the application through its delegate manager.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Network/ZELCachedFile.h"
#include "Object/ZELAdResponse.h"
#include "Object/ZELAdURLBuilder.h"
#include "Object/ZELReloadScheduler.h"
#include "Object/ZELSupportScript.h"
#include "ViewController/ZELOrientationSetting.h"
#include "WebView/ZELBannerWebViewDelegate.h"
#include "platform/Geometry.h"
#include "platform/RunLoop.h"
#include "platform/URL.h"
#include "platform/Value.h"

namespace platform {
class View;
class ViewController;
class WebView;
}  // namespace platform
class ZELDelegateManager;
class ZELRequest;
class ZELRequestPrivate;
class ZELTrackerSet;
class ZELWebView;

// Load states; the values are those the other areas and the tests name.
enum class ZELObjectState : int {
    Idle = 0,
    FetchingSupportScript = 1,
    SupportScriptFailed = 2,  // and no stored copy to go on with
    BuildingAdURL = 3,        // a load was accepted; the request page at work
    LoadingAd = 4,            // the markup is downloading
    Rendering = 5,            // the markup is in the banner's web view
    Shown = 6,
    Failed = 7,
};
inline constexpr ZELObjectState kZELStateIdle = ZELObjectState::Idle;
inline constexpr ZELObjectState kZELStateFetchingSupportScript = ZELObjectState::FetchingSupportScript;
inline constexpr ZELObjectState kZELStateSupportScriptFailed = ZELObjectState::SupportScriptFailed;
inline constexpr ZELObjectState kZELStateBuildingAdURL = ZELObjectState::BuildingAdURL;
inline constexpr ZELObjectState kZELStateLoadingAd = ZELObjectState::LoadingAd;
inline constexpr ZELObjectState kZELStateRendering = ZELObjectState::Rendering;
inline constexpr ZELObjectState kZELStateShown = ZELObjectState::Shown;
inline constexpr ZELObjectState kZELStateFailed = ZELObjectState::Failed;

class ZELObjectPrivate final : public ZELCachedFileDelegate,
                               public ZELSupportScriptClient,
                               public ZELAdURLBuilderClient,
                               public ZELBannerAd,
                               public std::enable_shared_from_this<ZELObjectPrivate> {
public:
    static constexpr double kSupportScriptLifetime = ZELSupportScript::kLifetime;
    static constexpr double kBuildAdURLTimeout = ZELAdURLBuilder::kTimeout;
    // How long the markup may take to finish loading in the ad view. Without
    // it, a resource that never arrives would keep the banner loading for
    // good: every later load, the reload timer's too, finds one in flight.
    static constexpr double kRenderTimeout = 20.0;

    // The view's bounds as frame; the ad web view goes into the view.
    static std::shared_ptr<ZELObjectPrivate> initWithView(platform::View& view);
    static std::shared_ptr<ZELObjectPrivate> initWithFrame(const platform::Rect& frame);
    // Forgets what the process has learnt so far (the launch announced, the
    // web engine started, the request page made ready ahead, the shared
    // statistics, saved first), for a test that starts afresh.
    static void resetProcessState();
    ~ZELObjectPrivate() override;
    ZELObjectPrivate(const ZELObjectPrivate&) = delete;
    ZELObjectPrivate& operator=(const ZELObjectPrivate&) = delete;

    // Properties.
    std::shared_ptr<platform::View> adView() const { return adView_.lock(); }
    const std::string& adUnitID() const { return adUnitID_; }
    void setAdUnitID(std::string id) { adUnitID_ = std::move(id); }
    std::shared_ptr<platform::ViewController> rootViewController() const override { return rootViewController_.lock(); }
    void setRootViewController(std::weak_ptr<platform::ViewController> controller) {
        rootViewController_ = std::move(controller);
    }
    const std::shared_ptr<ZELDelegateManager>& delegateManager() const override { return delegateManager_; }
    const std::shared_ptr<ZELWebView>& webView() const { return webView_; }
    const std::shared_ptr<ZELRequestPrivate>& request() const { return request_; }
    ZELObjectState state() const { return state_; }
    double timeLastLoaded() const override { return timeLastLoaded_; }
    bool hasAutoRefreshed() const { return hasAutoRefreshed_; }
    ZELOrientationSetting supportedOrientations() const override { return supportedOrientations_; }
    double reloadSeconds() const { return reload_.interval(); }
    bool isReloadTimerScheduled() const { return reload_.isScheduled(); }
    bool isReloadDue() const { return reload_.isDue(); }
    // Whether the user can see the banner (its view reports it).
    void setVisible(bool visible);
    // Reloads and counts impressions whether the banner is seen or not.
    void setReloadsWhileHidden(bool reloads);
    const std::shared_ptr<ZELCachedFile>& adHTML() const { return adHTML_; }
    std::optional<std::string> adHTMLString() const { return adHTML_ ? adHTML_->content() : std::nullopt; }
    // Where the markup came from, after its redirects.
    std::optional<platform::URL> adHTMLBaseURL() const {
        return adHTML_ ? std::optional<platform::URL>(adHTML_->httpDestinationURL()) : std::nullopt;
    }
    std::vector<platform::URL> pendingTrackingURLs() const { return pendingURLs_.tracking(); }
    std::vector<platform::URL> pendingClickURLs() const override { return pendingURLs_.clicks(); }
    bool isMakingRequest() const;
    // The request page at work, if any.
    const std::shared_ptr<platform::WebView>& buildAdWebView() const { return urlBuilder_.webView(); }
    size_t trackerCount() const;

    // Loading.
    void loadRequest(const std::shared_ptr<ZELRequest>& request);
    void loadInterstitialRequest(const std::shared_ptr<ZELRequest>& request);
    static std::shared_ptr<ZELRequestPrivate> privateRequestWithRequest(const std::shared_ptr<ZELRequest>& request);
    void loadPrivateRequest(const std::shared_ptr<ZELRequestPrivate>& request, bool autoRefresh);
    void reloadCurrentRequest();
    // The banner is going: nothing more is scheduled.
    void cancelPendingActions();
    void changeState(ZELObjectState state);
    bool isAppActive() const;
    bool supportsMinimumRequirementsForRequest(const std::shared_ptr<ZELRequestPrivate>& request);
    // The controller's own request parameters: the slot, and the banner's
    // frame and bounds (or the interstitial format).
    void addAdditionalParameters(platform::Dictionary& parameters) const;

    // Showing.
    void loadHTMLFromURL(const std::optional<platform::URL>& url);
    void setAdHTML(std::shared_ptr<ZELCachedFile> file);
    void showAd();
    void failedAdRequestWithError(const std::optional<platform::Error>& error, ZELCachedFile* file);

    // Response headers, trackers and the reload timer.
    void processHTTPHeaders(const ZELCachedFile& file);
    void trackURLs(const std::vector<platform::URL>& urls) override;
    void addReloadInformationFromHeaders();

    // The markup's download.
    void cachedFileDownloadDidEnd(ZELCachedFile& file) override;
    void cachedFileDownloadDidFail(ZELCachedFile& file, const std::optional<platform::Error>& error) override;
    std::optional<platform::Error> cachedFileShouldRedirectToURL(ZELCachedFile& file,
                                                                 const platform::URL& url) override;

    // The support script.
    void supportScriptWillFetch() override;
    void supportScriptIsReady(const std::string& script) override;
    void supportScriptFetchFailed(const std::optional<std::string>& storedScript,
                                  const std::optional<platform::Error>& error) override;
    void supportScriptRedirected(const ZELCachedFile& file) override;

    // The request page.
    void adURLBuilderDidBuild(const std::optional<platform::URL>& adURL) override;
    void adURLBuilderDidFail(long code) override;

    // The banner's page.
    bool isShowingAd() const override { return state_ == ZELObjectState::Shown; }
    void adPageDidFinishLoad() override;
    void adPageDidFailLoad() override;
    void adPageProcessDidTerminate() override;

private:
    explicit ZELObjectPrivate(const platform::Rect& frame);
    void setUp();
    void buildAdUrl(const std::string& script);
    void reportFailure(long code);
    // A load that ends without an ad: state 7, one report, and the server's
    // schedule kept.
    void loadFailed(long code);
    void renderTimedOut();
    // The shown ad's impressions, when the user can see it.
    void trackImpressionsWhenSeen();
    void prepareNextBuildPage();

    std::weak_ptr<platform::View> adView_;
    std::string adUnitID_;
    std::shared_ptr<ZELDelegateManager> delegateManager_;
    std::weak_ptr<platform::ViewController> rootViewController_;
    std::shared_ptr<ZELWebView> webView_;
    std::shared_ptr<ZELBannerWebViewDelegate> webViewDelegate_;
    std::shared_ptr<ZELSupportScript> supportScript_;
    ZELAdURLBuilder urlBuilder_{*this};
    std::shared_ptr<ZELCachedFile> adHTML_;
    std::shared_ptr<ZELRequestPrivate> request_;
    ZELObjectState state_ = ZELObjectState::Idle;
    double timeLastLoaded_ = 0;
    ZELPendingURLs pendingURLs_;
    bool impressionsOwed_ = false;  // shown while nobody could see it
    std::shared_ptr<ZELTrackerSet> trackers_;
    ZELReloadScheduler reload_{[this] { reloadCurrentRequest(); }};
    bool hasAutoRefreshed_ = false;
    ZELOrientationSetting supportedOrientations_ = kZELOrientationAny;
    platform::OneShotTimer renderWatchdog_;
    platform::OneShotTimer prepareNextPage_;
    platform::Rect initialFrame_;
};
