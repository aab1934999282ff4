#pragma once
// The defaults store kept in one XML property-list file. Reading a file that is
// damaged, truncated, not a dictionary or unreadable sets it aside (renamed with
// a ".corrupt-<unix time>" suffix), logs one line and starts empty; writing is
// atomic (a temporary file in the same folder, flushed, then renamed), so the
// file on disk is always either the old or the new whole store. Main thread
// only, like the rest of the backend.

#include <memory>
#include <optional>
#include <string>

#include "platform/RunLoop.h"
#include "platform/Services.h"
#include "platform/Value.h"
#include "platform/WeakPtr.h"

namespace platform::gtk {

class FileUserDefaults final : public UserDefaults {
public:
    // Reads the file at once (a missing file is an empty store).
    explicit FileUserDefaults(std::string path);
    // Writes pending changes.
    ~FileUserDefaults() override;
    FileUserDefaults(const FileUserDefaults&) = delete;
    FileUserDefaults& operator=(const FileUserDefaults&) = delete;

    std::optional<Value> objectForKey(const std::string& key) const override;
    // Keeps what the file can give back: a date loses its fraction of a second.
    // A value the file cannot hold (a null inside a collection, text that is not
    // UTF-8 or holds a NUL, a date beyond the file format's range, nesting
    // deeper than 100) is refused with a log line and the old value stays.
    // Storing null removes the key.
    void setObject(const Value& value, const std::string& key) override;
    void removeObject(const std::string& key) override;
    bool synchronize() override;
    void synchronizeInBackground() override;

    const std::string& path() const { return path_; }
    Dictionary dictionaryRepresentation() const { return values_; }
    // Also writes by itself a second after a change, in the background (off
    // by default; the standard store turns it on).
    void setAutosave(bool enabled) { autosave_ = enabled; }

private:
    void load();
    void changed();
    bool write();
    // The store as a property list, once it may be written; none otherwise.
    std::optional<std::string> contentsToWrite();

    const std::string path_;
    Dictionary values_;
    bool dirty_ = false;
    bool autosave_ = false;
    // Set when a damaged file could not be set aside: it must not be replaced.
    bool writeBlocked_ = false;
    OneShotTimer autosaveTimer_;
    WeakPtrFactory<FileUserDefaults> weakFactory_{this};
};

}  // namespace platform::gtk
