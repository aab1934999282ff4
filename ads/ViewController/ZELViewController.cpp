#include "ViewController/ZELViewController.h"

#include "Delegate/ZELDelegateManager.h"
#include "Statistics/ZELStatistics.h"
#include "Utility/ZELIdentifierUtilities.h"
#include "ViewController/ZELViewControllerPrivate.h"
#include "platform/Application.h"
#include "platform/MailComposeViewController.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "platform/Services.h"
#include "platform/Window.h"

const std::shared_ptr<ZELDelegateManager>& ZELViewControllerPrivate::delegateManager() {
    if (!delegateManager_) delegateManager_ = ZELDelegateManager::create();
    return delegateManager_;
}

namespace {

bool isAdScreen(const std::shared_ptr<platform::ViewController>& controller) {
    return dynamic_cast<const ZELViewController*>(controller.get()) != nullptr;
}

std::shared_ptr<platform::ViewController> topOf(std::shared_ptr<platform::ViewController> controller) {
    while (auto above = controller->modalViewController()) controller = above;
    return controller;
}

// On this platform the status bar is hidden only for screens that cover the
// whole window.
bool coversWholeWindow(const platform::ViewController& controller) {
    return controller.modalPresentationStyle() == platform::ModalPresentationStyle::FullScreen;
}

}  // namespace

void ZELViewController::setUp() {
    private_ = createPrivateData();
    setSupportedOrientations(kZELOrientationAny);
    auto root = view();
    root->setAutoresizingMask(platform::kAutoresizingFlexibleWidth | platform::kAutoresizingFlexibleHeight);
    root->setOpaque(true);
    root->setBackgroundColor(platform::Color::black());
    root->setClipsToBounds(true);
    setModalTransitionStyle(platform::ModalTransitionStyle::CoverVertical);
}

std::shared_ptr<ZELViewControllerPrivate> ZELViewController::createPrivateData() {
    return std::make_shared<ZELViewControllerPrivate>();
}

ZELViewController::~ZELViewController() {
    auto vars = getPrivate();
    if (vars) {
        if (vars->presented_ && vars->presentedFirst_) vars->delegateManager()->didDismissScreen();
        // A screen that never gave back its cover (taken down with its window,
        // say) still ends the pair, or the banners would never reload again.
        endCover(*vars);
    }
}

std::shared_ptr<ZELDelegateManager> ZELViewController::delegateManager() const {
    auto vars = getPrivate();
    return vars ? vars->delegateManager() : nullptr;
}

void ZELViewController::setDelegateManager(std::shared_ptr<ZELDelegateManager> manager) {
    if (auto vars = getPrivate()) vars->setDelegateManager(std::move(manager));
}

ZELOrientationSetting ZELViewController::supportedOrientations() const {
    auto vars = getPrivate();
    return vars ? vars->supportedOrientations() : kZELOrientationAny;
}

void ZELViewController::setSupportedOrientations(ZELOrientationSetting setting) {
    if (setting == kZELOrientationUnset) return;
    if (auto vars = getPrivate()) vars->setSupportedOrientations(setting);
}

std::shared_ptr<platform::WebView> ZELViewController::openingWebView() const {
    auto vars = getPrivate();
    return vars ? vars->openingWebView() : nullptr;
}

void ZELViewController::setOpeningWebView(std::weak_ptr<platform::WebView> webView) {
    if (auto vars = getPrivate()) vars->setOpeningWebView(std::move(webView));
}

bool ZELViewController::statusBarWasHidden() const {
    auto vars = getPrivate();
    return vars && vars->statusBarWasHidden();
}

void ZELViewController::setStatusBarWasHidden(bool hidden) {
    if (auto vars = getPrivate()) vars->setStatusBarWasHidden(hidden);
}

bool ZELViewController::isFirstZELViewController() const {
    if (auto parent = parentViewController()) return !isAdScreen(parent);
    // Gone from the screen: what it was when it was presented.
    auto vars = getPrivate();
    return !vars || !vars->presented_ || vars->presentedFirst_;
}

bool ZELViewController::isScreenShowingOver(const std::shared_ptr<platform::ViewController>& from) {
    if (!from) return false;
    // One ad screen opening another: only what is already over it counts.
    if (isAdScreen(from)) return from->modalViewController() != nullptr;
    auto window = platform::Window::keyWindow();
    auto top = topOf(window && window->rootViewController() ? window->rootViewController() : from);
    return isAdScreen(top) || dynamic_cast<const platform::MailComposeViewController*>(top.get());
}

