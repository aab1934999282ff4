#include "WorkerFileSystem.h"

#include <gio/gio.h>

#include "platform/RunLoop.h"

namespace platform::gtk {

struct WorkerFileSystem::Write {
    std::string path;
    std::string data;
    AtomicWriteOptions options;
    std::function<void(std::optional<Error>)> completion;
    // Under the file system's mutex: set by the worker once the file is written.
    bool done = false;
    std::optional<Error> result;
    // Main thread: taken off its queue (by its end, or by a finish).
    bool ended = false;
};

namespace {

// What a worker needs. The worker never touches the file system; the
// completion on the main loop does only while it lives.
struct Job {
    std::shared_ptr<WorkerFileSystem::Write> write;
    std::shared_ptr<std::mutex> mutex;
    std::shared_ptr<std::condition_variable> finished;
    std::shared_ptr<bool> alive;
    WorkerFileSystem* owner;
};

}  // namespace

WorkerFileSystem::WorkerFileSystem() = default;

WorkerFileSystem::~WorkerFileSystem() {
    finishBackgroundWrites();
    std::lock_guard lock(*mutex_);
    *alive_ = false;
}

std::optional<Error> WorkerFileSystem::writeFile(const std::string& path, std::string_view data,
                                                 const AtomicWriteOptions& options) {
    // Never under an older background write of the same file.
    if (RunLoop::main().isMainThread()) finishPath(path);
    return PosixFileSystem::writeFile(path, data, options);
}

void WorkerFileSystem::writeFileInBackground(const std::string& path, std::string data,
                                             const AtomicWriteOptions& options,
                                             std::function<void(std::optional<Error>)> completion) {
    if (!RunLoop::main().isMainThread()) {
        // The queues are the main thread's: elsewhere the write is done here.
        PosixFileSystem::writeFileInBackground(path, std::move(data), options, std::move(completion));
        return;
    }
    auto write = std::make_shared<Write>();
    write->path = path;
    write->data = std::move(data);
    write->options = options;
    write->completion = std::move(completion);
    auto& queue = queues_[path];
    queue.push_back(write);
    if (queue.size() == 1) start(write);
}

void WorkerFileSystem::start(const std::shared_ptr<Write>& write) {
    auto* job = new Job{write, mutex_, finished_, alive_, this};
    GTask* task = g_task_new(
        nullptr, nullptr,
        +[](GObject*, GAsyncResult* result, gpointer) {
            // Main loop: the worker is done with this write.
            auto* job = static_cast<Job*>(g_task_get_task_data(G_TASK(result)));
            bool alive;
            {
                std::lock_guard lock(*job->mutex);
                alive = *job->alive;
            }
            if (alive) job->owner->ended(job->write);
        },
        nullptr);
    g_task_set_task_data(
        task, job, +[](gpointer data) { delete static_cast<Job*>(data); });
    g_task_run_in_thread(
        task, +[](GTask* task, gpointer, gpointer data, GCancellable*) {
            auto* job = static_cast<Job*>(data);
            Write& w = *job->write;
            auto result = writeFileAtomically(w.path, w.data, w.options);
            {
                std::lock_guard lock(*job->mutex);
                w.result = std::move(result);
                w.done = true;
            }
            job->finished->notify_all();
            g_task_return_boolean(task, TRUE);
        });
    g_object_unref(task);
}

void WorkerFileSystem::ended(const std::shared_ptr<Write>& write) {
    if (write->ended) return;  // a finish took it already
    write->ended = true;
    auto it = queues_.find(write->path);
    if (it != queues_.end()) {
        if (!it->second.empty() && it->second.front() == write) it->second.pop_front();
        if (it->second.empty()) {
            queues_.erase(it);
        } else {
            start(it->second.front());
        }
    }
    std::optional<Error> result;
    {
        std::lock_guard lock(*mutex_);
        result = write->result;
    }
    if (write->completion) write->completion(std::move(result));
}

void WorkerFileSystem::finishPath(const std::string& path) {
    auto it = queues_.find(path);
    if (it == queues_.end()) return;
    std::deque<std::shared_ptr<Write>> writes = std::move(it->second);
    queues_.erase(it);
    bool first = true;
    for (auto& write : writes) {
        std::optional<Error> result;
        if (first) {
            // In flight on a worker: wait for it.
            std::unique_lock lock(*mutex_);
            finished_->wait(lock, [&] { return write->done; });
            result = write->result;
        } else {
            result = writeFileAtomically(write->path, write->data, write->options);
        }
        first = false;
        write->ended = true;
        if (write->completion)
            RunLoop::main().postDelayedTask(
                0, [completion = std::move(write->completion), result] { completion(result); });
    }
}

void WorkerFileSystem::finishBackgroundWrites() {
    while (!queues_.empty()) finishPath(queues_.begin()->first);
}

}  // namespace platform::gtk
