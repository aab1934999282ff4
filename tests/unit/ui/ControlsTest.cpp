// Images, buttons, toolbars, scroll views, spinners, the mail composer and
// the application's life (launched from an interface file or from code).
#include "platform/ActivityIndicatorView.h"
#include "platform/ApplicationMain.h"
#include "platform/Button.h"
#include "platform/Image.h"
#include "platform/MailComposeViewController.h"
#include "platform/NotificationCenter.h"
#include "platform/ScrollView.h"
#include "platform/Toolbar.h"
#include "platform/ViewController.h"
#include "platform/Window.h"
#include "unit/support/SimTest.h"

namespace {

using namespace platform;
using Log = std::vector<std::string>;

std::string pngHeader(uint32_t w, uint32_t h) {
    std::string s("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
    for (uint32_t v : {w, h})
        for (int i = 3; i >= 0; --i) s.push_back(char((v >> (8 * i)) & 0xFF));
    return s + std::string("\x08\x06\x00\x00\x00\0\0\0\0", 9);  // CRC not checked here
}

using ControlsTest = SimTest;

TEST_F(ControlsTest, ImageSizeComesFromThePNGHeaderAndScaleAndADamagedPNGGivesNone) {
    auto image = Image::fromPNG(pngHeader(54, 54), 2.0);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), (Size{27, 27}));
    auto half = image->redrawn({27, 27});
    EXPECT_EQ(std::pair(half->scale(), half->pixelWidth()), std::pair(1.0, 27u));
    EXPECT_EQ(image->redrawn({12.5, 12.4})->pixelWidth(), 13u);
    EXPECT_EQ(image->withScale(1.0)->size(), (Size{54, 54}));
    EXPECT_EQ(Image::fromPNG(pngHeader(10, 10), -3)->size(), (Size{10, 10})) << "a nonsensical scale means 1";
    auto wrongChunk = pngHeader(10, 10);
    wrongChunk[12] = 'X';
    for (const std::string& bad : {std::string(), pngHeader(10, 10).substr(0, 20), "GIF89a" + pngHeader(10, 10),
                                   pngHeader(0, 10), pngHeader(1u << 31, 10), wrongChunk})
        EXPECT_FALSE(Image::fromPNG(bad)) << bad.size();
    EXPECT_FALSE(Image::fromFile("/nonexistent/file.png"));
}

TEST_F(ControlsTest, ButtonActsOnTouchUpInsideOnlyWhileEnabled) {
    auto button = std::make_shared<Button>(ButtonType::Custom, Rect(0, 0, 32, 32));
    int taps = 0;
    const int token = button->addTarget([&] { ++taps; }, kControlEventTouchUpInside);
    button->touchDown();
    button->touchUp(true);
    button->touchDown();
    button->touchUp(false);  // lifted outside
    EXPECT_FALSE(button->isHighlighted());
    button->setEnabled(false);
    button->touchDown();
    button->touchUp(true);
    button->sendActionsForControlEvents(kControlEventTouchUpInside);
    button->setEnabled(true);
    button->removeTarget(token);
    button->sendActionsForControlEvents(kControlEventTouchUpInside);
    EXPECT_EQ(taps, 1);
}

