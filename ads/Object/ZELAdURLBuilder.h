#pragma once
// Builds the ad URL: runs RUMA_buildAdURL with the request's parameters in a
// hidden page holding the support script (the page made ready ahead when it
// fits, with the script or still blank, a fresh one otherwise), waits for the
// page's answer within a time limit, and turns the answer into the URL of the
// ad markup (the device signals and, for one kind of source, a sequence
// number appended). Each page serves one request and goes with its answer.

#include <memory>
#include <optional>
#include <string>

#include "Object/ZELPreparedBuildPage.h"
#include "platform/Geometry.h"
#include "platform/RunLoop.h"
#include "platform/URL.h"
#include "platform/Value.h"
#include "platform/WeakPtr.h"

// What the builder tells the controller that owns it.
class ZELAdURLBuilderClient {
public:
    virtual ~ZELAdURLBuilderClient() = default;
    // The page named the ad; none when what it named is no URL.
    virtual void adURLBuilderDidBuild(const std::optional<platform::URL>& adURL) = 0;
    // No ad URL: the page refused (ZELErrorInvalidRequest), was lost
    // (ZELErrorNetworkError) or never answered (ZELErrorTimeout).
    virtual void adURLBuilderDidFail(long code) = 0;
};

class ZELAdURLBuilder {
public:
    // The hidden page's limit: a script that never answers, or throws, would
    // keep the banner building for good.
    static constexpr double kTimeout = 20.0;

    explicit ZELAdURLBuilder(ZELAdURLBuilderClient& client) : client_(client) {}
    ~ZELAdURLBuilder();
    ZELAdURLBuilder(const ZELAdURLBuilder&) = delete;
    ZELAdURLBuilder& operator=(const ZELAdURLBuilder&) = delete;

    void build(const std::string& script, const platform::Dictionary& parameters, const platform::URL& baseURL);
    // Drops the page, if any: its answers are heard no more.
    void reset();
    // The hidden page at work, if any.
    const std::shared_ptr<platform::WebView>& webView() const { return page_.webView; }

    // What the ad controller adds to the request's parameters: the slot name
    // (when there is one), then the interstitial format, or the banner's
    // frame and bounds.
    static void addSlotParameters(platform::Dictionary& parameters, const std::string& adUnitID, bool interstitial,
                                  const platform::Rect& frame, const platform::Rect& bounds);
    // The call the page runs: RUMA_buildAdURL with the parameters as JSON
    // text, which cannot end the script element that holds it.
    static std::string callFor(const platform::Dictionary& parameters);
    // The markup's URL for the page's answer: signals appended; none when the
    // answer names no URL.
    static std::optional<platform::URL> adURLFromAnswer(const ZELBuildPageAnswer& answer);

private:
    void adopt(ZELPreparedBuildPage::Page page);
    // A lost page ends the build with a failure.
    void failWhenLost();
    // Runs the script first when the page is blank, then the call.
    void runInPage(bool withScript, const std::string& script, const std::string& call, const platform::URL& baseURL);
    void buildInFreshPage(const std::string& script, const std::string& call, const platform::URL& baseURL);
    void answered(const ZELBuildPageAnswer& answer);
    void fail(const char* logLine, long code);

    ZELAdURLBuilderClient& client_;
    ZELPreparedBuildPage::Page page_;
    platform::OneShotTimer watchdog_;
    unsigned long pages_ = 0;  // pages adopted so far: tells a late word of an old one
    platform::WeakPtrFactory<ZELAdURLBuilder> weakFactory_{this};
};
