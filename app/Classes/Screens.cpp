#include "Screens.h"

#include "Constants.h"
#include "Mensajes.h"
#include "platform/Http.h"
#include "Request/ZELRequest.h"
#include "View/ZELBannerView.h"
#include "platform/InterfaceFile.h"

namespace {
bool portraitOnly(platform::InterfaceOrientation o) { return o == platform::InterfaceOrientation::Portrait; }

// The screen's banner: placed in the strip at the bottom of its view, with the
// screen as root view controller.
std::shared_ptr<ZELBannerView> placeBanner(platform::ViewController& screen) {
    auto banner = ZELBannerView::initWithFrame(
        platform::Rect(mensajes::kBannerX, mensajes::kBannerY, mensajes::kBannerWidth, mensajes::kBannerHeight));
    banner->setAutoresizingMask(mensajes::kBannerMask);
    banner->setAdUnitID(mensajes::kAdUnitID);
    banner->setRootViewController(screen.weak_from_this());
    screen.view()->addSubview(banner);
    return banner;
}

void releaseBanner(std::shared_ptr<ZELBannerView>& banner) {
    if (!banner) return;
    banner->removeFromSuperview();
    banner.reset();
}

void loadAddress(platform::WebView* web, const std::string& address) {
    if (!web) return;
    if (auto url = platform::URL::parse(address)) web->loadRequest(platform::URLRequest(*url));
}
}  // namespace

// ---- BannerWebScreen

BannerWebScreen::BannerWebScreen(std::string interfaceName, bool drivesNetworkIndicator)
    : ViewController(std::move(interfaceName)), watch_(drivesNetworkIndicator) {}

BannerWebScreen::~BannerWebScreen() = default;

void BannerWebScreen::viewDidLoad() {
    ViewController::viewDidLoad();
    bannerView_ = placeBanner(*this);
    // The request carries the banner's frame. A view is loaded at the size of
    // its interface file and only then laid out where it is shown (a larger
    // screen moves the banner): the first request goes on the next turn,
    // from where the banner is.
    firstRequest_.start(0, [this] {
        if (bannerView_) bannerView_->loadRequest(ZELRequest::request());
    });
}

void BannerWebScreen::viewDidUnload() {
    firstRequest_.stop();
    releaseBanner(bannerView_);
}

bool BannerWebScreen::shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation o) {
    return portraitOnly(o);
}

// ---- FirstViewController

FirstViewController::FirstViewController(std::string interfaceName) : BannerWebScreen(std::move(interfaceName), true) {
    outlets().add("webView", webView);
    outlets().add("cargando", cargando);
    outlets().addAction("mailto", [this] { mailto(); });
}

void FirstViewController::viewWillAppear(bool) {
    loadAddress(webView.get(), mensajes::firstPageAddress());
    watch_.start(webView, cargando);
}

void FirstViewController::mailto() { mensajes::openContactAddress(); }

// ---- ThirdViewController

ThirdViewController::ThirdViewController(std::string interfaceName) : ViewController(std::move(interfaceName)) {
    outlets().add("webView2", webView2);
}

void ThirdViewController::viewWillAppear(bool) { loadAddress(webView2.get(), mensajes::thirdPageAddress()); }

bool ThirdViewController::shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation o) {
    return portraitOnly(o);
}

// ---- FourthViewController

FourthViewController::FourthViewController(std::string interfaceName)
    : BannerWebScreen(std::move(interfaceName), false) {
    outlets().add("webView3", webView3);
    outlets().add("activado", activado);
}

void FourthViewController::viewWillAppear(bool) {
    // A missing page leaves the web view empty.
    if (auto path = platform::InterfaceFile::pathForResource(mensajes::kLocalPageName, mensajes::kLocalPageType))
        if (webView3) webView3->loadRequest(platform::URLRequest(platform::URL::fileURL(*path, false)));
    watch_.start(webView3, activado);
}

// ---- AyudaViewController

AyudaViewController::AyudaViewController(std::string interfaceName) : ViewController(std::move(interfaceName)) {
    outlets().add("scrollview", scrollview);
    outlets().addAction("mailto", [] { mensajes::openContactAddress(); });
}

void AyudaViewController::viewDidLoad() {
    if (scrollview) {
        scrollview->setScrollEnabled(true);
        scrollview->setContentSize({kContentWidth, kContentHeight});
    }
    ViewController::viewDidLoad();
}
