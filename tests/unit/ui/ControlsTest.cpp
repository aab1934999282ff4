// Images, buttons, toolbars, scroll views, spinners, the mail composer and
// the application's life.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ActivityIndicatorView.h"
#include "platform/ApplicationMain.h"
#include "platform/Button.h"
#include "platform/Image.h"
#include "platform/MailComposeViewController.h"
#include "platform/NotificationCenter.h"
#include "platform/ScrollView.h"
#include "platform/Toolbar.h"
#include "platform/Window.h"
#include "unit/support/SimTest.h"

namespace {

using platform::Rect;
using platform::Size;

std::string pngHeader(uint32_t w, uint32_t h) {
    std::string s("\x89PNG\r\n\x1a\n", 8);
    auto be = [&](uint32_t v) {
        for (int i = 3; i >= 0; --i) s.push_back(char((v >> (8 * i)) & 0xFF));
    };
    be(13);
    s += "IHDR";
    be(w);
    be(h);
    s += std::string("\x08\x06\x00\x00\x00", 5);
    be(0);  // CRC, not checked here
    return s;
}

class ControlsTest : public SimTest {};

TEST_F(ControlsTest, ImageSizeComesFromThePNGHeaderAndScale) {
    auto image = platform::Image::fromPNG(pngHeader(54, 54), 2.0);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), (Size{27, 27}));
    EXPECT_EQ(image->pixelWidth(), 54u);
    auto half = image->redrawn({27, 27});
    EXPECT_EQ(half->size(), (Size{27, 27}));
    EXPECT_EQ(half->scale(), 1.0);
    EXPECT_EQ(half->pixelWidth(), 27u);
    EXPECT_EQ(image->redrawn({12.5, 12.4})->pixelWidth(), 13u);
    EXPECT_EQ(image->withScale(1.0)->size(), (Size{54, 54}));
    EXPECT_EQ(image->pngData().size(), pngHeader(54, 54).size());
}

TEST_F(ControlsTest, DamagedPNGGivesNoImage) {
    auto good = pngHeader(10, 10);
    EXPECT_FALSE(platform::Image::fromPNG(""));
    EXPECT_FALSE(platform::Image::fromPNG(good.substr(0, 20)));
    EXPECT_FALSE(platform::Image::fromPNG("GIF89a" + good));
    EXPECT_FALSE(platform::Image::fromPNG(pngHeader(0, 10)));
    EXPECT_FALSE(platform::Image::fromPNG(pngHeader(1u << 31, 10)));
    auto wrongChunk = good;
    wrongChunk[12] = 'X';
    EXPECT_FALSE(platform::Image::fromPNG(wrongChunk));
    EXPECT_FALSE(platform::Image::fromFile("/nonexistent/file.png"));
    // A nonsensical scale falls back to 1.
    EXPECT_EQ(platform::Image::fromPNG(good, -3)->size(), (Size{10, 10}));
}

TEST_F(ControlsTest, ButtonRunsTouchUpInsideOnlyWhenEnabledAndInside) {
    auto button = std::make_shared<platform::Button>(platform::ButtonType::Custom, Rect(0, 0, 32, 32));
    int taps = 0, downs = 0;
    int token = button->addTarget([&] { ++taps; }, platform::kControlEventTouchUpInside);
    button->addTarget([&] { ++downs; }, platform::kControlEventTouchDown);
    button->setShowsTouchWhenHighlighted(true);
    button->touchDown();
    EXPECT_TRUE(button->isHighlighted());
    button->touchUp(true);
    EXPECT_FALSE(button->isHighlighted());
    button->touchDown();
    button->touchUp(false);
    EXPECT_EQ(taps, 1);
    EXPECT_EQ(downs, 2);
    button->setEnabled(false);
    button->touchDown();
    button->touchUp(true);
    button->sendActionsForControlEvents(platform::kControlEventTouchUpInside);
    EXPECT_EQ(taps, 1);
    button->setEnabled(true);
    button->removeTarget(token);
    button->sendActionsForControlEvents(platform::kControlEventTouchUpInside);
    EXPECT_EQ(taps, 1);
}

