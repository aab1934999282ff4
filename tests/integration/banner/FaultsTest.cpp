// Faults injected into the real stack: nimbra-adserver cuts, holds or garbles
// what the component fetches, a hostile server or ad of the row's own (in this
// process) sends what no honest one would, the page process dies, the caches
// folder fills up, mensajes finds its files damaged between two runs. One
// table, a row per fault. Each row ends with the failure told to the banner's
// delegate once (or the documented recovery), nothing stored lost or
// half-written in the caches and config folders, and a next load that works.
// Rows that share nothing run together.
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
#include <sys/stat.h>
#include <unordered_map>

#include "Network/ZELCacheFolder.h"
#include "Network/ZELCachedFile.h"
#include "Request/ZELRequest.h"
#include "WebView/ZELWebView.h"
#include "platform/Files.h"
#include "integration/banner/BannerSupport.h"
#include "integration/support/TestHttpServer.h"
#include "unit/support/FileSizeLimit.h"

namespace {

namespace fs = std::filesystem;
using namespace banner_test;
using nimbra::test::now;
using nimbra::test::RawTcpServer;
using nimbra::test::readFile;
using nimbra::test::TestHttpServer;
using platform::gtk::GRef;

enum class Stage {
    Together,        // in this process, all such rows at once
    KillPage,        // the page process ended while the markup renders
    CachesFull,      // a stored script, then no room for the markup
    CachesReadOnly,  // nothing can be stored
    Truncated,       // mensajes, its files cut short before the next run
    Garbage,         // mensajes, its files overwritten with noise
};

// What the row's own server, in this process, does wrong. It serves the
// support script, which sends the faulty load (scenario "hostile") to the
// hostile answer and every other load to nimbra-adserver.
enum class Hostile {
    None,
    OldName,     // the ad tracks a URL made to take the stored script's old file name
    FutureDate,  // the script dated in the year 2100
    BigScript,   // the script above its bound, once
    Trickle,     // the markup one byte a second, past the markup's deadline
    Trackers,    // 500 URLs in the tracking header
    Refresh,     // the refresh rate `option`
    Downgrade,   // the markup asked over https, redirected to http
    Subdomains,  // the ad tracks made-up subdomains one after the other
};

struct Fault {
    const char* name;
    Stage stage;
    std::vector<std::string> staticServer;  // arguments of a static server of the row's own
    std::string scenario;                   // asked of the ad server by the faulty load
    std::string outcome;                    // what the delegate hears of it
    const char* size = "";                  // of the "big" scenario's markup
    Hostile hostile = Hostile::None;
    const char* option = "";
};

// clang-format off
const Fault kFaults[] = {
    {"markup cut mid-body", Stage::Together, {}, "reset", "fail 2"},
    {"support script cut mid-body", Stage::Together, {"--script-fault", "reset"}, "", "fail 2"},
    {"impression tracker cut mid-body", Stage::Together, {}, "trackreset", "receive"},
    {"ad server never answers", Stage::Together, {}, "hang", "fail 2"},
    {"static server never answers", Stage::Together, {"--script-fault", "hang"}, "", "fail 2"},
    {"redirect loop", Stage::Together, {}, "redirectloop", "fail 2"},
    {"3 MB of markup, under its bound: shown whole", Stage::Together, {}, "big", "receive", "3000000"},
    {"5 MB of markup, above its bound", Stage::Together, {}, "big", "fail 2", "5000000"},
    {"support script throws", Stage::Together, {"--script-fault", "throw"}, "", "fail 5"},
    {"support script answers twice", Stage::Together, {"--script-fault", "twice"}, "", "receive"},
    {"support script never answers", Stage::Together, {}, "silent", "fail 5"},
    // Refusals, of the ad server and of the support script: told once as well.
    {"no fill", Stage::Together, {}, "nofill", "fail 1"},
    {"support script finds the request invalid", Stage::Together, {}, "invalid", "fail 0"},
    {"support script unable to serve", Stage::Together, {}, "unable", "fail 0"},
    {"support script reports errors", Stage::Together, {}, "errors", "fail 0"},
    // Hostile servers and ads.
    {"ad tracks a URL with the stored script's old name", Stage::Together, {}, "hostile", "receive", "", Hostile::OldName},
    {"support script dated 2100", Stage::Together, {}, "hostile", "receive", "", Hostile::FutureDate},
    {"support script of 2 MiB, above its bound", Stage::Together, {}, "hostile", "fail 2", "", Hostile::BigScript},
    {"markup trickled a byte a second", Stage::Together, {}, "hostile", "fail 2", "", Hostile::Trickle},
    {"500 tracking URLs in a header", Stage::Together, {}, "hostile", "receive", "", Hostile::Trackers},
    {"refresh rate 0.5", Stage::Together, {}, "hostile", "receive", "", Hostile::Refresh, "0.5"},
    {"refresh rate 0.001", Stage::Together, {}, "hostile", "receive", "", Hostile::Refresh, "0.001"},
    {"refresh rate -5", Stage::Together, {}, "hostile", "receive", "", Hostile::Refresh, "-5"},
    {"https markup redirected to http", Stage::Together, {}, "hostile", "fail 2", "", Hostile::Downgrade},
    {"ad tracks made-up subdomains", Stage::Together, {}, "hostile", "receive", "", Hostile::Subdomains},
    {"page process killed while the markup renders", Stage::KillPage, {}, "slowrender", "fail 2"},
    {"caches folder full", Stage::CachesFull, {}, "", "fail 2"},
    {"caches folder read-only", Stage::CachesReadOnly, {}, "", "fail 2"},
    {"defaults and stored script truncated between runs", Stage::Truncated, {}, "", "timed out once"},
    {"defaults and stored script garbage between runs", Stage::Garbage, {}, "", "ad shown"},
};
// clang-format on

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
        const std::string folder = it->path().parent_path().filename();
        const std::string text = folder == "script" || folder == "markup" ? readFile(it->path()) : "";
        const bool scriptCut = text.starts_with("/* nimbra support script") && !text.starts_with(script);
        const bool markupCut = text.starts_with("<!DOCTYPE html>") && text.find("</html>") == std::string::npos;
        if (std::regex_match(name, temporary) || scriptCut || markupCut) found.push_back(it->path().string());
    }
    return found;
}

