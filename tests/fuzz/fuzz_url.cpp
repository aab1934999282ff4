// URL texts from pages, headers and messages: parsing keeps the text as it
// was, its parts are where the text puts them, and resolution against a base
// gives an absolute URL that resolves to itself again.
//
// Input: a base, a line end, a reference (without a line end the whole input
// is both). The reference is also taken as a file path.

#include "FuzzSupport.h"
#include "platform/URL.h"

namespace {

void checkParts(const platform::URL& url, std::string_view text) {
    FUZZ_CHECK(url.absoluteString() == text);
    const std::optional<platform::URL> again = platform::URL::parse(url.absoluteString());
    FUZZ_CHECK(again && *again == url && again->rawPath() == url.rawPath() && again->host() == url.host());

    const std::string scheme = url.scheme();
    if (!scheme.empty()) FUZZ_CHECK(text.substr(0, scheme.size() + 1) == scheme + ":");
    const std::string raw = url.rawPath();
    FUZZ_CHECK(raw.find_first_of("?#") == std::string::npos && text.find(raw) != std::string_view::npos);
    if (auto fragment = url.fragment()) {
        FUZZ_CHECK(fragment->find('#') == std::string::npos);
        FUZZ_CHECK(text.size() > fragment->size() &&
                   text.substr(text.size() - fragment->size() - 1) == "#" + *fragment);
    }
    if (auto query = url.query()) {
        FUZZ_CHECK(query->find('#') == std::string::npos && text.find("?" + *query) != std::string_view::npos);
    }
    if (auto port = url.port()) FUZZ_CHECK(*port >= 0 && *port <= 65535);
    FUZZ_CHECK(url.host().find('/') == std::string::npos);
    const std::string path = url.path();
    FUZZ_CHECK(path == raw || platform::isValidUTF8(path));
    (void)url.filePath();
}

// No "." or ".." segment survives resolution (a leading "/." may stand
// before "//" so that the path is not read as an authority).
bool hasDotSegment(std::string path) {
    if (path.rfind("/.//", 0) == 0) path.erase(0, 2);
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string_view segment = std::string_view(path).substr(start, end - start);
        if (segment == "." || segment == "..") return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t newline = input.find('\n');
    const std::string_view baseText = input.substr(0, newline);
    const std::string_view reference = newline == std::string_view::npos ? input : input.substr(newline + 1);

    const std::optional<platform::URL> base = platform::URL::parse(baseText);
    if (base) checkParts(*base, baseText);
    const std::optional<platform::URL> ref = platform::URL::parse(reference);
    if (ref) checkParts(*ref, reference);

    if (base) {
        const std::optional<platform::URL> resolved = base->resolve(reference);
        if (resolved) {
            FUZZ_CHECK(ref);
            FUZZ_CHECK(!resolved->scheme().empty());
            FUZZ_CHECK(resolved->fragment() == ref->fragment());
            if (!ref->scheme().empty()) FUZZ_CHECK(resolved->scheme() == ref->scheme());
            else FUZZ_CHECK(resolved->scheme() == base->scheme());
            // A reference without a path keeps the base's path as it is, and a
            // relative base gives an absolute reference back untouched; every
            // other result is normalized, so it resolves to itself.
            if (!base->scheme().empty() &&
                (!ref->rawPath().empty() || !ref->scheme().empty() || reference.substr(0, 2) == "//")) {
                FUZZ_CHECK(!hasDotSegment(resolved->rawPath()));
                const std::optional<platform::URL> twice = base->resolve(resolved->absoluteString());
                FUZZ_CHECK(twice && *twice == *resolved);
            }
        } else if (ref) {
            // A reference that parsed resolves against an absolute base.
            FUZZ_CHECK(base->scheme().empty());
        }
    }

    // A file path always makes a file URL that gives the path back.
    const std::string path(reference);
    const platform::URL file = platform::URL::fileURL(path);
    FUZZ_CHECK(file.isFileURL());
    if (!path.empty() && path[0] == '/' && platform::isValidUTF8(path)) {
        std::string expected = path;
        while (expected.size() > 1 && expected.back() == '/') expected.pop_back();
        FUZZ_CHECK(file.filePath() == expected);
    }
    return 0;
}