TEST_F(ControlsTest, ToolbarSharesSpareWidthAmongFlexibleSpacesAndKeepsTheButtonsOfItemsThatStay) {
    auto toolbar = std::make_shared<Toolbar>(Rect(0, 436, 320, 44));
    int backs = 0;
    auto back = BarButtonItem::withImage(Image::fromPNG(pngHeader(54, 54), 2.0), BarButtonItemStyle::Plain, [&] { ++backs; });
    back->setWidth(27);
    back->setEnabled(false);
    auto spinner = std::make_shared<ActivityIndicatorView>(ActivityIndicatorStyle::White);
    auto done = BarButtonItem::systemItem(BarButtonSystemItem::Done);
    auto flex = BarButtonItem::systemItem(BarButtonSystemItem::FlexibleSpace);
    toolbar->setItems({back, flex, BarButtonItem::withCustomView(spinner), flex, done});
    // 6 + 27 + f + 20 + f + done + 6 and four gaps of 10 fill 320.
    const double doneWidth = done->naturalWidth(), f = (320 - 12 - 27 - 20 - doneWidth - 40) / 2;
    auto backView = std::dynamic_pointer_cast<Button>(back->representedView());
    ASSERT_TRUE(backView);
    EXPECT_EQ(backView->frame().x(), 6);
    EXPECT_EQ(backView->frame().width(), 27);
    EXPECT_DOUBLE_EQ(spinner->frame().x(), 6 + 27 + 10 + f + 10);
    EXPECT_DOUBLE_EQ(spinner->frame().y(), 12);
    EXPECT_TRUE(spinner->isHidden()) << "a stopped spinner hides";
    spinner->startAnimating();
    EXPECT_FALSE(spinner->isHidden());
    EXPECT_DOUBLE_EQ(done->representedView()->frame().x() + doneWidth, 314);
    backView->sendActionsForControlEvents(kControlEventTouchUpInside);  // item disabled: nothing
    back->setEnabled(true);
    backView->sendActionsForControlEvents(kControlEventTouchUpInside);
    EXPECT_EQ(backs, 1);
    toolbar->setFrame(Rect(0, 0, 480, 30));
    EXPECT_DOUBLE_EQ(done->representedView()->frame().x() + doneWidth, 474) << "a resize keeps the right edge";
    // A refresh keeps the buttons of the items that stay: a tap under way on
    // one of them is not lost.
    const auto doneView = done->representedView();
    toolbar->setItems({back, flex, done});
    EXPECT_EQ(back->representedView(), backView);
    EXPECT_EQ(done->representedView(), doneView);
    EXPECT_EQ(spinner->superview(), nullptr);
    toolbar->setItems({done});
    EXPECT_EQ(backView->superview(), nullptr) << "replaced items leave the bar";
    EXPECT_EQ(toolbar->subviews().size(), 1u);
}

TEST_F(ControlsTest, ScrollOffsetStaysInsideTheContent) {
    auto scroll = std::make_shared<ScrollView>(Rect(0, 0, 320, 411));
    scroll->setContentSize({320, 452});
    scroll->setContentOffset({50, 100});
    EXPECT_EQ(scroll->contentOffset(), (Point{0, 41}));
    scroll->setContentSize({320, 300});
    EXPECT_EQ(scroll->contentOffset(), (Point{0, 0})) << "smaller content pulls the offset back";
    scroll->setContentSize({-5, -5});
    EXPECT_EQ(scroll->contentSize(), (Size{0, 0}));
    scroll->setContentSize({320, 452});
    scroll->setScrollEnabled(false);
    scroll->userDidScroll({0, 30});
    EXPECT_EQ(scroll->contentOffset(), (Point{0, 0}));
}

class MailResult : public MailComposeViewControllerDelegate {
public:
    void mailComposeControllerDidFinishWithResult(MailComposeViewController&, MailComposeResult r, const Error* e) override {
        results.emplace_back(r, e != nullptr);
    }
    std::vector<std::pair<MailComposeResult, bool>> results;  // with an error?
};

TEST_F(ControlsTest, MailComposerHandsAMailtoURLToTheMailClientAndReportsOnce) {
    MailMessage m{{"ana@example.com", "b&c@example.com"}, {"x@example.com", ""}, {}, "¿Qué tal?", "line 1\nline 2"};
    EXPECT_EQ(mailtoURLString(m), "mailto:ana@example.com,b%26c@example.com?cc=x@example.com&subject=%C2%BFQu%C3%A9%20tal%3F"
                                  "&body=line%201%0D%0Aline%202");
    EXPECT_TRUE(URL::parse(mailtoURLString(m)));
    EXPECT_EQ(mailtoURLString({}), "mailto:");
    // Send reports once (the failures are the opener's tests', the desktop's
    // mail client the tap tests').
    auto delegate = std::make_shared<MailResult>();
    auto composer = std::make_shared<MailComposeViewController>();
    composer->setMailComposeDelegate(delegate);
    composer->setToRecipients({"ana@example.com"});
    composer->send();
    composer->cancel();  // already finished
    EXPECT_EQ(delegate->results, (std::vector<std::pair<MailComposeResult, bool>>{{MailComposeResult::Sent, false}}));
    EXPECT_EQ(sim().application().openedURLs().at(0).absoluteString(), "mailto:ana@example.com");
    sim().application().setOpenableSchemes({"http"});
    EXPECT_FALSE(MailComposeViewController::canSendMail()) << "no mail client";
    // Without a delegate it takes itself away.
    auto window = std::make_shared<Window>(Rect(0, 0, 320, 480));
    auto root = std::make_shared<ViewController>();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    auto alone = std::make_shared<MailComposeViewController>();
    root->presentModalViewController(alone, false);
    alone->cancel();
    sim().advance(1);
    EXPECT_EQ(root->modalViewController(), nullptr);
}

