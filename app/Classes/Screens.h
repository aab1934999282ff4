#pragma once
// The four screens. Their layouts live in interface files of the same name
// (without "Controller"); the code connects to the outlets below.

#include <memory>
#include <string>

#include "LoadWatch.h"
#include "platform/ActivityIndicatorView.h"
#include "platform/ScrollView.h"
#include "platform/ViewController.h"
#include "platform/WebView.h"

class ZELBannerView;

// First tab: the carrier's message form.
class FirstViewController : public platform::ViewController {
public:
    explicit FirstViewController(std::string interfaceName = "FirstView");
    ~FirstViewController() override;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidUnload() override;
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) override;

    void checkLoad() { watch_.checkLoad(); }
    void checkNotLoad() { watch_.checkNotLoad(); }
    // Hands the contact address to the desktop's mail client.
    void mailto();

    std::shared_ptr<platform::WebView> webView;
    std::shared_ptr<platform::ActivityIndicatorView> cargando;
    const std::shared_ptr<ZELBannerView>& banner() const { return bannerView_; }

private:
    mensajes::LoadWatch watch_{true};
    std::shared_ptr<ZELBannerView> bannerView_;
};

// Second tab: a messaging service's page, no spinner.
class ThirdViewController : public platform::ViewController {
public:
    explicit ThirdViewController(std::string interfaceName = "ThirdView");
    void viewWillAppear(bool animated) override;
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) override;

    std::shared_ptr<platform::WebView> webView2;
};

// Third tab: the bundled page.
class FourthViewController : public platform::ViewController {
public:
    explicit FourthViewController(std::string interfaceName = "FourthView");
    ~FourthViewController() override;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidUnload() override;
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) override;

    void checkLoad() { watch_.checkLoad(); }
    void checkNotLoad() { watch_.checkNotLoad(); }

    std::shared_ptr<platform::WebView> webView3;
    std::shared_ptr<platform::ActivityIndicatorView> activado;
    const std::shared_ptr<ZELBannerView>& banner() const { return bannerView_; }

private:
    mensajes::LoadWatch watch_{false};
    std::shared_ptr<ZELBannerView> bannerView_;
};

// Fourth tab: the scrolling help text with the mail button.
class AyudaViewController : public platform::ViewController {
public:
    explicit AyudaViewController(std::string interfaceName = "AyudaView");
    void viewDidLoad() override;
    void viewDidUnload() override;

    std::shared_ptr<platform::ScrollView> scrollview;

    static constexpr double kContentWidth = 320;
    static constexpr double kContentHeight = 452;
};