std::shared_ptr<ZELRequest> requestFor(const Fault& fault) {
    auto request = ZELRequest::request();
    if (!fault.scenario.empty())
        request->setAdditionalParameters(platform::Dictionary{{"scenario", platform::Value(fault.scenario)},
                                                              {"delay", platform::Value("2")},
                                                              {"size", platform::Value(fault.size)}});
    return request;
}

// The name the layout before this one gave a URL's file: FNV-1a, 32 bits, of
// its text, in a folder of its host; any URL of the host could take it.
uint32_t oldName(std::string_view text, uint32_t hash = 2166136261u) {
    for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
    return hash;
}

// prefix + six URL-safe characters with the old name of `target`: the three
// first from the prefix forward, the three last from the name backward.
std::string withOldNameOf(const std::string& target, const std::string& prefix) {
    static constexpr std::string_view kSafe = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_";
    uint32_t inverse = 16777619u;  // of the FNV prime, modulo 2^32
    for (int i = 0; i < 5; ++i) inverse *= 2 - 16777619u * inverse;
    auto triples = [&](auto each) {
        for (char a : kSafe)
            for (char b : kSafe)
                for (char c : kSafe) each(std::string{a, b, c});
    };
    std::unordered_map<uint32_t, std::string> forward;
    const uint32_t start = oldName(prefix);
    triples([&](const std::string& t) { forward.emplace(oldName(t, start), t); });
    std::string found;
    triples([&](const std::string& t) {
        uint32_t h = oldName(target);
        for (int i = 2; i >= 0; --i) h = (h * inverse) ^ static_cast<unsigned char>(t[static_cast<size_t>(i)]);
        if (auto it = forward.find(h); found.empty() && it != forward.end()) found = prefix + it->second + t;
    });
    return found;
}

