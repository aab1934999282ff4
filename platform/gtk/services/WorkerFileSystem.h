#pragma once
// The local disk as PosixFileSystem has it, with background writes done on
// GLib's worker threads (GTask). Per path, one write is in flight at a time
// and the rest wait in order on the main thread; the completions come back
// on the main loop. A synchronous write, and the process's end, first finish
// what was asked for before them.

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Files.h"

namespace platform::gtk {

class WorkerFileSystem final : public PosixFileSystem {
public:
    WorkerFileSystem();
    ~WorkerFileSystem() override;
    WorkerFileSystem(const WorkerFileSystem&) = delete;
    WorkerFileSystem& operator=(const WorkerFileSystem&) = delete;

    std::optional<Error> writeFile(const std::string& path, std::string_view data,
                                   const AtomicWriteOptions& options) override;
    void writeFileInBackground(const std::string& path, std::string data, const AtomicWriteOptions& options,
                               std::function<void(std::optional<Error>)> completion) override;
    void finishBackgroundWrites() override;

    struct Write;

private:
    void start(const std::shared_ptr<Write>& write);
    // Main thread: the write at the front of its path's queue is over.
    void ended(const std::shared_ptr<Write>& write);
    // Waits for the path's write in flight, then does the queued ones here.
    void finishPath(const std::string& path);

    // Main thread only: the writes of each path, the first one in flight.
    std::map<std::string, std::deque<std::shared_ptr<Write>>> queues_;
    // Shared with the workers: the end of a write in flight.
    std::shared_ptr<std::mutex> mutex_ = std::make_shared<std::mutex>();
    std::shared_ptr<std::condition_variable> finished_ = std::make_shared<std::condition_variable>();
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace platform::gtk
