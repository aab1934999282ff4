// Decoding of hostile text with every alphabet, and the round trips that must
// hold whenever decoding succeeds.
//
// Input: byte 0 picks the alphabet, byte 1 the switches, the rest is the text.

#include "FuzzSupport.h"
#include "ThirdParty/ZEL_HRBStringEncoding.h"

namespace {

std::shared_ptr<ZEL_HRBStringEncoding> pick(uint8_t which, std::string_view& rest) {
    switch (which % 10) {
    case 0: return ZEL_HRBStringEncoding::rfc4648Base64StringEncoding();
    case 1: return ZEL_HRBStringEncoding::rfc4648Base64WebsafeStringEncoding();
    case 2: return ZEL_HRBStringEncoding::rfc4648Base32StringEncoding();
    case 3: return ZEL_HRBStringEncoding::rfc4648Base32HexStringEncoding();
    case 4: return ZEL_HRBStringEncoding::crockfordBase32StringEncoding();
    case 5: return ZEL_HRBStringEncoding::hexStringEncoding();
    case 6: return ZEL_HRBStringEncoding::binaryStringEncoding();
    default: {
        // An alphabet from the input itself: its size from the selector.
        const size_t size = size_t{2} << ((which >> 4) % 7);
        const std::string_view alphabet = rest.substr(0, size);
        rest.remove_prefix(alphabet.size());
        return ZEL_HRBStringEncoding::stringEncodingWithString(alphabet);
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t switches = data[1];
    std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);

    auto encoding = pick(data[0], text);
    if (!encoding) return 0;
    if (switches & 1) encoding->ignoreCharacters(" \n\t");
    if (switches & 2) encoding->setPaddingChar('.');
    if (switches & 4) encoding->addDecodeSynonyms(text.substr(0, 8));
    encoding->setDoPad(switches & 8);

    const auto decoded = encoding->decode(text);
    (void)encoding->stringByDecoding(text);
    if (!decoded) return 0;
    FUZZ_CHECK(decoded->size() <= text.size() * static_cast<size_t>(encoding->shift()) / 8);

    // What decoded must come back from its own encoding, padded or not.
    FUZZ_CHECK(encoding->decode(encoding->encode(*decoded)) == decoded);
    encoding->setDoPad(!encoding->doPad());
    FUZZ_CHECK(encoding->decode(encoding->encode(*decoded)) == decoded);
    return 0;
}