// A certificate for 127.0.0.1 made for this run, and a database that trusts
// it alone.
struct LoopbackCertificate {
    LoopbackCertificate() {
        fs::create_directories(folder);
        const std::string key = folder / "key.pem", cert = folder / "cert.pem";
        // clang-format off
        const char* argv[] = {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "2",
                              "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key.c_str(), "-out", cert.c_str(), nullptr};
        // clang-format on
        int status = -1;
        if (!g_spawn_sync(nullptr, const_cast<char**>(argv), nullptr,
                          GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
                          nullptr, nullptr, nullptr, nullptr, &status, nullptr) ||
            !g_spawn_check_wait_status(status, nullptr))
            return;
        certificate =
            GRef<GTlsCertificate>::adopt(g_tls_certificate_new_from_files(cert.c_str(), key.c_str(), nullptr));
        database = GRef<GTlsDatabase>::adopt(g_tls_file_database_new(cert.c_str(), nullptr));
    }
    ~LoopbackCertificate() { fs::remove_all(folder); }  // read by the database as it goes
    const fs::path folder = fs::temp_directory_path() / ("faults-tls-" + std::to_string(::getpid()));
    GRef<GTlsCertificate> certificate;
    GRef<GTlsDatabase> database;
};

constexpr const char kScriptPath[] = "/ruma/sdk-core-v40.js";

// Where the support script of that URL is stored.
fs::path storedScriptOf(const std::string& url) {
    return *ZELCacheFolder::pathFor(ZELCachePurpose::SupportScript, *platform::URL::parse(url));
}

const std::string kHostileMarkup = "<html><body><p>hostile ad</p></body></html>";

// Markup that tracks each URL in turn, untapped, a moment apart (the ad view
// follows one tracking at a time).
std::string markupTracking(const std::vector<std::string>& urls) {
    std::string list;
    for (const auto& url : urls) list += (list.empty() ? "'" : ",'") + url + "'";
    return "<html><body><p>hostile ad</p><script>[" + list +
           "].forEach(function (u, i) { setTimeout(function () { var f = document.createElement('iframe');"
           " f.style.display = 'none'; f.src = 'qmsg://nimbra/httpTrack?u=' + encodeURIComponent(u);"
           " document.body.appendChild(f); }, 300 * i); });</script></body></html>";
}

// The server of a hostile row, in this process: the row's support script, the
// hostile answers, and what it was asked.
class HostileServer {
public:
    HostileServer(const Fault& fault, const std::string& adServer, GTlsCertificate* certificate)
        : kind_(fault.hostile) {
        std::string hostileBase = http.url("");
        if (kind_ == Hostile::Downgrade) {
            secure = std::make_unique<TestHttpServer>(certificate);
            secure->route("/ads", TestHttpServer::answer(302, "", {{"Location", http.url("/plain")}}));
            http.route("/plain", TestHttpServer::answer(200, kHostileMarkup));
            hostileBase = secure->url("");
        } else if (kind_ == Hostile::Trickle) {
            std::vector<std::string> bytes;
            for (char c : kHostileMarkup) bytes.emplace_back(1, c);
            trickle = RawTcpServer::chunked(bytes, {{"Content-Type", "text/html"}}, 1.0);
            hostileBase = trickle->url("");
        }
        script =
            "/* row script */ function RUMA_buildAdURL(p) {"
            " var url = (p.extras && p.extras.scenario == 'hostile' ? '" +
            hostileBase + "' : '" + adServer +
            "') + '/ads?slotname=' + encodeURIComponent(p.slotname);"
            " var f = document.createElement('iframe'); f.style.display = 'none';"
            " f.src = 'qmsg://nimbra/loadAdURL?type=pexmark&url=' + encodeURIComponent(url);"
            " (document.body || document.documentElement).appendChild(f); }";
        http.route(kScriptPath, [this](SoupServerMessage* message, const TestHttpServer::Request&) {
            TestHttpServer::Headers headers;
            if (kind_ == Hostile::FutureDate) headers.emplace_back("Last-Modified", "Fri, 01 Jan 2100 00:00:00 GMT");
            const bool big = kind_ == Hostile::BigScript && count(kScriptPath) == 1;
            TestHttpServer::respond(message, 200, big ? "/*" + std::string(2 << 20, '*') + "*/" + script : script,
                                    headers);
        });
        http.route("/ads", [this, adServer, rate = std::string(fault.option)](SoupServerMessage* message,
                                                                              const TestHttpServer::Request& request) {
            adTimes.push_back(now());
            TestHttpServer::Headers headers;
            std::string markup = kHostileMarkup;
            if (kind_ == Hostile::Refresh && adTimes.size() > 3) {
                // Enough: the ad server's own ad, which stops the reloads.
                headers = {{"Location", adServer + "/ads?" + request.query + "&refresh=0"}};
                return TestHttpServer::respond(message, 302, "", headers);
            }
            if (kind_ == Hostile::Refresh) headers.emplace_back("X-Ruma-Refresh-Rate", rate);
            if (kind_ == Hostile::Trackers) {
                std::string urls;
                for (int i = 0; i < 500; ++i) urls += (i ? " " : "") + http.url("/im?n=" + std::to_string(i));
                headers.emplace_back("X-Ruma-Tracking-Urls", urls);
            }
            if (kind_ == Hostile::OldName) markup = markupTracking({withOldNameOf(scriptURL(), http.url("/t?x="))});
            if (kind_ == Hostile::Subdomains) {
                std::vector<std::string> urls;
                for (int i = 0; i < 10; ++i)
                    urls.push_back("http://s" + std::to_string(i) + ".localhost:" + std::to_string(http.port()) +
                                   "/im");
                markup = markupTracking(urls);
            }
            TestHttpServer::respond(message, 200, markup, headers);
        });
        http.route("/im", TestHttpServer::answer(200, "ok"));
        // Where the old-name tracking leads: a script that would break every
        // load, dated so that a 304 would keep it.
        http.route("/t", TestHttpServer::answer(302, "", {{"Location", http.url("/payload")}}));
        http.route("/payload", TestHttpServer::answer(200, "function RUMA_buildAdURL(p) { throw 'replaced'; }",
                                                      {{"Last-Modified", "Fri, 01 Jan 2100 00:00:00 GMT"}}));
    }
    std::string scriptURL() const { return http.url(kScriptPath); }
    fs::path storedScript() const { return storedScriptOf(scriptURL()); }
    int count(const std::string& path) const {
        return int(std::ranges::count_if(http.requests(), [&](const auto& r) { return r.path == path; }));
    }

