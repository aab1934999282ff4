#include "Network/ZELCacheFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
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
    return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
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

struct Entry {
    std::string name;
    struct stat st;
};

// The entries of a folder but "." and "..", not following links.
std::vector<Entry> entriesOf(const std::string& folder) {
    std::vector<Entry> entries;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return entries;
    while (const dirent* item = ::readdir(dir.get())) {
        const std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        Entry entry{name, {}};
        if (::fstatat(::dirfd(dir.get()), item->d_name, &entry.st, AT_SYMLINK_NOFOLLOW) == 0) entries.push_back(entry);
    }
    return entries;
}

// Each file of the old layout went with a host folder holding nothing else;
// a folder holding anything else is not ours to empty.
void removeOldLayout(const std::string& caches) {
    for (const Entry& folder : entriesOf(caches)) {
        if (!S_ISDIR(folder.st.st_mode)) continue;
        if (std::find(std::begin(kNeverOldLayout), std::end(kNeverOldLayout), folder.name) != std::end(kNeverOldLayout))
            continue;
        const std::string path = caches + "/" + folder.name;
        const auto files = entriesOf(path);
        const bool old = !files.empty() && std::all_of(files.begin(), files.end(), [](const Entry& f) {
            return S_ISREG(f.st.st_mode) && isOldLayoutName(f.name);
        });
        if (!old) continue;
        for (const Entry& file : files) ::unlink((path + "/" + file.name).c_str());
        ::rmdir(path.c_str());
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
    return platform::makePrivateDirectories(*base + "/" + folder);
}

void ZELCacheFolder::prepare() {
    auto base = root();
    if (!base) return;
    ::chmod(base->c_str(), 0700);
    for (ZELCachePurpose purpose : kStoringPurposes) {
        const std::string folder = *base + "/" + folderName(purpose);
        ::chmod(folder.c_str(), 0700);
        for (const Entry& entry : entriesOf(folder))
            if (!S_ISDIR(entry.st.st_mode) && !isCurrentName(entry.name)) ::unlink((folder + "/" + entry.name).c_str());
    }
    removeOldLayout(*platform::Paths::current().cachesDirectory());
    trim();
}

void ZELCacheFolder::trim(const std::string& keep, uint64_t limit) {
    auto base = root();
    if (!base) return;
    struct File {
        std::string path;
        struct timespec stored;
        uint64_t size;
    };
    std::vector<File> files;
    uint64_t total = 0;
    for (ZELCachePurpose purpose : kStoringPurposes) {
        const std::string folder = *base + "/" + folderName(purpose);
        for (const Entry& entry : entriesOf(folder)) {
            if (!S_ISREG(entry.st.st_mode)) continue;
            const auto size = static_cast<uint64_t>(entry.st.st_size);
            files.push_back({folder + "/" + entry.name, entry.st.st_ctim, size});
            total += size;
        }
    }
    if (total <= limit) return;
    std::sort(files.begin(), files.end(), [](const File& a, const File& b) {
        if (a.stored.tv_sec != b.stored.tv_sec) return a.stored.tv_sec < b.stored.tv_sec;
        if (a.stored.tv_nsec != b.stored.tv_nsec) return a.stored.tv_nsec < b.stored.tv_nsec;
        return a.path < b.path;
    });
    for (const File& file : files) {
        if (total <= limit) break;
        if (file.path == keep) continue;
        if (::unlink(file.path.c_str()) == 0 || errno == ENOENT) total -= file.size;
    }
}