TEST_F(ControlsTest, ToolbarSharesSpareWidthAmongFlexibleSpaces) {
    auto toolbar = std::make_shared<platform::Toolbar>(Rect(0, 436, 320, 44));
    auto image = platform::Image::fromPNG(pngHeader(54, 54), 2.0);
    int backs = 0;
    auto back = platform::BarButtonItem::withImage(image, platform::BarButtonItemStyle::Plain, [&] { ++backs; });
    back->setWidth(27);
    back->setEnabled(false);
    auto spinner = std::make_shared<platform::ActivityIndicatorView>(platform::ActivityIndicatorStyle::White);
    auto holder = platform::BarButtonItem::withCustomView(spinner);
    auto done = platform::BarButtonItem::systemItem(platform::BarButtonSystemItem::Done);
    auto flex = platform::BarButtonItem::systemItem(platform::BarButtonSystemItem::FlexibleSpace);
    toolbar->setItems({back, flex, holder, flex, done});
    // 6 + 27 + f + 20 + f + done + 6 and four gaps of 10 fill 320.
    double doneWidth = done->naturalWidth();
    double f = (320 - 12 - 27 - 20 - doneWidth - 40) / 2;
    auto backView = back->representedView();
    ASSERT_TRUE(backView);
    EXPECT_EQ(backView->frame().x(), 6);
    EXPECT_EQ(backView->frame().width(), 27);
    EXPECT_DOUBLE_EQ(spinner->frame().x(), 6 + 27 + 10 + f + 10);
    EXPECT_DOUBLE_EQ(spinner->frame().y(), 12);
    EXPECT_DOUBLE_EQ(done->representedView()->frame().x() + doneWidth, 314);

    auto button = std::dynamic_pointer_cast<platform::Button>(backView);
    ASSERT_TRUE(button);
    EXPECT_FALSE(button->isEnabled());
    button->sendActionsForControlEvents(platform::kControlEventTouchUpInside);
    EXPECT_EQ(backs, 0);
    back->setEnabled(true);
    back->setAccessibilityLabel("Back");
    EXPECT_EQ(button->accessibilityLabel(), "Back");
    button->sendActionsForControlEvents(platform::kControlEventTouchUpInside);
    EXPECT_EQ(backs, 1);

    // Re-laying out after a resize keeps the right edge.
    toolbar->setFrame(Rect(0, 0, 480, 30));
    EXPECT_DOUBLE_EQ(done->representedView()->frame().x() + doneWidth, 474);
    // Items replaced: the old views leave the bar.
    toolbar->setItems({done});
    EXPECT_EQ(backView->superview(), nullptr);
    EXPECT_EQ(toolbar->subviews().size(), 1u);
}

TEST_F(ControlsTest, ScrollOffsetStaysInsideTheContent) {
    auto scroll = std::make_shared<platform::ScrollView>(Rect(0, 0, 320, 411));
    scroll->setContentSize({320, 452});
    EXPECT_EQ(scroll->maximumContentOffset(), (platform::Point{0, 41}));
    scroll->setContentOffset({50, 100});
    EXPECT_EQ(scroll->contentOffset(), (platform::Point{0, 41}));
    scroll->setContentSize({320, 300});
    EXPECT_EQ(scroll->contentOffset(), (platform::Point{0, 0}));
    scroll->setContentSize({-5, -5});
    EXPECT_EQ(scroll->contentSize(), (Size{0, 0}));
    scroll->setContentSize({320, 452});
    scroll->setScrollEnabled(false);
    scroll->userDidScroll({0, 30});
    EXPECT_EQ(scroll->contentOffset(), (platform::Point{0, 0}));
}

TEST_F(ControlsTest, SpinnerHidesWhileStopped) {
    platform::ActivityIndicatorView spinner(platform::ActivityIndicatorStyle::White);
    EXPECT_EQ(spinner.frame().size, (Size{20, 20}));
    EXPECT_TRUE(spinner.isHidden());
    spinner.startAnimating();
    EXPECT_TRUE(spinner.isAnimating());
    EXPECT_FALSE(spinner.isHidden());
    spinner.stopAnimating();
    EXPECT_TRUE(spinner.isHidden());
    spinner.setHidesWhenStopped(false);
    EXPECT_FALSE(spinner.isHidden());
}

TEST_F(ControlsTest, MailtoURLEscapesWhatAURLCannotHold) {
    platform::MailMessage m;
    m.to = {"ana@example.com", "b&c@example.com"};
    m.cc = {"x@example.com", ""};
    m.subject = "¿Qué tal?";
    m.body = "line 1\nline 2";
    EXPECT_EQ(platform::mailtoURLString(m),
              "mailto:ana@example.com,b%26c@example.com?cc=x@example.com&subject=%C2%BFQu%C3%A9%20tal%3F"
              "&body=line%201%0D%0Aline%202");
    EXPECT_TRUE(platform::URL::parse(platform::mailtoURLString(m)));
    EXPECT_EQ(platform::mailtoURLString({}), "mailto:");
}

