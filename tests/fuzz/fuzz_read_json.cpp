// JSON text from outside: reading never crashes or throws, and what is read
// writes back to text that reads to the same dictionary.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Utility/ZELMacros.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<platform::Dictionary> d = ZELMacros::readJson(text);
    if (!d) {
        return 0;
    }
    const std::optional<std::string> written = ZELMacros::jsonify(platform::Value(*d));
    if (!written || written->empty()) {
        std::abort();
    }
    const std::optional<platform::Dictionary> again = ZELMacros::readJson(*written);
    if (!again || *again != *d) {
        std::abort();
    }
    return 0;
}