class LifeRecorder : public ApplicationDelegate {
public:
    explicit LifeRecorder(Log& log) : log_(log) {}
    void applicationDidFinishLaunching(Application&) override { log_.push_back("launched"); }
    void applicationWillResignActive(Application&) override { log_.push_back("resign"); }
    void applicationDidBecomeActive(Application&) override { log_.push_back("active"); }
    void applicationDidEnterBackground(Application&) override { log_.push_back("background"); }
    void applicationWillEnterForeground(Application&) override { log_.push_back("foreground"); }
    void applicationWillTerminate(Application&) override { log_.push_back("terminate"); }

private:
    Log& log_;
};

TEST_F(ControlsTest, ApplicationStatesReachTheDelegateThenTheNotificationOnceEach) {
    Log log;
    auto observation = NotificationCenter::defaultCenter().observe("", nullptr, [&](const Notification& n) {
        if (n.name.starts_with("UIApplication")) log.push_back(n.name.substr(13));
    });
    auto& life = ApplicationLifecycle::shared();
    life.reset();
    life.setDelegate(std::make_shared<LifeRecorder>(log));
    life.setOnScreen(true);  // not launched yet: nothing
    EXPECT_TRUE(log.empty());
    life.finishLaunching();
    life.finishLaunching();
    for (bool onScreen : {true, false, false, true}) life.setOnScreen(onScreen);
    life.terminate();
    life.terminate();
    life.setOnScreen(false);
    EXPECT_EQ(log, (Log{"launched", "DidFinishLaunchingNotification", "active", "DidBecomeActiveNotification", "resign",
                        "WillResignActiveNotification", "background", "DidEnterBackgroundNotification", "foreground",
                        "WillEnterForegroundNotification", "active", "DidBecomeActiveNotification", "terminate",
                        "WillTerminateNotification"}));
    life.reset();
}

// An application that builds its window in code, as a program using the
// component without interface files does.
class WindowInCode : public ApplicationDelegate {
public:
    explicit WindowInCode(bool showWindow) : showWindow_(showWindow) {}
    void applicationDidFinishLaunching(Application&) override {
        stateAtLaunch = ApplicationLifecycle::shared().state();
        if (!showWindow_) return;
        window = std::make_shared<Window>(Rect(0, 0, 320, 480));
        screen = std::make_shared<ViewController>();
        window->setRootViewController(screen);
        window->makeKeyAndVisible();
    }
    std::optional<ApplicationState> stateAtLaunch;
    std::shared_ptr<Window> window;
    std::shared_ptr<ViewController> screen;

private:
    bool showWindow_;
};

TEST_F(ControlsTest, ApplicationLaunchedWithADelegateIsOnScreenOnceItsWindowIsShown) {
    auto& life = ApplicationLifecycle::shared();
    life.reset();
    std::string error;
    EXPECT_FALSE(launchApplication(std::shared_ptr<ApplicationDelegate>(), &error));
    EXPECT_FALSE(error.empty() || life.hasFinishedLaunching());
    for (bool shown : {false, true}) {
        SCOPED_TRACE(shown);
        auto delegate = std::make_shared<WindowInCode>(shown);
        ASSERT_TRUE(launchApplication(delegate));
        EXPECT_EQ(delegate->stateAtLaunch, ApplicationState::Inactive);
        EXPECT_EQ(life.state(), shown ? ApplicationState::Active : ApplicationState::Inactive);  // on screen with a window
        EXPECT_EQ(life.delegate(), delegate);
        EXPECT_EQ(Window::keyWindow(), delegate->window);
        if (shown) {
            EXPECT_TRUE(delegate->screen->isAppeared());
            EXPECT_EQ(delegate->screen->view()->frame(), delegate->window->applicationFrame());
        }
        life.reset();
    }
}

}  // namespace