class MailResult : public platform::MailComposeViewControllerDelegate {
public:
    void mailComposeControllerDidFinishWithResult(platform::MailComposeViewController&,
                                                  platform::MailComposeResult r, const platform::Error* e) override {
        results.push_back(r);
        errors.push_back(e != nullptr);
    }
    std::vector<platform::MailComposeResult> results;
    std::vector<bool> errors;
};

TEST_F(ControlsTest, MailComposerHandsTheMessageToTheMailClientAndReportsOnce) {
    auto composer = std::make_shared<platform::MailComposeViewController>();
    auto delegate = std::make_shared<MailResult>();
    composer->setMailComposeDelegate(delegate);
    composer->setToRecipients({"ana@example.com"});
    composer->setSubject("Hola");
    composer->view();
    composer->send();
    composer->cancel();  // already finished
    ASSERT_EQ(delegate->results, (std::vector<platform::MailComposeResult>{platform::MailComposeResult::Sent}));
    ASSERT_EQ(sim().application().openedURLs().size(), 1u);
    EXPECT_EQ(sim().application().openedURLs()[0].absoluteString(), "mailto:ana@example.com?subject=Hola");

    sim().application().setOpenableSchemes({"http"});
    EXPECT_FALSE(platform::MailComposeViewController::canSendMail());
    auto failing = std::make_shared<platform::MailComposeViewController>();
    failing->setMailComposeDelegate(delegate);
    failing->send();
    EXPECT_EQ(delegate->results.back(), platform::MailComposeResult::Failed);
    EXPECT_TRUE(delegate->errors.back());
}

TEST_F(ControlsTest, MailComposerWithoutDelegateTakesItselfAway) {
    auto window = std::make_shared<platform::Window>(Rect(0, 0, 320, 480));
    auto root = std::make_shared<platform::ViewController>();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    auto composer = std::make_shared<platform::MailComposeViewController>();
    root->presentModalViewController(composer, false);
    composer->cancel();
    sim().advance(1);
    EXPECT_EQ(root->modalViewController(), nullptr);
}

class LifeRecorder : public platform::ApplicationDelegate {
public:
    explicit LifeRecorder(std::vector<std::string>& log) : log_(log) {}
    void applicationDidFinishLaunching(platform::Application&) override { log_.push_back("delegate.launched"); }
    void applicationWillResignActive(platform::Application&) override { log_.push_back("delegate.resign"); }
    void applicationDidBecomeActive(platform::Application&) override { log_.push_back("delegate.active"); }
    void applicationDidEnterBackground(platform::Application&) override { log_.push_back("delegate.background"); }
    void applicationWillEnterForeground(platform::Application&) override { log_.push_back("delegate.foreground"); }
    void applicationWillTerminate(platform::Application&) override { log_.push_back("delegate.terminate"); }

private:
    std::vector<std::string>& log_;
};

TEST_F(ControlsTest, ApplicationStatesPostTheirNotificationsInOrder) {
    std::vector<std::string> log;
    auto& center = platform::NotificationCenter::defaultCenter();
    center.addObserver(&log, "", nullptr, [&](const platform::Notification& n) {
        if (n.name.rfind("UIApplication", 0) == 0) log.push_back(n.name.substr(13));
    });
    auto& life = platform::ApplicationLifecycle::shared();
    life.reset();
    life.setDelegate(std::make_shared<LifeRecorder>(log));
    life.setOnScreen(true);  // not launched yet: nothing
    EXPECT_TRUE(log.empty());
    life.finishLaunching();
    life.finishLaunching();
    EXPECT_EQ(life.state(), platform::ApplicationState::Inactive);
    life.setOnScreen(true);
    EXPECT_EQ(life.state(), platform::ApplicationState::Active);
    life.setOnScreen(false);
    EXPECT_EQ(life.state(), platform::ApplicationState::Background);
    life.setOnScreen(false);
    life.setOnScreen(true);
    life.terminate();
    life.terminate();
    life.setOnScreen(false);
    EXPECT_EQ(log, (std::vector<std::string>{
                       "delegate.launched", "DidFinishLaunchingNotification", "delegate.active",
                       "DidBecomeActiveNotification", "delegate.resign", "WillResignActiveNotification",
                       "delegate.background", "DidEnterBackgroundNotification", "delegate.foreground",
                       "WillEnterForegroundNotification", "delegate.active", "DidBecomeActiveNotification",
                       "delegate.terminate", "WillTerminateNotification"}));
    center.removeObserver(&log);
    life.reset();
}

}  // namespace
