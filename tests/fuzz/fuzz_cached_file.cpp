// What a cached file keeps from an answer: the body, and its Last-Modified
// date as the file's time, which comes back as the next If-Modified-Since.
// Whatever the headers say, a fetch never crashes; an answer that is cut
// short, or announced too long, never replaces the file already there; a
// stored file holds the body and the announced date to the second (a date
// past the clock as the clock's time); every HTTP date that reads formats
// back to text that reads to the same instant.
//
// Input: lines for Last-Modified, Content-Length and Content-Encoding (an
// empty line leaves the header out), then the body.

#include <sys/stat.h>

#include <limits>

#include "FuzzSupport.h"
#include "platform/Date.h"
#include "platform/Files.h"

namespace {

constexpr char kHTTPDate[] = "EEE, dd MMM yyyy HH:mm:ss";
constexpr size_t kMaximumBody = 4096;
constexpr char kOldContent[] = "the copy already cached";

// The date the file keeps for a Last-Modified value, as the cache reads it.
std::optional<platform::Date> announcedDate(const std::string& value) {
    return platform::parseDate(value.substr(0, value.find("GMT")), kHTTPDate, platform::TimeZone::GMT);
}

void checkDate(const std::string& value) {
    const std::optional<platform::Date> date = announcedDate(value);
    if (!date) return;
    FUZZ_CHECK(std::isfinite(date->unixTime()) && date->unixTime() == std::floor(date->unixTime()));
    const std::string text = platform::formatDate(*date, kHTTPDate, platform::TimeZone::GMT);
    FUZZ_CHECK(platform::parseDate(text, kHTTPDate, platform::TimeZone::GMT) == date);
    FUZZ_CHECK(platform::parseDate(text + " GMT", kHTTPDate + std::string(" 'GMT'"), platform::TimeZone::GMT) == date);
}

// Only plain digits, which every reading of the header takes as the length.
std::optional<uint64_t> plainLength(const std::string& text) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoull(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const platform::URL kURL = *platform::URL::parse("http://127.0.0.1:8090/ruma/sdk-core-v40.js");
    fuzz::sim();
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view rest;
    const auto split = fuzz::splitLines(input, 3, &rest);
    const std::string lines[3] = {split[0].value_or(""), split[1].value_or(""), split[2].value_or("")}, body(rest);
    const std::string& lastModified = lines[0];
    checkDate(lastModified);

    platform::HeaderMap headers;
    if (!lines[0].empty()) headers["Last-Modified"] = lines[0];
    if (!lines[1].empty()) headers["Content-Length"] = lines[1];
    if (!lines[2].empty()) headers["Content-Encoding"] = lines[2];
    fuzz::sim().http().route(kURL.absoluteString(), platform::sim::SimResponse::ok(body, headers));

    auto delegate = std::make_shared<fuzz::FetchEnd>();
    ZELCachedFile file(delegate, kURL, ZELCachePurpose::SupportScript);
    file.setFlushesToDisk(false);
    file.setMaximumBodySize(kMaximumBody);
    const std::string path = *file.filePath();
    FUZZ_CHECK(!ZELCacheFolder::makeFolder(ZELCachePurpose::SupportScript));
    FUZZ_CHECK(
        !platform::writeFileAtomically(path, kOldContent, {.flushToDisk = false, .modificationTime = std::nullopt}));

    file.validate();
    fuzz::sim().runUntilIdle();
    FUZZ_CHECK(delegate->ended != delegate->failed);

    const std::optional<uint64_t> length = plainLength(lines[1]);
    const bool coded = !lines[2].empty() && platform::toLowerASCII(lines[2]) != "identity";
    if (length && (*length > kMaximumBody || (!coded && body.size() < *length))) FUZZ_CHECK(delegate->failed);
    if (body.size() > kMaximumBody) FUZZ_CHECK(delegate->failed);

    const std::optional<std::string> content = file.content();
    if (delegate->failed) {
        FUZZ_CHECK(content == std::string(kOldContent));
    } else {
        FUZZ_CHECK(file.hasContent());
        FUZZ_CHECK(content == body || (!content && !platform::isValidUTF8(body)));
        struct stat st {};
        FUZZ_CHECK(::stat(path.c_str(), &st) == 0);
        if (const auto date = announcedDate(lastModified);
            date && date->unixTime() >= static_cast<double>(std::numeric_limits<time_t>::min()) &&
            date->unixTime() <= static_cast<double>(std::numeric_limits<time_t>::max())) {
            const double now = std::floor(platform::Clock::current().unixTime());
            FUZZ_CHECK(static_cast<double>(st.st_mtim.tv_sec) == std::min(date->unixTime(), now));
        }
        // What the next fetch sends as If-Modified-Since reads back to the file's time.
        const std::optional<std::string> since = file.fileModificationDate();
        FUZZ_CHECK(since);
        const auto sent = platform::parseDate(*since, kHTTPDate, platform::TimeZone::GMT);
        FUZZ_CHECK(sent && sent->unixTime() == static_cast<double>(st.st_mtim.tv_sec));
    }
    file.invalidate();
    // The route holds this input's headers and body: drop it now, not when
    // the next input replaces it, so that each input frees what it allocated
    // and libFuzzer does not re-run it to look for a leak.
    fuzz::sim().http().removeRoute(kURL.absoluteString());
    fuzz::settle();
    return 0;
}
