#include "platform/MailComposeViewController.h"

#include <algorithm>

#include "platform/Application.h"
#include "platform/Backend.h"
#include "platform/Localization.h"

namespace platform {
namespace {
std::string escapeAddress(const std::string& address) {
    std::string out = percentEncodeUnreserved(address);
    // "@" may stay as it is in an address.
    for (size_t at; (at = out.find("%40")) != std::string::npos;) out.replace(at, 3, "@");
    return out;
}
std::string joinAddresses(const std::vector<std::string>& list) {
    std::string out;
    for (auto& a : list) {
        if (a.empty()) continue;
        if (!out.empty()) out += ",";
        out += escapeAddress(a);
    }
    return out;
}
// Mail wants CRLF line breaks.
std::string crlf(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}
std::string joinPlain(const std::vector<std::string>& list) {
    std::string out;
    for (auto& a : list) out += (out.empty() ? "" : ", ") + a;
    return out;
}
}  // namespace

std::string mailtoURLString(const MailMessage& m) {
    std::string url = "mailto:" + joinAddresses(m.to);
    std::vector<std::pair<std::string, std::string>> fields;
    if (auto cc = joinAddresses(m.cc); !cc.empty()) fields.emplace_back("cc", cc);
    if (auto bcc = joinAddresses(m.bcc); !bcc.empty()) fields.emplace_back("bcc", bcc);
    if (!m.subject.empty()) fields.emplace_back("subject", percentEncodeUnreserved(m.subject));
    if (!m.body.empty()) fields.emplace_back("body", percentEncodeUnreserved(crlf(m.body)));
    for (size_t i = 0; i < fields.size(); ++i) url += (i ? "&" : "?") + fields[i].first + "=" + fields[i].second;
    return url;
}

MailComposeViewController::MailComposeViewController() = default;
MailComposeViewController::~MailComposeViewController() = default;

bool MailComposeViewController::canSendMail() {
    auto url = URL::parse("mailto:someone@example.com");
    return url && Application::shared().canOpenURL(*url);
}

void MailComposeViewController::setToRecipients(std::vector<std::string> to) {
    message_.to = std::move(to);
    refresh();
}
void MailComposeViewController::setCcRecipients(std::vector<std::string> cc) {
    message_.cc = std::move(cc);
    refresh();
}
void MailComposeViewController::setBccRecipients(std::vector<std::string> bcc) {
    message_.bcc = std::move(bcc);
    refresh();
}
void MailComposeViewController::setSubject(std::string subject) {
    message_.subject = std::move(subject);
    refresh();
}
void MailComposeViewController::setMessageBody(std::string body, bool isHTML) {
    message_.body = std::move(body);
    message_.bodyIsHTML = isHTML;
    refresh();
}

void MailComposeViewController::loadView() {
    auto frame = Screen::main().applicationFrame();
    auto root = std::make_shared<View>(Rect(0, 0, frame.width(), frame.height()));
    root->setBackgroundColor(Color::white());
    constexpr double kBar = 44;
    toolbar_ = std::make_shared<Toolbar>(Rect(0, 0, frame.width(), kBar));
    toolbar_->setAutoresizingMask(kAutoresizingFlexibleWidth);
    std::weak_ptr<ViewController> weak = weak_from_this();
    auto call = [weak](void (MailComposeViewController::*fn)()) {
        return [weak, fn] {
            if (auto self = std::dynamic_pointer_cast<MailComposeViewController>(weak.lock())) ((*self).*fn)();
        };
    };
    auto cancel = BarButtonItem::systemItem(BarButtonSystemItem::Cancel, call(&MailComposeViewController::cancel));
    auto send =
        BarButtonItem::withTitle(localized("Send"), BarButtonItemStyle::Done, call(&MailComposeViewController::send));
    // The title takes what the two buttons leave (their words are longer in
    // some languages), never pushing Send off the bar.
    const double room = frame.width() - 2 * Toolbar::kEdgeInset - 4 * Toolbar::kItemSpacing - cancel->naturalWidth() -
                        send->naturalWidth();
    auto title = std::make_shared<Label>(Rect(0, 0, std::clamp(room, 0.0, 150.0), 30));
    title->setFontSize(13);
    title->setText(localized("New Message"));
    title->setBold(true);
    title->setTextColor(Color::white());
    title->setTextAlignment(TextAlignment::Center);
    auto flex = [] { return BarButtonItem::systemItem(BarButtonSystemItem::FlexibleSpace); };
    toolbar_->setItems({cancel, flex(), BarButtonItem::withCustomView(title), flex(), send});
    header_ = std::make_shared<Label>(Rect(10, kBar + 6, frame.width() - 20, 80));
    header_->setNumberOfLines(0);
    header_->setFontSize(14);
    header_->setAutoresizingMask(kAutoresizingFlexibleWidth);
    body_ = std::make_shared<Label>(Rect(10, kBar + 92, frame.width() - 20, 0));
    body_->setNumberOfLines(0);
    body_->setFontSize(14);
    body_->setAutoresizingMask(kAutoresizingFlexibleWidth);
    root->addSubview(toolbar_);
    root->addSubview(header_);
    root->addSubview(body_);
    setView(root);
    refresh();
}

void MailComposeViewController::refresh() {
    if (!header_) return;
    const auto field = [](const char* name, const std::string& value) { return std::string(name) + " " + value; };
    std::string h = field(localized("To:"), joinPlain(message_.to));
    if (!message_.cc.empty()) h += "\n" + field(localized("Cc:"), joinPlain(message_.cc));
    if (!message_.bcc.empty()) h += "\n" + field(localized("Bcc:"), joinPlain(message_.bcc));
    h += "\n" + field(localized("Subject:"), message_.subject);
    header_->setText(h);
    body_->setText(message_.body);
    // Labels centre their text: size the body to its lines so it starts at the top.
    auto lines = double(std::count(message_.body.begin(), message_.body.end(), '\n') + 1);
    auto f = body_->frame();
    body_->setFrame(Rect(f.x(), f.y(), f.width(), std::min(18.0 * lines + 4, 400.0)));
}

void MailComposeViewController::send() {
    auto url = URL::parse(mailtoURLString(message_));
    if (url && Application::shared().openURL(*url)) {
        finish(MailComposeResult::Sent, nullptr);
        return;
    }
    Error error{kMailErrorDomain, 1, "No mail application took the message."};
    finish(MailComposeResult::Failed, &error);
}

void MailComposeViewController::cancel() { finish(MailComposeResult::Cancelled, nullptr); }

void MailComposeViewController::performKeyCommand(KeyCommand command) {
    if (canPerformKeyCommand(command)) cancel();
}

void MailComposeViewController::finish(MailComposeResult result, const Error* error) {
    if (finished_) return;
    finished_ = true;
    auto self = weak_from_this().lock();
    if (auto d = delegate_.lock()) {
        d->mailComposeControllerDidFinishWithResult(*this, result, error);
    } else if (self) {
        // Nobody would take the screen away otherwise.
        dismissModalViewControllerAnimated(true);
    }
}

}  // namespace platform
