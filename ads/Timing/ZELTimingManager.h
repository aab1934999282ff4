#pragma once
// A set of timings keyed by category, kept in the defaults store under
// "nimbra_timing_<identifier>". Loaded once when made; saved when asked, when
// the application is about to terminate and when the manager goes away.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Timing/ZELTiming.h"
#include "platform/NotificationCenter.h"

class ZELTimingManager {
public:
    explicit ZELTimingManager(std::string identifier);
    ~ZELTimingManager();
    ZELTimingManager(const ZELTimingManager&) = delete;
    ZELTimingManager& operator=(const ZELTimingManager&) = delete;

    static std::shared_ptr<ZELTimingManager> initWithIdentifier(std::string identifier);

    // A new timing, not started, replacing any of that category.
    std::shared_ptr<ZELTiming> addTimingWithCategory(const std::string& category);
    // Stored under its category, replacing any there; nullptr is ignored.
    void addTiming(std::shared_ptr<ZELTiming> timing);
    std::shared_ptr<ZELTiming> timingForCategory(const std::string& category) const;
    void removeTimingForCategory(const std::string& category);
    void removeTiming(const std::shared_ptr<ZELTiming>& timing);
    void removeTimingsForCategories(const std::vector<std::string>& categories);
    void removeAllTimings();

    std::vector<std::shared_ptr<ZELTiming>> timings() const;
    std::vector<std::string> categories() const;
    const std::string& identifier() const { return identifier_; }

    void synchronize() { savePersistentTimings(); }
    std::string userDefaultsKey() const;
    void savePersistentTimings();
    // Entries of the wrong shape are skipped.
    void loadPersistentTimings();

private:
    std::string identifier_;
    std::map<std::string, std::shared_ptr<ZELTiming>> timings_;
    platform::Observation termination_;
};
