// Query strings from ad pages and mail links: any bytes must parse without a
// crash, and every stored pair must be decoded text under a lower-case key.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Utility/ZELNetworkUtilities.h"
#include "platform/URL.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const platform::Dictionary d = ZELNetworkUtilities::dictionaryFromQueryString(text);
    for (const auto& [key, value] : d) {
        const std::string* s = value.asString();
        if (!s || key != platform::toLowerASCII(key) || !platform::isValidUTF8(key) || !platform::isValidUTF8(*s)) {
            std::abort();
        }
    }
    return 0;
}
