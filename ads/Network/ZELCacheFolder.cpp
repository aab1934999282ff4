#include "Network/ZELCacheFolder.h"

#include <openssl/evp.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "platform/Files.h"
#include "platform/Services.h"

namespace {

constexpr char kRootName[] = "nimbra";
// Folders of the caches directory that the old layout never made.
constexpr const char* kNeverOldLayout[] = {kRootName, "webkit", "webkit-outside"};

const char* folderName(ZELCachePurpose purpose) {
    switch (purpose) {
    case ZELCachePurpose::SupportScript: return "script";
    case ZELCachePurpose::AdMarkup: return "markup";
    case ZELCachePurpose::Tracker: return nullptr;
    }
    return nullptr;
}

constexpr ZELCachePurpose kStoringPurposes[] = {ZELCachePurpose::SupportScript, ZELCachePurpose::AdMarkup};

bool isLowerHex(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool isCurrentName(std::string_view name) { return name.size() == 64 && isLowerHex(name); }

// The layout before this one: <caches>/<host>/<32-bit hash in %x>, and the
// temporary files of its atomic writes (<name>.XXXXXX).
bool isOldLayoutName(std::string_view name) {
    const size_t dot = name.find('.');
    const std::string_view hash = name.substr(0, dot);
    if (hash.empty() || hash.size() > 8 || !isLowerHex(hash)) return false;
    return dot == std::string_view::npos || name.size() - dot == 7;
}

platform::FileSystem& files() { return platform::FileSystem::current(); }

bool isFolder(const platform::FolderEntry& entry) { return entry.info.kind == platform::FileKind::Folder; }

// Each file of the old layout went with a host folder holding nothing else;
// a folder holding anything else is not ours to empty.
void removeOldLayout(const std::string& caches) {
    for (const auto& folder : files().folderEntries(caches)) {
        if (!isFolder(folder)) continue;
        if (std::find(std::begin(kNeverOldLayout), std::end(kNeverOldLayout), folder.name) != std::end(kNeverOldLayout))
            continue;
        const std::string path = caches + "/" + folder.name;
        const auto entries = files().folderEntries(path);
        const bool old = !entries.empty() && std::all_of(entries.begin(), entries.end(), [](const auto& f) {
            return f.info.kind == platform::FileKind::Regular && isOldLayoutName(f.name);
        });
        if (!old) continue;
        for (const auto& file : entries) files().removeFile(path + "/" + file.name);
        files().removeFolder(path);
    }
}

}  // namespace

std::optional<std::string> ZELCacheFolder::root() {
    auto caches = platform::Paths::current().cachesDirectory();
    if (!caches || caches->empty()) return std::nullopt;
    return *caches + "/" + kRootName;
}

std::string ZELCacheFolder::fileName(const platform::URL& url) {
    const std::string& text = url.absoluteString();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr) != 1) return std::string();
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string name;
    for (unsigned int i = 0; i < length; ++i) {
        name += kDigits[digest[i] >> 4];
        name += kDigits[digest[i] & 0x0F];
    }
    return name;
}

std::optional<std::string> ZELCacheFolder::pathFor(ZELCachePurpose purpose, const platform::URL& url) {
    const char* folder = folderName(purpose);
    auto base = root();
    const std::string name = fileName(url);
    if (!folder || !base || name.empty()) return std::nullopt;
    return *base + "/" + folder + "/" + name;
}

std::optional<platform::Error> ZELCacheFolder::makeFolder(ZELCachePurpose purpose) {
    const char* folder = folderName(purpose);
    auto base = root();
    if (!folder || !base)
        return platform::Error{platform::kFileErrorDomain, platform::kFileNoSuchFileError, "no caches directory"};
    return files().makePrivateFolders(*base + "/" + folder);
}

void ZELCacheFolder::prepare() {
    auto base = root();
    if (!base) return;
    files().makePrivate(*base);
    for (ZELCachePurpose purpose : kStoringPurposes) {
        const std::string folder = *base + "/" + folderName(purpose);
        files().makePrivate(folder);
        for (const auto& entry : files().folderEntries(folder))
            if (!isFolder(entry) && !isCurrentName(entry.name)) files().removeFile(folder + "/" + entry.name);
    }
    removeOldLayout(*platform::Paths::current().cachesDirectory());
    trim();
}

void ZELCacheFolder::trim(const std::string& keep, uint64_t limit) {
    auto base = root();
    if (!base) return;
    struct File {
        std::string path;
        int64_t stored;
        uint64_t size;
    };
    std::vector<File> stored;
    uint64_t total = 0;
    for (ZELCachePurpose purpose : kStoringPurposes) {
        const std::string folder = *base + "/" + folderName(purpose);
        for (const auto& entry : files().folderEntries(folder)) {
            if (entry.info.kind != platform::FileKind::Regular) continue;
            stored.push_back({folder + "/" + entry.name, entry.info.changeTimeNanoseconds, entry.info.size});
            total += entry.info.size;
        }
    }
    if (total <= limit) return;
    std::sort(stored.begin(), stored.end(), [](const File& a, const File& b) {
        return a.stored != b.stored ? a.stored < b.stored : a.path < b.path;
    });
    for (const File& file : stored) {
        if (total <= limit) break;
        if (file.path == keep) continue;
        if (files().removeFile(file.path)) total -= file.size;
    }
}
