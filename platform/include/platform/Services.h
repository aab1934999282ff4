#pragma once
// Process-wide services of the platform: clock, defaults store, paths, log,
// reachability, audio route and system sounds. A backend installs one
// implementation of each (see Backend.h).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic seconds, one source for every process of a boot.
    virtual double monotonicSeconds() const = 0;
    // Seconds since 2001-01-01 00:00:00 GMT.
    virtual double absoluteTime() const = 0;
    double unixTime() const { return absoluteTime() + 978307200.0; }

    static Clock& current();
};

// Per-application store of property-list values.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;
    static UserDefaults& standard();

    virtual std::optional<Value> objectForKey(const std::string& key) const = 0;
    virtual void setObject(const Value& value, const std::string& key) = 0;
    virtual void removeObject(const std::string& key) = 0;
    // Writes to disk; false when the write failed (the old file stays).
    virtual bool synchronize() = 0;
    // The same away from the main thread where the backend can: the store as
    // it is now, written in order with its other writes. A failed write is
    // logged and the changes stay to be written by the next save.
    virtual void synchronizeInBackground() { synchronize(); }

    void setFloat(float value, const std::string& key) { setObject(Value(static_cast<double>(value)), key); }

    // Values answered for keys that hold nothing; never written to disk (the
    // platform's own settings, such as the preferred languages).
    void registerDefaults(const Dictionary& values);
    std::optional<Value> registeredValue(const std::string& key) const;

private:
    Dictionary registered_;
};

// Where the application's files live.
class Paths {
public:
    virtual ~Paths() = default;
    static Paths& current();
    virtual std::optional<std::string> cachesDirectory() const = 0;
    virtual std::optional<std::string> documentsDirectory() const = 0;
    virtual std::string resourcesDirectory() const = 0;  // bundled resources
    virtual std::string bundleIdentifier() const = 0;
    virtual std::optional<std::string> bundleVersion() const = 0;
    // Path of a bundled resource "name.type", when it exists.
    std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const;
};

// The folder holding the running program's executable (symbolic links
// resolved); empty when the system cannot tell. Applications find files they
// install beside their program from here.
std::string executableDirectory();

// One log line: time with milliseconds, program name and process id, then the
// text, on stderr. Tests may install a sink to see the lines.
void log(std::string_view text);
using LogSink = std::function<void(std::string_view)>;
void setLogSink(LogSink sink);  // empty restores stderr

// A moment of a launch or an ad load, for a bench that times a real process
// from outside: with NIMBRA_TRACE set, one line "nimbra-trace <ms> <what>" on
// stderr, the time read from the system's monotonic clock; nothing otherwise.
void traceMark(std::string_view what);
bool traceEnabled();

// Reachability flags, bit values as the component reads them.
inline constexpr uint32_t kReachabilityFlagReachable = 1u << 1;
inline constexpr uint32_t kReachabilityFlagIsWWAN = 1u << 18;

class Reachability {
public:
    virtual ~Reachability() = default;
    // nullptr when no watch can be made for the host.
    static std::unique_ptr<Reachability> create(const std::string& host);
    // Flags are reported asynchronously on the main loop after start and on
    // every change, never from inside start(). No callback after stop() or
    // destruction.
    virtual bool start(std::function<void(uint32_t flags)> callback) = 0;
    virtual void stop() = 0;
};

// Audio route name from the sound server; nullopt when none can be asked.
std::optional<std::string> currentAudioRoute();
inline constexpr int kSystemSoundVibrate = 0xFFF;
void playSystemSound(int soundID);

}  // namespace platform
