// JSON text from outside: reading never crashes or throws, and what is read
// writes back to text that reads to the same dictionary.
#include "FuzzSupport.h"
#include "Utility/ZELMacros.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<platform::Dictionary> d =
        ZELMacros::readJson(std::string(reinterpret_cast<const char*>(data), size));
    if (!d) return 0;
    const std::optional<std::string> written = ZELMacros::jsonify(platform::Value(*d));
    FUZZ_CHECK(written && !written->empty());
    const std::optional<platform::Dictionary> again = ZELMacros::readJson(*written);
    FUZZ_CHECK(again && *again == *d);
    return 0;
}