    TestHttpServer http;
    std::unique_ptr<TestHttpServer> secure;
    std::unique_ptr<RawTcpServer> trickle;
    std::string script;           // as served whole
    std::vector<double> adTimes;  // of the requests for /ads

private:
    Hostile kind_;
};

// Records, with each ad, the reload interval the banner has taken (0: none
// yet). (Whether its timer still runs depends on how long the ad took to draw.)
struct TrialRecorder : BannerRecorder {
    void adViewDidReceiveAd(const std::shared_ptr<ZELBannerView>& banner) override {
        reloads.push_back(banner->getPrivate()->reloadSeconds());
        BannerRecorder::adViewDidReceiveAd(banner);
    }
    std::vector<double> reloads;
};

// A row in this process: its banner, with an ad unit of its own so that the
// shared ad server's report tells its requests apart.
struct Trial {
    const Fault* fault = nullptr;
    std::string adUnit;
    std::unique_ptr<AdServerProcess> staticServer;
    std::unique_ptr<HostileServer> hostile;
    std::shared_ptr<TrialRecorder> recorder = std::make_shared<TrialRecorder>();
    std::shared_ptr<ZELBannerView> banner;
    double started = 0, seconds = 0;
};

// On a worker thread beside the rows of this process: the server's report and
// the program's log looked at every 200 ms.
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
    const nimbra::test::ThreadContext ownContext;  // where the program's end is waited for
    Relaunch seen;
    const double started = now();
    const fs::path root =
        fs::temp_directory_path() / ("faults-" + std::to_string(::getpid()) + "-" + std::to_string(int(fault.stage)));
    fs::remove_all(root);
    const fs::path config = root / "config" / "org.nimbra.Mensajes";
    const fs::path caches = root / "cache" / "org.nimbra.Mensajes" / "nimbra" / "script";
    // The script as the layout before this one stored it: removed at the
    // start, never used.
    const fs::path old = root / "cache" / "org.nimbra.Mensajes" / "127.0.0.1" / "1c0ffee5";
    AdServerProcess server({"--refresh-rate", "600", "--exit-after", "120"});
    const std::string script = server.get("/ruma/sdk-core-v40.js");
    auto shown = [&] { return server.counter("imp"); };
    auto fail = [&](std::string what) { seen.failures.push_back(std::move(what)); };
    fs::create_directories(old.parent_path());
    std::ofstream(old) << "function RUMA_buildAdURL(p) { throw 'old'; }";

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
        if (fs::exists(old.parent_path())) fail("the old layout was kept");
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
        if (fault.hostile != Hostile::None) {
            trial.hostile = std::make_unique<HostileServer>(fault, server->origin(), tls.certificate.get());
            setenv("NIMBRA_STATIC_SERVER", trial.hostile->http.url("").c_str(), 1);
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
        if (trial.fault->hostile == Hostile::Refresh) judgeReloads(trial);
        else EXPECT_EQ(trial.recorder->events, std::vector<std::string>{trial.fault->outcome});
        if (trial.hostile) judgeHostile(trial, *trial.hostile);
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
        // Nothing stored was lost: the row's script is there whole, and used.
        if (trial.hostile) {
            EXPECT_EQ(readFile(trial.hostile->storedScript()), trial.hostile->script);
        }
        std::printf("[ fault    ] %-50s %-14s %5.1f s, next load shown\n", trial.fault->name,
                    trial.fault->outcome.c_str(), trial.seconds);
    }
    // A rate under a second is raised to one, a negative one stops reloading;
    // the row's server stops the reloads after three ads.
    void judgeReloads(Trial& trial) {
        const double rate = std::atof(trial.fault->option), interval = rate > 0 ? 1 : 0;
        const auto& banner = trial.banner->getPrivate();
        ASSERT_TRUE(spinUntil([&] { return !banner->isMakingRequest() && !banner->isReloadTimerScheduled(); }, 30));
        EXPECT_GE(trial.recorder->callbacks(), 1);
        EXPECT_EQ(std::ranges::count(trial.recorder->events, "receive"), trial.recorder->callbacks());
        EXPECT_EQ(trial.recorder->reloads.front(), interval);
        const auto& times = trial.hostile->adTimes;
        if (interval == 0) {
            EXPECT_EQ(times.size(), 1u) << "reloaded on a negative rate";
        }
        // (A little under the second: the loop's timers are whole milliseconds.)
        for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 0.99) << "reload " << i;
        trial.recorder->events.clear();
    }
    void judgeHostile(Trial& trial, HostileServer& hostile) {
        switch (trial.fault->hostile) {
        case Hostile::OldName: {
            // The tracking went all the way; the script is then checked whole.
            EXPECT_TRUE(spinUntil([&] { return hostile.count("/payload") == 1; }, 10));
            const auto& asked = hostile.http.requests();
            const auto tracked = std::ranges::find_if(asked, [](const auto& r) { return r.path == "/t"; });
            ASSERT_NE(tracked, asked.end());
            EXPECT_EQ(oldName(hostile.http.url("/t?" + tracked->query)), oldName(hostile.scriptURL()))
                << "the tracked URL would not have taken the script's old name";
            break;
        }
        case Hostile::FutureDate: {
            struct stat st {};
            ASSERT_EQ(::stat(hostile.storedScript().c_str(), &st), 0);
            EXPECT_LE(double(st.st_mtime), double(std::time(nullptr))) << "the future date was kept";
            break;
        }
        case Hostile::BigScript: EXPECT_FALSE(fs::exists(hostile.storedScript())) << "stored over its bound"; break;
        case Hostile::Trackers:
            // All are fired at once when the ad is shown, long before this.
            EXPECT_TRUE(spinUntil([&] { return hostile.count("/im") >= int(kZELMaximumTrackingURLs); }, 10));
            EXPECT_EQ(hostile.count("/im"), int(kZELMaximumTrackingURLs));
            EXPECT_EQ(log.countContaining("URLs in X-Ruma-Tracking-Urls; the rest are dropped"), 1u);
            break;
        case Hostile::Downgrade:
            EXPECT_EQ(hostile.secure->requests().size(), 1u);
            EXPECT_EQ(hostile.count("/plain"), 0) << "fetched over http";
            EXPECT_EQ(log.countContaining("<Nimbra> Refused a redirect from https to"), 1u);
            break;
        case Hostile::Subdomains:
            EXPECT_TRUE(spinUntil([&] { return hostile.count("/im") >= 1; }, 10)) << "nothing tracked";
            break;
        default: break;
        }
    }
    std::vector<std::string> leftOvers(const fs::path& caches) {
        // The banners' saves still in flight end first, as at the process's end.
        platform::FileSystem::current().finishBackgroundWrites();
        std::vector<std::string> found = halfWritten(caches, script);
        for (const std::string& f : halfWritten(std::getenv("XDG_CONFIG_HOME"), script)) found.push_back(f);
        return found;
    }

    std::string script;
    std::deque<Trial> trials;
    nimbra::test::LogCapture log;
    LoopbackCertificate tls;
};

