// The defaults file as the store finds it on disk (XML, or anything else:
// a binary property list, a torn write, another program's file). Reading
// never crashes; what reads is a dictionary the store can write back and read
// again to the same values; a file that does not read is set aside byte for
// byte and the store starts empty, and a file that reads is left untouched.
//
// Input: the file's bytes.

#include <fstream>
#include <sstream>

#include "FuzzSupport.h"
#include "PlistValue.h"
#include "platform/Files.h"
#include "platform/gtk/FileUserDefaults.h"

namespace {

using platform::gtk::dictionaryFromXml;
using platform::gtk::dictionaryToXml;

std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// NaN is the one value that does not compare equal to itself.
bool hasNaN(const platform::Value& value) {
    if (auto d = value.asDouble()) return std::isnan(*d);
    if (auto a = value.asArray())
        for (const auto& item : *a)
            if (hasNaN(item)) return true;
    if (auto d = value.asDictionary())
        for (const auto& [key, item] : *d)
            if (hasNaN(item)) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path folder = [] {
        auto dir = std::filesystem::path(fuzz::sim().paths().root()) / "defaults";
        std::filesystem::create_directories(dir);
        return dir;
    }();
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    const platform::gtk::PlistReadResult read = dictionaryFromXml(bytes);
    if (read.dictionary) {
        const platform::Value whole(*read.dictionary);
        const std::optional<std::string> written = dictionaryToXml(*read.dictionary);
        FUZZ_CHECK(written);
        const platform::gtk::PlistReadResult again = dictionaryFromXml(*written);
        FUZZ_CHECK(again.dictionary);
        FUZZ_CHECK(hasNaN(whole) || *again.dictionary == *read.dictionary);
    }

    // The same bytes as the store's file, in a folder the last input left empty.
    const std::string path = (folder / "defaults.plist").string();
    FUZZ_CHECK(!platform::writeFileAtomically(path, bytes, {.flushToDisk = false, .modificationTime = std::nullopt}));
    {
        platform::gtk::FileUserDefaults store(path);
        if (read.dictionary) {
            FUZZ_CHECK(hasNaN(platform::Value(*read.dictionary)) ||
                       store.dictionaryRepresentation() == *read.dictionary);
            FUZZ_CHECK(readFile(path) == bytes);
        } else {
            FUZZ_CHECK(store.dictionaryRepresentation().empty());
            FUZZ_CHECK(!std::filesystem::exists(path));
            size_t aside = 0;
            for (const auto& entry : std::filesystem::directory_iterator(folder)) {
                FUZZ_CHECK(entry.path().filename().string().rfind("defaults.plist.corrupt-", 0) == 0);
                FUZZ_CHECK(readFile(entry.path()) == bytes);
                ++aside;
            }
            FUZZ_CHECK(aside == 1);
        }
        // A change is written and read back whole.
        store.setObject(platform::Value(std::string("fuzz")), "NimbraFuzzKey");
        FUZZ_CHECK(store.synchronize());
        const std::optional<std::string> saved = readFile(path);
        FUZZ_CHECK(saved);
        const platform::gtk::PlistReadResult back = dictionaryFromXml(*saved);
        FUZZ_CHECK(back.dictionary);
        FUZZ_CHECK(hasNaN(platform::Value(*back.dictionary)) || *back.dictionary == store.dictionaryRepresentation());
    }
    // Only the file and what was set aside are there: removed one by one,
    // cheaper than making the folder again.
    std::vector<std::filesystem::path> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) left.push_back(entry.path());
    for (const auto& file : left) FUZZ_CHECK(::unlink(file.c_str()) == 0);
    return 0;
}
