// Faults injected into the real stack: nimbra-adserver cuts, holds or garbles
// what the component fetches, the page process dies, the caches folder fills
// up, mensajes finds its files damaged between two runs. One table, a row per
// fault. Each row ends with the failure told to the banner's delegate once (or
// the documented recovery), nothing half-written in the caches and config
// folders, and a next load that works. Rows that share nothing run together.
#include <sys/mount.h>

#include <chrono>
#include <deque>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <regex>
#include <thread>

#include "Request/ZELRequest.h"
#include "View/ZELWebView.h"
#include "integration/banner/BannerSupport.h"
#include "unit/support/FileSizeLimit.h"

namespace {

namespace fs = std::filesystem;
using namespace banner_test;
using nimbra::test::now;
using nimbra::test::readFile;

enum class Stage {
    Together,        // in this process, all such rows at once
    KillPage,        // the page process ended while the markup renders
    CachesFull,      // a stored script, then no room for the markup
    CachesReadOnly,  // nothing can be stored
    Truncated,       // mensajes, its files cut short before the next run
    Garbage,         // mensajes, its files overwritten with noise
};

struct Fault {
    const char* name;
    Stage stage;
    std::vector<std::string> staticServer;  // arguments of a static server of the row's own
    std::string scenario;                   // asked of the ad server by the faulty load
    std::string outcome;                    // what the delegate hears of it
    const char* size = "";                  // of the "big" scenario's markup
};

const Fault kFaults[] = {
    {"markup cut mid-body", Stage::Together, {}, "reset", "fail 2"},
    {"support script cut mid-body", Stage::Together, {"--script-fault", "reset"}, "", "fail 2"},
    {"impression tracker cut mid-body", Stage::Together, {}, "trackreset", "receive"},
    {"ad server never answers", Stage::Together, {}, "hang", "fail 2"},
    {"static server never answers", Stage::Together, {"--script-fault", "hang"}, "", "fail 2"},
    {"redirect loop", Stage::Together, {}, "redirectloop", "fail 2"},
    {"10 MB of markup, shown whole", Stage::Together, {}, "big", "receive"},
    {"70 MB of markup, above the cached file's maximum", Stage::Together, {}, "big", "fail 2", "70000000"},
    {"support script throws", Stage::Together, {"--script-fault", "throw"}, "", "fail 5"},
    {"support script answers twice", Stage::Together, {"--script-fault", "twice"}, "", "receive"},
    {"support script never answers", Stage::Together, {}, "silent", "fail 5"},
    // Refusals, of the ad server and of the support script: told once as well.
    {"no fill", Stage::Together, {}, "nofill", "fail 1"},
    {"support script finds the request invalid", Stage::Together, {}, "invalid", "fail 0"},
    {"support script unable to serve", Stage::Together, {}, "unable", "fail 0"},
    {"support script reports errors", Stage::Together, {}, "errors", "fail 0"},
    {"page process killed while the markup renders", Stage::KillPage, {}, "slowrender", "fail 2"},
    {"caches folder full", Stage::CachesFull, {}, "", "fail 2"},
    {"caches folder read-only", Stage::CachesReadOnly, {}, "", "fail 2"},
    {"defaults and stored script truncated between runs", Stage::Truncated, {}, "", "timed out once"},
    {"defaults and stored script garbage between runs", Stage::Garbage, {}, "", "ad shown"},
};

// Temporary files of an atomic write left behind, and stored answers that are
// not whole: a support script that is not all of the server's, a markup
// without its end.
std::vector<std::string> halfWritten(const fs::path& folder, const std::string& script) {
    std::vector<std::string> found;
    std::error_code error;
    static const std::regex temporary("([0-9a-f]+|defaults\\.plist)\\.[A-Za-z0-9]{6}");
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (!it->is_regular_file()) continue;
        const std::string name = it->path().filename().string();
        const std::string text = it->path().parent_path().filename() == "127.0.0.1" ? readFile(it->path()) : "";
        const bool scriptCut = text.starts_with("/* nimbra support script") && !text.starts_with(script);
        const bool markupCut = text.starts_with("<!DOCTYPE html>") && text.find("</html>") == std::string::npos;
        if (std::regex_match(name, temporary) || scriptCut || markupCut) found.push_back(it->path().string());
    }
    return found;
}