// The component's folder in the caches directory holds what the naming rule
// names and no more than its limit; nothing else of the component's is there.
std::vector<std::string> notTheComponentsOwn(const fs::path& caches) {
    std::vector<std::string> found;
    uint64_t total = 0;
    for (const auto& entry : fs::directory_iterator(caches)) {
        const std::string name = entry.path().filename();
        if (name == "webkit" || name == "webkit-outside") continue;
        if (name != "nimbra") found.push_back(entry.path());
    }
    for (const auto& entry : fs::recursive_directory_iterator(caches / "nimbra")) {
        if (!entry.is_regular_file()) continue;
        total += entry.file_size();
        const std::string name = entry.path().filename();
        if (name.size() != 64 || name.find_first_not_of("0123456789abcdef") != std::string::npos)
            found.push_back(entry.path());
    }
    if (total > kZELCacheSizeLimit) found.push_back("over the limit: " + std::to_string(total));
    return found;
}

// Told once, nothing left half-written, and the next load works.
TEST_F(Faults, EachEndsCleanly) {
    // The runs of mensajes go on beside the rows in this process.
    std::vector<std::pair<const Fault*, std::future<Relaunch>>> relaunches;
    std::vector<Trial*> together;
    for (const Fault& fault : kFaults)
        if (fault.stage == Stage::Truncated || fault.stage == Stage::Garbage)
            relaunches.emplace_back(&fault, std::async(std::launch::async, relaunch, std::cref(fault)));
    // Only this run's certificate for https, only while the rows run.
    GTlsBackend* backend = g_tls_backend_get_default();
    g_tls_backend_set_default_database(backend, tls.database.get());
    ASSERT_TRUE(tls.certificate) << "no certificate for the https row (openssl)";
    for (const Fault& fault : kFaults)
        if (fault.stage == Stage::Together) together.push_back(&start(fault));
    awaitOutcomes(together);
    for (Trial* trial : together) judge(*trial);
    g_tls_backend_set_default_database(backend, nullptr);
    EXPECT_EQ(notTheComponentsOwn(*platform::Paths::current().cachesDirectory()), std::vector<std::string>{});
    EXPECT_EQ(readFile(storedScriptOf(server->origin() + kScriptPath)), script)
        << "the ad server's script was not kept whole";

    for (auto& [fault, future] : relaunches) {
        SCOPED_TRACE(fault->name);
        const Relaunch seen = future.get();
        EXPECT_EQ(seen.failures, std::vector<std::string>{});
        EXPECT_EQ(seen.outcome, fault->outcome);
        std::printf("[ fault    ] %-50s %-14s %5.1f s for three runs\n", fault->name, seen.outcome.c_str(),
                    seen.seconds);
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