bool ZELViewController::presentFromViewController(const std::shared_ptr<platform::ViewController>& controller) {
    if (!controller) {
        platform::log("<Nimbra> No UIViewController supplied to the ad.  Cannot continue.");
        return false;
    }
    auto vars = getPrivate();
    if (!vars) return false;
    if (vars->onScreen_) return false;  // up already: nothing new went up
    const bool fromAdScreen = isAdScreen(controller);
    // A page may ask twice in a row: while one ad screen (or the mail
    // composer) is up or still coming up, a second one is not stacked on it.
    if (isScreenShowingOver(controller)) {
        platform::log("<Nimbra> An ad screen is already showing; the new one is not shown.");
        return false;
    }

    auto& application = platform::Application::shared();
    view()->setUserInteractionEnabled(false);
    vars->onScreen_ = std::static_pointer_cast<ZELViewController>(shared_from_this());
    vars->coveringApplication_ = true;
    vars->presented_ = true;
    vars->presentedFirst_ = !fromAdScreen;
    platform::NotificationCenter::defaultCenter().post(ZELViewControllerWillPresentFullScreen, this);

    if (fromAdScreen) {
        vars->setInteractingWithParent(false);
        controller->presentModalViewController(shared_from_this(), true);
    } else {
        vars->setInteractingWithParent(true);
        vars->delegateManager()->willPresentScreen();
        if (coversWholeWindow(*this)) {
            vars->setStatusBarWasHidden(application.isStatusBarHidden());
            if (!vars->statusBarWasHidden()) application.setStatusBarHidden(true, false);
        }
        vars->setPublisherIdleTimerDisabled(application.isIdleTimerDisabled());
        application.setIdleTimerDisabled(true);
        presentSelfFrom(controller);
    }

    // The platform may have refused it (the presenter is gone from the
    // screen, say): give back what was taken, nothing half done.
    if (!presentingViewController()) {
        platform::log("<Nimbra> The ad screen could not be shown.");
        giveBackScreen(*vars);
        endCover(*vars);
        view()->setUserInteractionEnabled(true);
        return false;
    }
    return true;
}

void ZELViewController::presentSelfFrom(const std::shared_ptr<platform::ViewController>& controller) {
    auto window = platform::Window::keyWindow();
    if (auto root = window ? window->rootViewController() : nullptr) {
        root->presentModalViewController(shared_from_this(), true);
        return;
    }
    controller->presentModalViewController(shared_from_this(), true);
    if (auto vars = getPrivate())
        vars->secondAppearance_.start(kSecondAppearanceDelay, [this] { viewDidAppear(false); });
}

void ZELViewController::viewDidAppear(bool animated) {
    // Called by the platform and, without a root view controller, once more
    // after a delay: the body runs once.
    if (view()->isUserInteractionEnabled()) return;
    platform::ViewController::viewDidAppear(animated);
    view()->setUserInteractionEnabled(true);
    auto vars = getPrivate();
    if (vars && isFirstZELViewController() && vars->interactingWithParent()) vars->setInteractingWithParent(false);
}

void ZELViewController::relinquishScreen() {
    auto vars = getPrivate();
    if (!vars || !vars->onScreen_) return;  // not up, or already going
    view()->setUserInteractionEnabled(false);
    auto presenter = presentingViewController();
    if (!presenter) presenter = parentViewController();
    giveBackScreen(*vars);
    if (presenter) presenter->dismissModalViewControllerAnimated(true);
    endCover(*vars);
}

bool ZELViewController::canPerformKeyCommand(platform::KeyCommand command) const {
    auto vars = getPrivate();
    return command == platform::KeyCommand::Cancel && vars && vars->onScreen_;
}

void ZELViewController::performKeyCommand(platform::KeyCommand command) {
    if (canPerformKeyCommand(command)) relinquishScreen();
}

void ZELViewController::giveBackScreen(ZELViewControllerPrivate& vars) {
    // The screen outlives this call: it goes at the end of the loop's turn.
    platform::releaseOnNextTurn(std::move(vars.onScreen_));
    vars.onScreen_.reset();
    vars.secondAppearance_.stop();
    if (!vars.presentedFirst_) {
        vars.setInteractingWithParent(false);
        return;
    }
    vars.setInteractingWithParent(true);
    vars.delegateManager()->willDismissScreen();
    auto& application = platform::Application::shared();
    if (coversWholeWindow(*this) && !vars.statusBarWasHidden()) application.setStatusBarHidden(false, false);
    application.setIdleTimerDisabled(vars.publisherIdleTimerDisabled());
}

void ZELViewController::endCover(ZELViewControllerPrivate& vars) {
    if (!vars.coveringApplication_) return;
    vars.coveringApplication_ = false;
    platform::NotificationCenter::defaultCenter().post(ZELViewControllerDidRelinquishFullScreen, this);
}

void ZELViewController::viewDidDisappear(bool animated) {
    platform::ViewController::viewDidDisappear(animated);
    auto statistics = ZELStatistics::sharedStatistics();
    statistics->endTimingNamed("plpd");
    statistics->endTimingNamed("pcl");
    auto vars = getPrivate();
    if (!vars) return;
    // Taken away by someone else (its presenter was dismissed under it):
    // give back what presenting took, as relinquishing would have.
    if (vars->onScreen_ && (isBeingDismissed() || !presentingViewController())) {
        giveBackScreen(*vars);
        endCover(*vars);
    }
    if (isFirstZELViewController() && vars->interactingWithParent()) {
        vars->setInteractingWithParent(false);
        if (vars->appClosing()) vars->delegateManager()->willLeaveApplication();
    }
}

bool ZELViewController::shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) {
    using platform::InterfaceOrientation;
    switch (supportedOrientations()) {
    case kZELOrientationPortrait:
        return orientation == InterfaceOrientation::Portrait || orientation == InterfaceOrientation::PortraitUpsideDown;
    case kZELOrientationLandscape:
        return orientation == InterfaceOrientation::LandscapeRight ||
               orientation == InterfaceOrientation::LandscapeLeft;
    default: return orientation != InterfaceOrientation::Unknown;
    }
}
