// The toolbar's buttons across a refresh, and the mail composer's mailto URL. Images, buttons, scroll views and the
// application's life are reached by the component's and end-to-end tests.
#include "platform/ActivityIndicatorView.h"
#include "platform/Button.h"
#include "platform/MailComposeViewController.h"
#include "platform/Toolbar.h"
#include "unit/support/SimTest.h"

namespace {

using namespace platform;

using ControlsTest = SimTest;

// A refresh keeps the buttons of the items that stay: a tap under way on one
// of them is not lost. (Where the bar puts them is the browser taps' concern.)
TEST_F(ControlsTest, ToolbarKeepsTheButtonsOfItemsThatStay) {
    auto toolbar = std::make_shared<Toolbar>(Rect(0, 436, 320, 44));
    int backs = 0;
    auto back = BarButtonItem::withTitle("<", BarButtonItemStyle::Plain, [&] { ++backs; });
    auto spinner = std::make_shared<ActivityIndicatorView>(ActivityIndicatorStyle::White);
    auto done = BarButtonItem::systemItem(BarButtonSystemItem::Done);
    toolbar->setItems({back, BarButtonItem::withCustomView(spinner), done});
    auto backView = std::dynamic_pointer_cast<Button>(back->representedView());
    ASSERT_TRUE(backView);
    const auto doneView = done->representedView();
    toolbar->setItems({back, done});
    EXPECT_EQ(back->representedView(), backView);
    toolbar->setItems({done, BarButtonItem::withCustomView(spinner), back});
    EXPECT_EQ(toolbar->subviews(), (std::vector<std::shared_ptr<View>>{doneView, spinner, backView}))
        << "read in the order they stand";
    toolbar->setItems({back, done});
    EXPECT_EQ(done->representedView(), doneView);
    EXPECT_EQ(spinner->superview(), nullptr) << "replaced items leave the bar";
    backView->sendActionsForControlEvents(kControlEventTouchUpInside);
    EXPECT_EQ(backs, 1) << "the kept button still acts for its item";
}

TEST_F(ControlsTest, MailComposerWritesTheMailtoURLForTheMailClient) {
    MailMessage m{{"ana@example.com", "b&c@example.com"}, {"x@example.com", ""}, {}, "¿Qué tal?", "line 1\nline 2"};
    EXPECT_EQ(mailtoURLString(m),
              "mailto:ana@example.com,b%26c@example.com?cc=x@example.com&subject=%C2%BFQu%C3%A9%20tal%3F"
              "&body=line%201%0D%0Aline%202");
}

}  // namespace
