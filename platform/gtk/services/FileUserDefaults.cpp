#include "platform/gtk/FileUserDefaults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

#include "FileUtil.h"
#include "PlistValue.h"
#include "platform/Backend.h"
#include "platform/Files.h"
#include "platform/MainThread.h"
#include "platform/RunLoop.h"

namespace platform::gtk {
namespace {

// A defaults file larger than this is not ours.
constexpr size_t kMaximumFileSize = 64u << 20;
constexpr double kAutosaveDelaySeconds = 1.0;

const char* describe(PlistReadError error) {
    switch (error) {
    case PlistReadError::NotAPropertyList: return "is damaged or truncated (not a property list)";
    case PlistReadError::NotADictionary: return "does not hold a dictionary";
    case PlistReadError::UnsupportedContent: return "holds values a defaults store cannot hold";
    }
    return "is unreadable";
}

}  // namespace

FileUserDefaults::FileUserDefaults(std::string path) : path_(std::move(path)) { load(); }

FileUserDefaults::~FileUserDefaults() {
    if (dirty_) write();
}

void FileUserDefaults::load() {
    std::string reason;
    std::string contents;
    switch (readWholeFile(path_, kMaximumFileSize, contents, reason)) {
    case ReadResult::Missing: return;
    case ReadResult::Failed: break;
    case ReadResult::Ok: {
        auto parsed = dictionaryFromXml(contents);
        if (parsed.dictionary) {
            values_ = std::move(*parsed.dictionary);
            return;
        }
        reason = describe(parsed.error);
        break;
    }
    }
    // Keep the damaged file for whoever wants to look at it, and never write
    // over it: either it moves aside, or this store stays in memory only.
    std::string error;
    auto asidePath =
        setFileAside(path_, ".corrupt-" + std::to_string(static_cast<long long>(std::time(nullptr))), error);
    if (asidePath) {
        log("defaults: " + path_ + " " + reason + "; set aside as " + *asidePath + ", starting empty");
    } else {
        writeBlocked_ = true;
        log("defaults: " + path_ + " " + reason + " and could not be set aside (" + error +
            "); starting empty, changes will not be saved");
    }
}

std::optional<Value> FileUserDefaults::objectForKey(const std::string& key) const {
    checkMainThread("the defaults store");
    auto it = values_.find(key);
    if (it == values_.end()) return registeredValue(key);
    return it->second;
}

void FileUserDefaults::setObject(const Value& value, const std::string& key) {
    checkMainThread("the defaults store");
    if (value.isNull()) {
        removeObject(key);
        return;
    }
    auto stored = plistRoundTrip(key, value);
    if (!stored) {
        log("defaults: the value for \"" + key.substr(0, 80) +
            "\" cannot be kept in a defaults file; it was not stored");
        return;
    }
    // Storing what is already there changes nothing on disk: no write.
    auto it = values_.find(key);
    if (it != values_.end() && it->second == *stored) return;
    values_[key] = std::move(*stored);
    changed();
}

void FileUserDefaults::removeObject(const std::string& key) {
    checkMainThread("the defaults store");
    if (values_.erase(key) == 0) return;
    changed();
}

void FileUserDefaults::changed() {
    dirty_ = true;
    if (!autosave_ || autosaveTimer_.isRunning() || !hasBackend()) return;
    autosaveTimer_.start(kAutosaveDelaySeconds, [this] { synchronizeInBackground(); });
}

bool FileUserDefaults::synchronize() {
    checkMainThread("the defaults store");
    if (!dirty_) return !writeBlocked_;
    return write();
}

std::optional<std::string> FileUserDefaults::contentsToWrite() {
    if (writeBlocked_) return std::nullopt;
    auto xml = dictionaryToXml(values_);
    if (!xml) {
        log("defaults: the store for " + path_ + " cannot be written as a property list");
        return std::nullopt;
    }
    std::string error;
    if (!makeDirectories(directoryOf(path_), error)) {
        log("defaults: could not write " + path_ + ": " + error);
        return std::nullopt;
    }
    return xml;
}

bool FileUserDefaults::write() {
    auto xml = contentsToWrite();
    if (!xml) return false;
    // Through the backend's file system when there is one, so that this write
    // comes after the background ones asked for before it.
    if (auto failure =
            hasBackend() ? FileSystem::current().writeFile(path_, *xml, {}) : writeFileAtomically(path_, *xml)) {
        log("defaults: " + failure->description);
        return false;
    }
    dirty_ = false;
    return true;
}

void FileUserDefaults::synchronizeInBackground() {
    checkMainThread("the defaults store");
    if (!hasBackend()) {
        synchronize();
        return;
    }
    if (!dirty_) return;
    auto xml = contentsToWrite();
    if (!xml) return;
    dirty_ = false;
    FileSystem::current().writeFileInBackground(
        path_, std::move(*xml), {},
        bindWeak(weakFactory_.getWeakPtr(), [](FileUserDefaults& self, std::optional<Error> failure) {
            if (!failure) return;
            log("defaults: " + failure->description);
            self.dirty_ = true;  // the next save tries again
        }));
}

}  // namespace platform::gtk
