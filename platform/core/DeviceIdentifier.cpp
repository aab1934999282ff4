#include "platform/DeviceIdentifier.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <cstdint>

namespace platform {
namespace {

using Id128 = std::array<unsigned char, 16>;

std::string hex(const Id128& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<Id128> parseId128(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n')) text.remove_suffix(1);
    if (text.size() != 32) return std::nullopt;
    Id128 id{};
    bool zero = true;
    for (size_t i = 0; i < id.size(); ++i) {
        const int high = hexValue(text[2 * i]), low = hexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        id[i] = static_cast<unsigned char>(high << 4 | low);
        zero = zero && id[i] == 0;
    }
    if (zero) return std::nullopt;
    return id;
}

Id128 applicationId(std::string_view name) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    Id128 id{};
    if (EVP_Digest(name.data(), name.size(), digest, &length, EVP_sha256(), nullptr) == 1 && length >= id.size())
        std::copy(digest, digest + id.size(), id.begin());
    return id;
}

}  // namespace

std::string applicationIdentifier128(std::string_view applicationName) { return hex(applicationId(applicationName)); }

std::optional<std::string> applicationSpecificMachineID(std::string_view machineID, std::string_view applicationName) {
    const auto machine = parseId128(machineID);
    if (!machine) return std::nullopt;
    const Id128 application = applicationId(applicationName);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HMAC(EVP_sha256(), machine->data(), static_cast<int>(machine->size()), application.data(), application.size(),
              mac, &length) ||
        length < 16)
        return std::nullopt;
    Id128 id{};
    std::copy(mac, mac + id.size(), id.begin());
    // A random (version 4, variant 1) UUID, as systemd makes it.
    id[6] = static_cast<unsigned char>((id[6] & 0x0F) | 0x40);
    id[8] = static_cast<unsigned char>((id[8] & 0x3F) | 0x80);
    return hex(id);
}

}  // namespace platform
