#pragma once
// The public face of the component: a view the application places, gives an
// ad unit identifier, a root view controller and optionally a delegate, then
// sends loadRequest. All work is done by the ad controller behind it, which
// the banner owns.

#include <memory>
#include <string>

#include "platform/View.h"

namespace platform {
class ViewController;
}
class ZELBannerViewDelegate;
class ZELObjectPrivate;
class ZELRequest;
class ZELWebView;

class ZELBannerView : public platform::View {
public:
    // initWithFrame: the banner and its controller.
    static std::shared_ptr<ZELBannerView> initWithFrame(const platform::Rect& frame);
    // init: an empty frame.
    static std::shared_ptr<ZELBannerView> init() { return initWithFrame(platform::Rect()); }
    ~ZELBannerView() override;

    // The ad controller.
    const std::shared_ptr<ZELObjectPrivate>& getPrivate() const { return private_; }

    std::string adUnitID() const;
    void setAdUnitID(const std::string& adUnitID);
    std::shared_ptr<platform::ViewController> rootViewController() const;
    void setRootViewController(std::weak_ptr<platform::ViewController> controller);
    std::shared_ptr<ZELBannerViewDelegate> delegate() const;
    void setDelegate(std::weak_ptr<ZELBannerViewDelegate> delegate);
    std::shared_ptr<ZELWebView> webView() const;
    bool hasAutoRefreshed() const;

    void loadRequest(const std::shared_ptr<ZELRequest>& request);

    // Off by default: the banner reloads, and counts an ad's impressions,
    // only while the user can see it (in a shown window that is not
    // minimised, on the selected tab, not empty); hidden, its reload waits
    // and comes at once when it is seen again after its interval. That
    // departs from the ad server's plain schedule on purpose: a hidden
    // banner's reloads cost traffic and battery and count impressions
    // nobody saw. On, it reloads on the server's schedule whether seen or not.
    void setReloadsWhileHidden(bool reloads);

    // For a banner made by an interface file.
    void awakeFromNib() { commonInitializer(); }

protected:
    explicit ZELBannerView(const platform::Rect& frame);
    void visibilityDidChange() override;

private:
    void commonInitializer();

    std::shared_ptr<ZELObjectPrivate> private_;
};
