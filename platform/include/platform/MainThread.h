#pragma once
// This layer, and everything built on it, belongs to one thread: the main
// thread, the one the backend was installed on. The way in from any other is
// RunLoop::performOnMainThread (the one place where two threads meet, with a
// lock of its own). What must never run elsewhere checks the thread and ends
// the process with a message instead of racing.

namespace platform {

// True on the main thread, and on every thread while no backend is installed.
bool isMainThread();
// Ends the process (a message naming `what`, then abort) off the main thread.
void checkMainThread(const char* what);
// A broken rule of this layer: the message on stderr, then abort.
[[noreturn]] void crash(const char* message);

}  // namespace platform
