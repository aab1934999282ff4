// Mail links an ad page may navigate to: the message read from one has one
// recipient, address lists without empty or comma-holding pieces, UTF-8 text,
// and the mailto URL the composer writes for it reads back to the same message.
//
// Input: the URL text; one that is not a mail link is tried after "mailto:".

#include "FuzzSupport.h"
#include "Opener/ZELOpener.h"
#include "platform/MailComposeViewController.h"

namespace {

// The composer writes line breaks as CRLF: none is left alone.
bool linesEndInCRLF(const std::string& text) {
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
        if (at == 0 || text[at - 1] != '\r') return false;
    return true;
}

void checkList(const std::vector<std::string>& list) {
    for (const auto& address : list) {
        FUZZ_CHECK(!address.empty() && address.find(',') == std::string::npos);
        FUZZ_CHECK(platform::isValidUTF8(address));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::optional<platform::URL> url = platform::URL::parse(text);
    if (!url || platform::toLowerASCII(url->scheme()) != "mailto") url = platform::URL::parse("mailto:" + text);
    if (!url || platform::toLowerASCII(url->scheme()) != "mailto") return 0;

    const platform::MailMessage message = ZELOpener::mailMessageFromURL(*url);
    FUZZ_CHECK(message.to.size() == 1);
    checkList(message.cc);
    checkList(message.bcc);
    FUZZ_CHECK(platform::isValidUTF8(message.to[0]) && platform::isValidUTF8(message.subject) &&
               platform::isValidUTF8(message.body));

    const std::string written = platform::mailtoURLString(message);
    const std::optional<platform::URL> writtenURL = platform::URL::parse(written);
    FUZZ_CHECK(writtenURL);
    const platform::MailMessage back = ZELOpener::mailMessageFromURL(*writtenURL);
    FUZZ_CHECK(back.to == message.to);
    FUZZ_CHECK(back.cc == message.cc && back.bcc == message.bcc);
    FUZZ_CHECK(back.subject == message.subject);
    if (message.body.find('\n') == std::string::npos) FUZZ_CHECK(back.body == message.body);
    else FUZZ_CHECK(linesEndInCRLF(back.body));
    // Once written, a message stays the same through every further round.
    FUZZ_CHECK(platform::mailtoURLString(back) == written);
    return 0;
}
