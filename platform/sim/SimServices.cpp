#include "platform/sim/SimServices.h"

#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "platform/DeviceIdentifier.h"
#include "platform/NotificationCenter.h"
#include "platform/sim/SimRunLoop.h"

namespace platform::sim {

// --- files -------------------------------------------------------------------

bool SimFileSystem::isReachable(const std::string& path) const {
    const auto area = std::filesystem::path(paths_.root()).lexically_normal().string();
    const auto normal = std::filesystem::path(path).lexically_normal().string();
    return normal.size() > area.size() && normal.compare(0, area.size(), area) == 0 && normal[area.size()] == '/';
}

// --- clock -------------------------------------------------------------------

SimClock::SimClock(const SimRunLoop& loop) : loop_(loop) { reset(); }

double SimClock::monotonicSeconds() const { return monotonicBase_ + loop_.now(); }
double SimClock::absoluteTime() const { return absoluteBase_ + loop_.now(); }
void SimClock::setMonotonicSeconds(double value) { monotonicBase_ = value - loop_.now(); }
void SimClock::setAbsoluteTime(double t) { absoluteBase_ = t - loop_.now(); }

void SimClock::reset() {
    setMonotonicSeconds(kDefaultMonotonic);
    setAbsoluteTime(kDefaultAbsoluteTime);
}

// --- defaults ----------------------------------------------------------------

std::optional<Value> SimUserDefaults::objectForKey(const std::string& key) const {
    auto it = live_.find(key);
    if (it == live_.end()) return registeredValue(key);
    return it->second;
}

namespace {

// What a defaults file would give back for the value: dates in whole seconds;
// no value for what the file cannot hold (null inside a container, text that
// is not clean UTF-8, numbers that are not finite, nesting beyond 100 levels,
// dates beyond the file's range). The real store behaves the same, so a test
// on the sim cannot pass with values the device would drop.
std::optional<Value> storable(const Value& value, int depth) {
    if (depth > 100) return std::nullopt;
    auto cleanText = [](const std::string& t) { return t.find('\0') == std::string::npos && isValidUTF8(t); };
    switch (value.type()) {
    case Value::Type::Null: return std::nullopt;
    case Value::Type::Double:
        if (!std::isfinite(*value.asDouble())) return std::nullopt;
        return value;
    case Value::Type::String:
        if (!cleanText(*value.asString())) return std::nullopt;
        return value;
    case Value::Type::Date: {
        const double s = std::floor(value.asDate()->secondsSinceReference);
        if (!(s >= -2147483648.0 && s <= 2147483647.0)) return std::nullopt;
        return Value(Date{s});
    }
    case Value::Type::Array: {
        Array out;
        for (const Value& item : *value.asArray()) {
            auto v = storable(item, depth + 1);
            if (!v) return std::nullopt;
            out.push_back(std::move(*v));
        }
        return Value(std::move(out));
    }
    case Value::Type::Dictionary: {
        Dictionary out;
        for (const auto& [key, item] : *value.asDictionary()) {
            auto v = storable(item, depth + 1);
            if (!v || !cleanText(key)) return std::nullopt;
            out.emplace(key, std::move(*v));
        }
        return Value(std::move(out));
    }
    default: return value;
    }
}

}  // namespace

void SimUserDefaults::setObject(const Value& value, const std::string& key) {
    // Storing null removes the entry, as storing nil does.
    if (value.isNull()) {
        removeObject(key);
        return;
    }
    auto stored = storable(value, 0);
    if (!stored) {
        platform::log("defaults: the value for \"" + key.substr(0, 80) +
                      "\" cannot be kept in a defaults file; it was not stored");
        return;
    }
    live_[key] = std::move(*stored);
}

void SimUserDefaults::removeObject(const std::string& key) { live_.erase(key); }

bool SimUserDefaults::synchronize() {
    if (failSync_) return false;
    disk_ = live_;
    ++syncCount_;
    return true;
}

void SimUserDefaults::simulateRestart() { live_ = disk_; }

void SimUserDefaults::setSynchronizeFails(bool fails) { failSync_ = fails; }

Dictionary SimUserDefaults::snapshot() const { return live_; }

Dictionary SimUserDefaults::diskSnapshot() const { return disk_; }

int SimUserDefaults::synchronizeCount() const { return syncCount_; }

void SimUserDefaults::reset() {
    live_.clear();
    disk_.clear();
    failSync_ = false;
    syncCount_ = 0;
}

// --- paths -------------------------------------------------------------------

SimPaths::SimPaths() {
    std::error_code ec;
    std::string base = std::filesystem::temp_directory_path(ec).string();
    if (ec || base.empty()) base = "/tmp";
    std::string pattern = base + "/nimbra-sim-XXXXXX";
    if (char* made = mkdtemp(pattern.data())) root_ = made;
    else root_ = base + "/nimbra-sim-unavailable";
    makeDirectories();
}

SimPaths::~SimPaths() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

void SimPaths::makeDirectories() {
    std::error_code ec;
    for (const char* sub : {"/caches", "/documents", "/resources"})
        std::filesystem::create_directories(root_ + sub, ec);
}

std::optional<std::string> SimPaths::cachesDirectory() const {
    if (!cachesAvailable_) return std::nullopt;
    return root_ + "/caches";
}

std::optional<std::string> SimPaths::documentsDirectory() const {
    if (!documentsAvailable_) return std::nullopt;
    return root_ + "/documents";
}

std::string SimPaths::resourcesDirectory() const { return root_ + "/resources"; }

std::string SimPaths::addResource(const std::string& fileName, const std::string& contents) {
    std::string path = resourcesDirectory() + "/" + fileName;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    return path;
}

void SimPaths::reset() {
    namespace fs = std::filesystem;
    for (const char* sub : {"/caches", "/documents", "/resources"}) {
        const std::string dir = root_ + sub;
        std::error_code ec;
        auto status = fs::status(dir, ec);
        const auto owner = fs::perms::owner_all;
        // Most tests leave their directories untouched: keep those as they are.
        if (!ec && fs::is_directory(status) && (status.permissions() & owner) == owner && fs::is_empty(dir, ec) && !ec)
            continue;
        // Restore permissions a test may have taken away before emptying.
        fs::permissions(dir, owner, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
        fs::create_directories(dir, ec);
    }
    bundleIdentifier_ = "org.nimbra.tests";
    bundleVersion_ = std::string("1.0");
    cachesAvailable_ = true;
    documentsAvailable_ = true;
}

// --- reachability ------------------------------------------------------------

// The state one watch shares with the deliveries posted for it; a delivery
// that finds the watch stopped or gone does nothing.
struct SimNetwork::Watch {
    std::string host;
    std::function<void(uint32_t)> callback;
    bool started = false;
};

class SimReachability final : public Reachability {
public:
    SimReachability(SimNetwork& network, std::shared_ptr<SimNetwork::Watch> watch)
        : network_(network), watch_(std::move(watch)) {}
    ~SimReachability() override { stop(); }

    bool start(std::function<void(uint32_t)> callback) override {
        if (network_.startFails_ || !callback) return false;
        watch_->callback = std::move(callback);
        watch_->started = true;
        network_.deliver(watch_);
        return true;
    }
    void stop() override {
        watch_->started = false;
        watch_->callback = nullptr;
    }

private:
    SimNetwork& network_;
    std::shared_ptr<SimNetwork::Watch> watch_;
};

SimNetwork::SimNetwork(SimRunLoop& loop) : loop_(loop) {}
SimNetwork::~SimNetwork() = default;

std::unique_ptr<Reachability> SimNetwork::makeReachability(const std::string& host) {
    hosts_.push_back(host);
    if (creationFails_) return nullptr;
    auto watch = std::make_shared<Watch>();
    watch->host = host;
    std::erase_if(watches_, [](const std::weak_ptr<Watch>& w) { return w.expired(); });
    watches_.push_back(watch);
    return std::make_unique<SimReachability>(*this, watch);
}

void SimNetwork::deliver(const std::shared_ptr<Watch>& watch) {
    std::weak_ptr<Watch> weak = watch;
    loop_.post(0, [this, weak] {
        auto w = weak.lock();
        if (!w || !w->started || !w->callback) return;
        auto callback = w->callback;  // the callback may stop or destroy the watch
        callback(flags_);
    });
}

void SimNetwork::setFlags(uint32_t flags) {
    if (flags == flags_) return;
    flags_ = flags;
    for (const auto& weak : watches_)
        if (auto w = weak.lock(); w && w->started) deliver(w);
}

size_t SimNetwork::activeWatchCount() const {
    size_t n = 0;
    for (const auto& weak : watches_)
        if (auto w = weak.lock(); w && w->started) ++n;
    return n;
}

void SimNetwork::reset() {
    flags_ = kReachabilityFlagReachable;
    creationFails_ = false;
    startFails_ = false;
    hosts_.clear();
}

// --- application -----------------------------------------------------

bool SimApplication::canOpenURL(const URL& url) const { return schemes_.count(toLowerASCII(url.scheme())) > 0; }

bool SimApplication::openURL(const URL& url) {
    if (!canOpenURL(url)) return false;
    opened_.push_back(url);
    return true;
}

int SimApplication::networkIndicatorShowCount() const {
    int shows = 0;
    bool shown = false;
    for (const Chrome& c : drawn_) {
        shows += c.networkActivityIndicatorVisible && !shown;
        shown = c.networkActivityIndicatorVisible;
    }
    return shows;
}

void SimApplication::setApplicationState(ApplicationState target) {
    auto& center = NotificationCenter::defaultCenter();
    if (target == state_) return;
    if (state_ == ApplicationState::Active) {
        center.post(kApplicationWillResignActiveNotification, this);
        state_ = ApplicationState::Inactive;
        if (target == ApplicationState::Background) {
            state_ = ApplicationState::Background;
            center.post(kApplicationDidEnterBackgroundNotification, this);
        }
    } else if (state_ == ApplicationState::Background) {
        center.post(kApplicationWillEnterForegroundNotification, this);
        state_ = ApplicationState::Inactive;
        if (target == ApplicationState::Active) {
            state_ = ApplicationState::Active;
            center.post(kApplicationDidBecomeActiveNotification, this);
        }
    } else if (target == ApplicationState::Active) {
        state_ = ApplicationState::Active;
        center.post(kApplicationDidBecomeActiveNotification, this);
    } else {
        state_ = ApplicationState::Background;
        center.post(kApplicationDidEnterBackgroundNotification, this);
    }
}

void SimApplication::postDidFinishLaunching() {
    NotificationCenter::defaultCenter().post(kApplicationDidFinishLaunchingNotification, this);
}

void SimApplication::postWillTerminate() {
    NotificationCenter::defaultCenter().post(kApplicationWillTerminateNotification, this);
}

void SimApplication::setOpenableSchemes(std::set<std::string> schemes) {
    schemes_.clear();
    for (const auto& s : schemes) schemes_.insert(toLowerASCII(s));
}

void SimApplication::reset() {
    state_ = ApplicationState::Active;
    schemes_ = {"http", "https", "mailto"};
    opened_.clear();
    drawn_.clear();
    resetChrome();
}

std::string SimDevice::uniqueIdentifier() const {
    return applicationSpecificMachineID(machineIdentifier_, Paths::current().bundleIdentifier()).value_or("");
}

}  // namespace platform::sim