std::shared_ptr<ZELRequest> requestFor(const Fault& fault) {
    auto request = ZELRequest::request();
    if (!fault.scenario.empty())
        request->setAdditionalParameters(platform::Dictionary{
            {"scenario", platform::Value(fault.scenario)}, {"delay", platform::Value("2")}, {"size", platform::Value(fault.size)}});
    return request;
}

// A row in this process: its banner, with an ad unit of its own so that the
// shared ad server's report tells its requests apart.
struct Trial {
    const Fault* fault = nullptr;
    std::string adUnit;
    std::unique_ptr<AdServerProcess> staticServer;
    std::shared_ptr<BannerRecorder> recorder = std::make_shared<BannerRecorder>();
    std::shared_ptr<ZELBannerView> banner;
    double started = 0, seconds = 0;
};

bool waitFor(const std::function<bool()>& done, double seconds) {
    for (const double end = now() + seconds; now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(200)))
        if (done()) return true;
    return done();
}

// What a row that damages mensajes's files between runs saw.
struct Relaunch {
    std::vector<std::string> failures;  // what went wrong, for the report
    std::string outcome;
    double seconds = 0;
};

// Run 1 stores its defaults and the support script; both are damaged; run 2
// must stay up and recover; run 3 is the next load, and must show an ad.
Relaunch relaunch(const Fault& fault) {
    Relaunch seen;
    const double started = now();
    const fs::path root = fs::temp_directory_path() / ("faults-" + std::to_string(::getpid()) + "-" +
                                                       std::to_string(int(fault.stage)));
    fs::remove_all(root);
    const fs::path config = root / "config" / "org.nimbra.Mensajes";
    const fs::path caches = root / "cache" / "org.nimbra.Mensajes" / "127.0.0.1";
    AdServerProcess server({"--refresh-rate", "600", "--exit-after", "120"});
    const std::string script = server.get("/ruma/sdk-core-v40.js");
    auto shown = [&] { return server.counter("imp"); };
    auto fail = [&](std::string what) { seen.failures.push_back(std::move(what)); };

    for (int run = 1; run <= 3; ++run) {
        const int before = shown();
        nimbra::test::RunningMensajes app(root, server.origin(), NIMBRA_MENSAJES_PATH);
        const auto timedOut = [&] {
            const std::string log = app.log(), line = "<Nimbra> The ad request could not be built in time.";
            return log.find(line) == std::string::npos ? 0 : log.find(line) == log.rfind(line) ? 1 : 2;
        };
        const bool ad = waitFor([&] { return !app.up() || shown() >= before + 2; }, 25);
        if (run == 2) {
            // The damaged defaults are set aside and the store starts empty.
            bool setAside = false;
            for (const auto& entry : fs::directory_iterator(config))
                setAside = setAside || entry.path().filename().string().starts_with("defaults.plist.corrupt-");
            if (!setAside) fail("the damaged defaults were not set aside");
            // A stored script that cannot run costs one load, told once.
            if (!ad) waitFor([&] { return timedOut() > 0; }, 25);
            seen.outcome = ad ? "ad shown" : timedOut() == 1 ? "timed out once" : "nothing";
        } else if (!ad) {
            fail("run " + std::to_string(run) + " showed no ad");
        }
        if (!app.up()) fail("run " + std::to_string(run) + " ended by itself");
        if (app.end() != 0) fail("run " + std::to_string(run) + " did not end cleanly");
        if (run > 1) continue;
        fs::path stored;
        for (const auto& entry : fs::directory_iterator(caches))
            if (readFile(entry.path()) == script) stored = entry.path();
        if (stored.empty()) {
            fail("run 1 stored no support script");
            return seen;
        }
        for (const fs::path& file : {config / "defaults.plist", stored}) {
            const std::string text = readFile(file);
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            if (fault.stage == Stage::Truncated) {
                out << text.substr(0, text.size() / 2);
            } else {
                for (size_t i = 0; i < text.size(); ++i) out.put(char((i * 131 + 7) % 256));
            }
        }
    }
    for (const std::string& file : halfWritten(root, script)) fail("left half-written: " + file);
    if (!fs::is_regular_file(config / "defaults.plist")) fail("no defaults written again");
    seen.seconds = now() - started;
    fs::remove_all(root);
    return seen;
}

