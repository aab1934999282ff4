#pragma once
// A mail compose screen. Send hands the message to the desktop's mail client
// as a mailto: URL (the user sends it from there); Cancel drops it. The
// delegate hears the result and dismisses the screen.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Http.h"
#include "platform/Label.h"
#include "platform/Toolbar.h"
#include "platform/URL.h"
#include "platform/ViewController.h"

namespace platform {

// Numbered as the platform numbers them.
enum class MailComposeResult : int { Cancelled = 0, Saved = 1, Sent = 2, Failed = 3 };

class MailComposeViewController;

class MailComposeViewControllerDelegate {
public:
    virtual ~MailComposeViewControllerDelegate() = default;
    virtual void mailComposeControllerDidFinishWithResult(MailComposeViewController& controller,
                                                          MailComposeResult result, const Error* error) = 0;
};

struct MailMessage {
    std::vector<std::string> to, cc, bcc;
    std::string subject;
    std::string body;
    bool bodyIsHTML = false;
};

// The mailto: URL of a message (RFC 6068); recipients are written as given,
// with the characters a URL cannot hold escaped.
std::string mailtoURLString(const MailMessage& message);

inline constexpr const char kMailErrorDomain[] = "MFMailComposeErrorDomain";

class MailComposeViewController : public ViewController {
public:
    MailComposeViewController();
    ~MailComposeViewController() override;

    // Whether a mail client would take a message.
    static bool canSendMail();

    void setMailComposeDelegate(std::weak_ptr<MailComposeViewControllerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    std::shared_ptr<MailComposeViewControllerDelegate> mailComposeDelegate() const { return delegate_.lock(); }

    void setToRecipients(std::vector<std::string> to);
    void setCcRecipients(std::vector<std::string> cc);
    void setBccRecipients(std::vector<std::string> bcc);
    void setSubject(std::string subject);
    void setMessageBody(std::string body, bool isHTML);
    const MailMessage& message() const { return message_; }

    // The compose screen's buttons.
    void send();
    void cancel();

    void loadView() override;
    bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation) override { return true; }
    // Escape cancels.
    bool canPerformKeyCommand(KeyCommand command) const override { return command == KeyCommand::Cancel && !finished_; }
    void performKeyCommand(KeyCommand command) override;

private:
    void finish(MailComposeResult result, const Error* error);
    void refresh();
    std::weak_ptr<MailComposeViewControllerDelegate> delegate_;
    MailMessage message_;
    bool finished_ = false;
    std::shared_ptr<Toolbar> toolbar_;
    std::shared_ptr<Label> header_;
    std::shared_ptr<Label> body_;
};

}  // namespace platform
