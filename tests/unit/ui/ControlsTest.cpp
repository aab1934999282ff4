// Images from damaged files, the toolbar's layout and its buttons across a
// refresh, and the mail composer's mailto URL. Buttons, scroll views and the
// application's life are reached by the application and end-to-end tests.
#include "platform/ActivityIndicatorView.h"
#include "platform/Button.h"
#include "platform/Image.h"
#include "platform/MailComposeViewController.h"
#include "platform/Toolbar.h"
#include "platform/ViewController.h"
#include "platform/Window.h"
#include "unit/support/SimTest.h"

namespace {

using namespace platform;

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

}  // namespace