// A small file system of its own for the caches folder, or, where mounting is
// not allowed, a file-size limit on this process.
class CachesFolder {
public:
    CachesFolder(const fs::path& folder, bool readOnly) : folder_(folder), saved_(std::getenv("XDG_CACHE_HOME")) {
        fs::create_directories(folder_);
        mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, "size=256k") == 0;
        setenv("XDG_CACHE_HOME", folder_.c_str(), 1);
        if (!mounted_ && readOnly) limit_ = std::make_unique<FileSizeLimit>(0);
    }
    ~CachesFolder() {
        heal();
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
        fs::remove_all(folder_);
        if (saved_) setenv("XDG_CACHE_HOME", saved_->c_str(), 1);
    }
    // No room left: the folder filled to the last byte, or writes cut short.
    void fill() {
        if (!mounted_) {
            limit_ = std::make_unique<FileSizeLimit>(1);
            return;
        }
        std::ofstream filler(folder_ / "filler", std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), block.size())) {}
        filler.close();
        for (char c = 0; std::ofstream(folder_ / "filler", std::ios::app).put(c).flush();) {}
    }
    void heal() {
        limit_.reset();
        if (mounted_) ::mount("tmpfs", folder_.c_str(), "tmpfs", MS_REMOUNT, "size=256k");
        std::error_code ignored;
        fs::remove(folder_ / "filler", ignored);
    }
    const char* how() const { return mounted_ ? "tmpfs" : "RLIMIT_FSIZE"; }

private:
    fs::path folder_;
    std::optional<std::string> saved_;
    bool mounted_ = false;
    std::unique_ptr<FileSizeLimit> limit_;
};

class Faults : public banner_test::ServedWindow {
protected:
    Faults() : ServedWindow({"--refresh-rate", "300", "--exit-after", "300"}) {}
    void SetUp() override {
        ServedWindow::SetUp();
        script = server->get("/ruma/sdk-core-v40.js");
    }
    void TearDown() override {
        for (Trial& trial : trials)
            if (trial.banner) trial.banner->removeFromSuperview();
        trials.clear();
        ServedWindow::TearDown();
    }

    // Starts the faulty load of a row; its banner reads the static server at
    // its first load, so rows with servers of their own can run together.
    Trial& start(const Fault& fault) {
        Trial& trial = trials.emplace_back();
        trial.fault = &fault;
        char unit[16];
        std::snprintf(unit, sizeof unit, "fa%013zx", trials.size());
        trial.adUnit = unit;
        if (!fault.staticServer.empty()) {
            auto arguments = fault.staticServer;
            arguments.insert(arguments.end(), {"--exit-after", "300"});
            trial.staticServer = std::make_unique<AdServerProcess>(arguments);
            setenv("NIMBRA_STATIC_SERVER", trial.staticServer->origin().c_str(), 1);
        }
        trial.banner = addBanner(trial.adUnit, trial.recorder);
        trial.started = now();
        trial.banner->loadRequest(requestFor(fault));
        setenv("NIMBRA_STATIC_SERVER", server->origin().c_str(), 1);
        return trial;
    }
    // Waits until each trial has heard of its load; the rows' own limits end
    // every fault, so the wait is only a guard.
    void awaitOutcomes(std::vector<Trial*> running) {
        spinUntil(
            [&] {
                bool all = true;
                for (Trial* t : running) {
                    if (t->recorder->callbacks() > 0 && t->seconds == 0) t->seconds = now() - t->started;
                    all = all && t->recorder->callbacks() > 0;
                }
                return all;
            },
            90);
        spinFor(1.0);  // time for a second report that must not come
    }
    // The row's failure told once, then a plain load that shows an ad.
    void judge(Trial& trial) {
        SCOPED_TRACE(trial.fault->name);
        EXPECT_EQ(trial.recorder->events, std::vector<std::string>{trial.fault->outcome});
        const auto mine = [&](const char* endpoint) {
            int n = 0;
            for (const auto& r : server->requestsTo(endpoint))
                n += r["query"].value("slotname", "") == trial.adUnit || r["query"].value("cut", "") == "body";
            return n;
        };
        if (trial.fault->scenario == "trackreset") {
            EXPECT_TRUE(spinUntil([&] { return mine("imp") == 2; }, 10)) << "both impressions were not sent";
            EXPECT_TRUE(spinUntil([&] { return trial.banner->getPrivate()->trackerCount() == 0; }, 10))
                << "cut trackers were kept";
        }
        if (trial.fault->scenario == "big" && trial.fault->outcome == "receive") {
            EXPECT_TRUE(shows(*trial.banner->webView(), "end of ad")) << "the page was loaded in part";
        }
        if (trial.fault->staticServer == std::vector<std::string>{"--script-fault", "twice"}) {
            EXPECT_EQ(mine("ads"), 1) << "the second answer was taken too";
        }
        trial.recorder->events.clear();
        trial.banner->loadRequest(ZELRequest::request());
        ASSERT_TRUE(spinUntil([&] { return trial.recorder->callbacks() > 0; }, kAdTimeout));
        EXPECT_EQ(trial.recorder->events, std::vector<std::string>{"receive"}) << "the next load";
        EXPECT_TRUE(shows(*trial.banner->webView(), "Ad #")) << "the next ad is not shown";
        std::printf("[ fault    ] %-50s %-14s %5.1f s, next load shown\n", trial.fault->name,
                    trial.fault->outcome.c_str(), trial.seconds);
    }
    std::vector<std::string> leftOvers(const fs::path& caches) {
        std::vector<std::string> found = halfWritten(caches, script);
        for (const std::string& f : halfWritten(std::getenv("XDG_CONFIG_HOME"), script)) found.push_back(f);
        return found;
    }

