#pragma once
// The sim backend's services: a virtual clock, an in-memory defaults store
// with a "disk" copy, a temporary file area, test-driven reachability and a
// recorded application, device and screen.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Application.h"
#include "platform/Files.h"
#include "platform/Services.h"

namespace platform::sim {

class SimRunLoop;

class SimClock final : public Clock {
public:
    explicit SimClock(const SimRunLoop& loop);
    double monotonicSeconds() const override;
    double absoluteTime() const override;

    // Set what the clocks read now; both then move with virtual time.
    void setMonotonicSeconds(double value);
    void setAbsoluteTime(double secondsSinceReference);
    void setUnixTime(double unix) { setAbsoluteTime(unix - 978307200.0); }

    // 2025-01-01 00:00:00 GMT, and an uptime of 1000 seconds.
    static constexpr double kDefaultAbsoluteTime = 757382400.0;
    static constexpr double kDefaultMonotonic = 1000.0;
    void reset();

private:
    const SimRunLoop& loop_;
    double monotonicBase_ = 0;
    double absoluteBase_ = 0;
};

class SimUserDefaults final : public UserDefaults {
public:
    std::optional<Value> objectForKey(const std::string& key) const override;
    void setObject(const Value& value, const std::string& key) override;
    void removeObject(const std::string& key) override;
    bool synchronize() override;

    // What a relaunched process would read: the last synchronized state.
    void simulateRestart();
    // Makes synchronize() fail (and leave the disk copy alone).
    void setSynchronizeFails(bool fails);
    Dictionary snapshot() const;      // the live values
    Dictionary diskSnapshot() const;  // the last synchronized values
    int synchronizeCount() const;
    void reset();

private:
    Dictionary live_;
    Dictionary disk_;
    bool failSync_ = false;
    int syncCount_ = 0;
};

class SimPaths final : public Paths {
public:
    SimPaths();            // makes a fresh temporary directory
    ~SimPaths() override;  // removes it
    std::optional<std::string> cachesDirectory() const override;
    std::optional<std::string> documentsDirectory() const override;
    std::string resourcesDirectory() const override;
    std::string bundleIdentifier() const override { return bundleIdentifier_; }
    std::optional<std::string> bundleVersion() const override { return bundleVersion_; }

    const std::string& root() const { return root_; }
    void setBundleIdentifier(std::string id) { bundleIdentifier_ = std::move(id); }
    void setBundleVersion(std::optional<std::string> v) { bundleVersion_ = std::move(v); }
    // An unavailable directory is reported as absent.
    void setCachesAvailable(bool available) { cachesAvailable_ = available; }
    void setDocumentsAvailable(bool available) { documentsAvailable_ = available; }
    // Writes a bundled resource file and returns its path.
    std::string addResource(const std::string& fileName, const std::string& contents);
    // Empties the directories and restores the default settings.
    void reset();

private:
    void makeDirectories();
    std::string root_;
    std::string bundleIdentifier_ = "org.nimbra.tests";
    std::optional<std::string> bundleVersion_ = std::string("1.0");
    bool cachesAvailable_ = true;
    bool documentsAvailable_ = true;
};

// The local disk, but only inside the temporary area: a path anywhere else
// is missing to a reader and refused to a writer, so no unit test can read or
// change the user's files through the component.
class SimFileSystem final : public PosixFileSystem {
public:
    explicit SimFileSystem(const SimPaths& paths) : paths_(paths) {}
    bool isReachable(const std::string& path) const override;

private:
    const SimPaths& paths_;
};

// Reachability under test control: flags are set by the test and delivered
// to every started watch on the next turn of the sim run loop.
class SimNetwork {
public:
    explicit SimNetwork(SimRunLoop& loop);
    ~SimNetwork();
    void setFlags(uint32_t flags);
    uint32_t flags() const { return flags_; }
    void setCreationFails(bool fails) { creationFails_ = fails; }
    void setStartFails(bool fails) { startFails_ = fails; }
    const std::vector<std::string>& hostsWatched() const { return hosts_; }
    size_t activeWatchCount() const;
    void reset();

    std::unique_ptr<Reachability> makeReachability(const std::string& host);

private:
    struct Watch;
    friend class SimReachability;
    void deliver(const std::shared_ptr<Watch>& watch);
    SimRunLoop& loop_;
    uint32_t flags_ = kReachabilityFlagReachable;
    bool creationFails_ = false;
    bool startFails_ = false;
    std::vector<std::string> hosts_;
    std::vector<std::weak_ptr<Watch>> watches_;
};

class SimApplication final : public Application {
public:
    ApplicationState applicationState() const override { return state_; }
    bool openURL(const URL& url) override;
    bool canOpenURL(const URL& url) const override;

    // Moves to the state, posting the application notifications on the
    // default center in the platform's order (resign active, then enter
    // background; enter foreground, then become active).
    void setApplicationState(ApplicationState state);
    void postDidFinishLaunching();
    void postWillTerminate();
    // Schemes that canOpenURL answers yes for (compared without case).
    void setOpenableSchemes(std::set<std::string> schemes);
    const std::vector<URL>& openedURLs() const { return opened_; }
    // Every chrome the backend was asked to draw, in order.
    const std::vector<Chrome>& drawnChrome() const { return drawn_; }
    // How many times the indicator was switched on.
    int networkIndicatorShowCount() const;
    void reset();

protected:
    void drawChrome(const Chrome& chrome) override { drawn_.push_back(chrome); }

private:
    ApplicationState state_ = ApplicationState::Active;
    std::set<std::string> schemes_ = {"http", "https", "mailto"};
    std::vector<URL> opened_;
    std::vector<Chrome> drawn_;
};

class SimDevice final : public Device {
public:
    std::string model() const override { return model_; }
    std::string systemVersion() const override { return systemVersion_; }
    // Derived from the machine id for the application (SimPaths' identifier),
    // as the real backend derives it.
    std::string uniqueIdentifier() const override;
    UserInterfaceIdiom userInterfaceIdiom() const override { return idiom_; }
    InterfaceOrientation orientation() const override { return orientation_; }

    void setModel(std::string m) { model_ = std::move(m); }
    void setSystemVersion(std::string v) { systemVersion_ = std::move(v); }
    void setMachineIdentifier(std::string id) { machineIdentifier_ = std::move(id); }
    const std::string& machineIdentifier() const { return machineIdentifier_; }
    void setUserInterfaceIdiom(UserInterfaceIdiom i) { idiom_ = i; }
    void setOrientation(InterfaceOrientation o) { orientation_ = o; }
    void reset() { *this = SimDevice(); }

private:
    std::string model_ = "iPhone";
    std::string systemVersion_ = "4.3";
    std::string machineIdentifier_ = "5f1d2c3b4a5968778695a4b3c2d1e0f9";
    UserInterfaceIdiom idiom_ = UserInterfaceIdiom::Phone;
    InterfaceOrientation orientation_ = InterfaceOrientation::Portrait;
};

class SimScreen final : public Screen {
public:
    double scale() const override { return scale_; }
    // The panel, either way up: bounds() turns it with the interface.
    void setBounds(const Rect& r) { panel_ = r; }
    void setScale(double s) { scale_ = s; }
    void reset() { *this = SimScreen(); }

protected:
    Rect panelBounds() const override { return panel_; }

private:
    Rect panel_{0, 0, 320, 480};
    double scale_ = 2;
};

}  // namespace platform::sim
