// Base64 of 1 MiB, our encoder against OpenSSL's EVP_EncodeBlock and
// EVP_DecodeBlock, measured side by side in one run. Prints the median and
// best throughput of each and the ratios (ours / OpenSSL).

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "ThirdParty/ZEL_HRBStringEncoding.h"

namespace {

constexpr size_t kInputSize = 1 << 20;
constexpr int kRounds = 31;
constexpr int kCallsPerRound = 8;

struct Figures {
    double median = 0;  // MiB/s
    double best = 0;
};

// Rounds of the two contenders alternate so that both see the same machine load.
std::pair<Figures, Figures> race(const std::function<size_t()>& ours, const std::function<size_t()>& theirs,
                                 size_t& sink) {
    std::vector<double> a, b;
    auto timeRound = [&](const std::function<size_t()>& f) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kCallsPerRound; ++i) sink += f();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return kCallsPerRound * (static_cast<double>(kInputSize) / (1 << 20)) / seconds;
    };
    timeRound(ours);
    timeRound(theirs);
    for (int r = 0; r < kRounds; ++r) {
        a.push_back(timeRound(ours));
        b.push_back(timeRound(theirs));
    }
    auto figures = [](std::vector<double>& v) {
        std::sort(v.begin(), v.end());
        return Figures{v[v.size() / 2], v.back()};
    };
    return {figures(a), figures(b)};
}

void report(const char* what, const Figures& ours, const Figures& theirs) {
    std::printf("%-7s ours %8.1f MiB/s (best %8.1f)   OpenSSL %8.1f MiB/s (best %8.1f)   ratio %.2fx (best %.2fx)\n",
                what, ours.median, ours.best, theirs.median, theirs.best, ours.median / theirs.median,
                ours.best / theirs.best);
}

}  // namespace

int main() {
    std::mt19937 rng(2026);
    std::string input(kInputSize, '\0');
    for (char& c : input) c = static_cast<char>(rng() & 0xff);

    auto encoding = ZEL_HRBStringEncoding::rfc4648Base64StringEncoding();
    const std::string text = encoding->encode(input);

    std::vector<unsigned char> buffer(text.size() + 4);
    const int opensslLength = EVP_EncodeBlock(buffer.data(), reinterpret_cast<const unsigned char*>(input.data()),
                                              static_cast<int>(input.size()));
    if (std::string(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(opensslLength)) != text ||
        encoding->decode(text) != input) {
        std::fprintf(stderr, "base64: our encoder and OpenSSL disagree\n");
        return 1;
    }

    size_t sink = 0;
    const auto [encodeOurs, encodeTheirs] = race(
        [&] { return encoding->encode(input).size(); },
        [&] {
            return static_cast<size_t>(EVP_EncodeBlock(
                buffer.data(), reinterpret_cast<const unsigned char*>(input.data()), static_cast<int>(input.size())));
        },
        sink);
    const auto [decodeOurs, decodeTheirs] = race(
        [&] { return encoding->decode(text)->size(); },
        [&] {
            return static_cast<size_t>(EVP_DecodeBlock(
                buffer.data(), reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size())));
        },
        sink);

    std::printf("Base64 of %zu bytes, %d rounds of %d calls, throughput in MiB of binary data\n", kInputSize, kRounds,
                kCallsPerRound);
    report("encode", encodeOurs, encodeTheirs);
    report("decode", decodeOurs, decodeTheirs);
    std::printf("(checksum %zu)\n", sink);
    return 0;
}
