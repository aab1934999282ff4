// Query strings from ad pages and mail links: any bytes must parse without a
// crash, and every stored pair must be decoded text under a lower-case key.
#include "FuzzSupport.h"
#include "Utility/ZELNetworkUtilities.h"
#include "platform/URL.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const auto& [key, value] : ZELNetworkUtilities::dictionaryFromQueryString(text)) {
        const std::string* s = value.asString();
        FUZZ_CHECK(s && key == platform::toLowerASCII(key) && platform::isValidUTF8(key) && platform::isValidUTF8(*s));
    }
    return 0;
}