    std::string script;
    std::deque<Trial> trials;
};

TEST_F(Faults, EachIsToldOnceLeavesNothingHalfWrittenAndTheNextLoadWorks) {
    // The runs of mensajes go on beside the rows in this process.
    std::vector<std::pair<const Fault*, std::future<Relaunch>>> relaunches;
    std::vector<Trial*> together;
    for (const Fault& fault : kFaults) {
        if (fault.stage == Stage::Truncated || fault.stage == Stage::Garbage)
            relaunches.emplace_back(&fault, std::async(std::launch::async, relaunch, std::cref(fault)));
        if (fault.stage == Stage::Together) together.push_back(&start(fault));
    }
    awaitOutcomes(together);
    for (Trial* trial : together) judge(*trial);

    for (auto& [fault, future] : relaunches) {
        SCOPED_TRACE(fault->name);
        const Relaunch seen = future.get();
        EXPECT_EQ(seen.failures, std::vector<std::string>{});
        EXPECT_EQ(seen.outcome, fault->outcome);
        std::printf("[ fault    ] %-50s %-14s %5.1f s for three runs\n", fault->name, seen.outcome.c_str(), seen.seconds);
    }
    EXPECT_EQ(leftOvers(std::getenv("XDG_CACHE_HOME")), std::vector<std::string>{});

    // Every page shares one process: the row that ends it runs alone.
    for (const Fault& fault : kFaults) {
        if (fault.stage != Stage::KillPage) continue;
        Trial& trial = start(fault);
        ASSERT_TRUE(spinUntil([&] { return trial.banner->getPrivate()->state() == kZELStateRendering; }, 20));
        spinFor(0.3);
        ASSERT_EQ(trial.banner->getPrivate()->state(), kZELStateRendering);
        for (pid_t page : nimbra::test::webProcessesOf(::getpid())) ::kill(page, SIGKILL);
        awaitOutcomes({&trial});
        judge(trial);
    }

    // The caches folder is the process's: one row at a time.
    for (const Fault& fault : kFaults) {
        if (fault.stage != Stage::CachesFull && fault.stage != Stage::CachesReadOnly) continue;
        const fs::path folder = fs::temp_directory_path() / ("faults-caches-" + std::to_string(::getpid()));
        CachesFolder caches(folder, fault.stage == Stage::CachesReadOnly);
        std::printf("[ fault    ] %s through %s\n", fault.name, caches.how());
        Fault stored{"a load that stores the support script", Stage::CachesFull, {}, "", "receive"};
        Trial* trial = nullptr;
        if (fault.stage == Stage::CachesFull) {
            trial = &start(stored);
            awaitOutcomes({trial});
            ASSERT_EQ(trial->recorder->events, std::vector<std::string>{"receive"});
            // The shown ad's markup would free a page of the full folder
            // when the next load deletes it.
            fs::remove(*trial->banner->getPrivate()->adHTML()->filePath());
            caches.fill();
            trial->fault = &fault;
            trial->recorder->events.clear();
            trial->started = now();
            trial->seconds = 0;
            trial->banner->loadRequest(ZELRequest::request());
        } else {
            trial = &start(fault);
        }
        awaitOutcomes({trial});
        EXPECT_EQ(leftOvers(folder), std::vector<std::string>{}) << fault.name;
        caches.heal();
        judge(*trial);
        EXPECT_EQ(leftOvers(folder), std::vector<std::string>{}) << fault.name;
    }
}

}  // namespace
