// ZELCachedFile on scripted HTTP: the callback rules, the conditional
// requests, the file on disk, and objects that die in the middle of things.
// (A server date in the future is the faults test's, on the real stack.)

#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "Network/ZELCachedFile.h"
#include "Utility/ZELNetworkUtilities.h"
#include "platform/Files.h"
#include "unit/support/SimTest.h"

namespace {

using platform::HeaderMap;
using platform::sim::SimResponse;
using Text = std::optional<std::string>;

constexpr const char kURL[] = "http://static.example.org/ruma/sdk-core-v40.js";
constexpr const char kElsewhere[] = "http://elsewhere.example.org/";
// A server time and its Unix value, for the stored file's modification time.
constexpr const char kLastModified[] = "Tue, 15 Nov 1994 12:45:26 GMT";
constexpr time_t kLastModifiedUnix = 784903526;

time_t modificationTime(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mtim.tv_sec;
}

// Records what the file told it, with hooks to act from inside a callback.
struct FileRecorder : ZELCachedFileDelegate {
    std::vector<std::string> events;  // "ended", or "failed" with the error's domain and code
    // What to answer to a redirect; follows when not set.
    std::function<std::optional<platform::Error>(ZELCachedFile&)> onRedirect;
    std::function<void(ZELCachedFile&)> onEnd, onFail;
    void cachedFileDownloadDidFail(ZELCachedFile& file, const std::optional<platform::Error>& error) override {
        events.push_back(error ? "failed " + error->domain + " " + std::to_string(error->code) : "failed");
        if (onFail) onFail(file);
    }
    void cachedFileDownloadDidEnd(ZELCachedFile& file) override {
        events.push_back("ended");
        if (onEnd) onEnd(file);
    }
    std::optional<platform::Error> cachedFileShouldRedirectToURL(ZELCachedFile& file, const platform::URL&) override {
        return onRedirect ? onRedirect(file) : std::nullopt;
    }
};

class CachedFileTest : public SimTest {
protected:
    std::unique_ptr<ZELCachedFile> makeFile(const std::string& url = kURL,
                                            ZELCachePurpose purpose = ZELCachePurpose::SupportScript) {
        return std::make_unique<ZELCachedFile>(recorder, *platform::URL::parse(url), purpose);
    }
    // One whole fetch of the file's URL answered with `answer`, from a clean record.
    void fetch(ZELCachedFile& file, SimResponse answer) {
        recorder->events.clear();
        sim().http().clearRequests();
        sim().http().route(file.sourceURL().absoluteString(), std::move(answer));
        file.validate();
        sim().runUntilIdle();
    }
    // How the last fetch was reported, which must be exactly once.
    std::string outcome() const {
        return recorder->events.size() == 1 ? recorder->events[0]
                                            : std::to_string(recorder->events.size()) + " reports";
    }
    static std::string failed(long code, const std::string& domain = platform::kURLErrorDomain) {
        return "failed " + domain + " " + std::to_string(code);
    }
    static std::optional<platform::Error> refusal() { return platform::Error{"test", 42, "no thanks"}; }
    std::shared_ptr<FileRecorder> recorder = std::make_shared<FileRecorder>();
};

TEST_F(CachedFileTest, StoresTheBodyWithTheServersTime) {
    sim().http().route(kURL, SimResponse::ok("var a = 1;", HeaderMap{{"Last-Modified", kLastModified}}).inChunks(3));
    auto file = makeFile();
    file->validate();
    EXPECT_TRUE(recorder->events.empty()) << "nothing is reported from inside validate";
    sim().runUntilIdle();
    EXPECT_EQ(outcome(), "ended");
    EXPECT_EQ(sim().http().requests()[0].header("User-Agent"), ZELNetworkUtilities::userAgentString());
    EXPECT_EQ(file->content(), Text("var a = 1;"));
    EXPECT_EQ(modificationTime(*file->filePath()), kLastModifiedUnix);
}

TEST_F(CachedFileTest, AsksAgainOnlyWhetherItChanged) {
    auto file = makeFile();
    fetch(*file, SimResponse::ok("var a = 1;", HeaderMap{{"Last-Modified", kLastModified}}));
    fetch(*file, SimResponse::withStatus(304, {}, HeaderMap{{"Last-Modified", "Sat, 01 Jan 2000 00:00:00 GMT"}}));
    EXPECT_EQ(sim().http().requests()[0].header("If-Modified-Since"), Text(kLastModified));
    EXPECT_EQ(outcome(), "ended");
    EXPECT_EQ(file->content(), Text("var a = 1;"));
    EXPECT_EQ(modificationTime(*file->filePath()), kLastModifiedUnix) << "kept, whatever the 304 says";
    file->invalidate();
    fetch(*file, SimResponse::ok("new"));
    EXPECT_FALSE(sim().http().requests()[0].header("If-Modified-Since")) << "nothing stored, nothing to ask about";
}

// Each answer is reported once, with the file it leaves: only a whole body
// replaces it. (A body cut off, too long or announced so is the cached-file
// fuzz target's; a cut, silent or oversized answer and a full disk are the
// faults test's on the real stack.)
TEST_F(CachedFileTest, WhatEachAnswerLeaves) {
    // clang-format off
    struct Case { const char* what; SimResponse answer; std::string outcome; const char* contentAfter; } cases[] = {
        {"an error status", SimResponse::withStatus(404, "error page"), "failed", "old"},
        {"no content", SimResponse::withStatus(204), "failed", "old"},
        {"time-out", SimResponse::failure(platform::kURLErrorTimedOut), failed(platform::kURLErrorTimedOut), "old"},
        {"empty", SimResponse::ok(""), "ended", ""},
    };
    // clang-format on
    auto file = makeFile();
    fetch(*file, SimResponse::ok("old"));
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        fetch(*file, c.answer);
        EXPECT_EQ(outcome(), c.outcome);
        EXPECT_EQ(file->content(), Text(c.contentAfter));
        EXPECT_EQ(sim().http().inFlightCount(), 0u);
    }
    const auto folder = std::filesystem::path(*file->filePath()).parent_path();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "no temporary file left behind";
}

// (Followed chains are the click tracker's.)
TEST_F(CachedFileTest, ARefusedRedirectFailsWithTheRefusalAtTheRefusedURL) {
    recorder->onRedirect = [](ZELCachedFile&) { return refusal(); };
    auto refused = makeFile();
    fetch(*refused, SimResponse::redirect(kElsewhere, 301));
    EXPECT_EQ(outcome(), failed(42, "test"));
    EXPECT_EQ(refused->httpDestinationURL().absoluteString(), kElsewhere);
    EXPECT_EQ(sim().http().countOf(kElsewhere), 0u);
    EXPECT_FALSE(refused->hasContent());
}

// A file's place: the folder of its purpose, and the SHA-256 of its URL's
// whole text (scheme, port and query all count).
TEST_F(CachedFileTest, WhereEachFileIsStored) {
    const auto root = std::filesystem::path(*platform::Paths::current().cachesDirectory()) / "nimbra";
    // A different rule would orphan every stored file.
    EXPECT_EQ(std::filesystem::path(*makeFile()->filePath()),
              root / "script" / "7062b3f1c5350d9ace019832fdb34cba599cf646de196de6cc400054f682d82d");
    EXPECT_EQ(std::filesystem::path(*makeFile(kURL, ZELCachePurpose::AdMarkup)->filePath()).parent_path(),
              root / "markup");
    EXPECT_FALSE(makeFile(kURL, ZELCachePurpose::Tracker)->filePath()) << "trackers store nothing";
    std::set<std::string> names;
    for (const char* url :
         {kURL, "https://static.example.org/ruma/sdk-core-v40.js", "http://static.example.org:81/ruma/sdk-core-v40.js",
          "http://static.example.org/ruma/sdk-core-v40.js?a"})
        names.insert(*makeFile(url)->filePath());
    EXPECT_EQ(names.size(), 4u);
}

TEST_F(CachedFileTest, WithoutACachesDirectoryAFetchFails) {
    sim().paths().setCachesAvailable(false);
    auto nowhere = makeFile();
    EXPECT_FALSE(nowhere->filePath());
    fetch(*nowhere, SimResponse::ok("body"));
    EXPECT_EQ(outcome().rfind("failed ", 0), 0u) << outcome();
}

// The body's size and the whole download's time, by purpose. A tracker's
// answer has been seen once it is over: the rest is not read.
TEST_F(CachedFileTest, EachPurposeHasItsBounds) {
    // clang-format off
    struct Case { ZELCachePurpose purpose; size_t maximum; double deadline; const char* overMaximum; } cases[] = {
        {ZELCachePurpose::SupportScript, kZELSupportScriptMaximumSize, kZELSupportScriptDeadline, "failed NSURLErrorDomain -1103"},
        {ZELCachePurpose::AdMarkup, kZELAdMarkupMaximumSize, kZELAdMarkupDeadline, "failed NSURLErrorDomain -1103"},
        {ZELCachePurpose::Tracker, kZELTrackerMaximumBodySize, kZELTrackerDeadline, "ended"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.maximum);
        auto file = makeFile(kURL, c.purpose);
        const std::string over(c.maximum + 1, 'x');
        for (const auto& headers : {HeaderMap{}, HeaderMap{{"Content-Length", std::to_string(over.size())}}}) {
            fetch(*file, SimResponse::ok(over, headers).inChunks(c.maximum / 2 + 1));
            EXPECT_EQ(outcome(), c.overMaximum);
        }
        fetch(*file, SimResponse::ok(std::string(c.maximum, 'x')));
        EXPECT_EQ(outcome(), "ended");
        fetch(*file, SimResponse::ok("late").after(c.deadline + 1));
        sim().advance(c.deadline + 2);
        EXPECT_EQ(outcome(), failed(platform::kURLErrorTimedOut)) << "told once, the late answer not at all";
        fetch(*file, SimResponse::ok("in time").after(c.deadline - 1));
        sim().advance(c.deadline);
        EXPECT_EQ(outcome(), "ended");
    }
}

// Once a chain has reached https, what is stored and run never comes over
// plain http; a tracker, which stores nothing, follows.
TEST_F(CachedFileTest, NoStepDownFromHttpsForWhatIsStored) {
    constexpr const char kSecure[] = "https://static.example.org/secure";
    constexpr const char kPlain[] = "http://elsewhere.example.org/plain";
    const std::string refused = failed(kZELURLErrorInsecureRedirect);
    // clang-format off
    struct Case { const char* from; ZELCachePurpose purpose; std::string outcome; } cases[] = {
        {kSecure, ZELCachePurpose::SupportScript, refused},
        {kSecure, ZELCachePurpose::AdMarkup, refused},
        {"http://static.example.org/up", ZELCachePurpose::AdMarkup, refused},  // up to https, then down
        {kSecure, ZELCachePurpose::Tracker, "ended"},
    };
    // clang-format on
    sim().http().route(kSecure, SimResponse::redirect(kPlain));
    sim().http().route(kPlain, SimResponse::ok("plain"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        auto file = makeFile(c.from, c.purpose);
        fetch(*file,
              std::string_view(c.from) == kSecure ? SimResponse::redirect(kPlain) : SimResponse::redirect(kSecure));
        EXPECT_EQ(outcome(), c.outcome);
        EXPECT_EQ(sim().http().countOf(kPlain), c.outcome == refused ? 0u : 1u);
    }
}

TEST_F(CachedFileTest, CancelIsSilent) {
    auto file = makeFile();
    fetch(*file, SimResponse::ok("later").after(1));
    file->cancel();
    EXPECT_FALSE(file->isFetching());
    sim().advance(5);
    EXPECT_EQ(recorder->events.size(), 0u);
    EXPECT_EQ(sim().http().inFlightCount(), 0u);
    recorder.reset();  // the next fetch has nobody to tell, and still stores
    file->validate();
    sim().advance(5);
    EXPECT_EQ(file->content(), Text("later"));
}

// One fetch at a time, and as many in a row as the owner likes.
TEST_F(CachedFileTest, AValidateWhileFetchingStartsNothing) {
    auto file = makeFile();
    fetch(*file, SimResponse::ok("later").after(1));
    file->validate();
    sim().advance(5);
    EXPECT_EQ(sim().http().requests().size(), 1u);
    EXPECT_EQ(outcome(), "ended");
    file->invalidate();
    file->invalidate();  // nothing to delete: fine
    fetch(*file, SimResponse::ok("again"));
    EXPECT_EQ(file->content(), Text("again"));
}

// Owners may drop the object at any point, also from inside its callbacks.
TEST_F(CachedFileTest, DestroyedInTheMiddleOfAFetch) {
    sim().http().route(kURL, SimResponse::ok(std::string(100, 'b')).inChunks(10));
    int destroyedWhileFetching = 0;
    // Each round lets the fetch go one turn further before the object dies:
    // before the request, after it, after the answer, between body pieces...
    for (int turns = 0; turns < 16; ++turns) {
        SCOPED_TRACE(turns);
        recorder->events.clear();
        auto file = makeFile();
        file->validate();
        bool wasFetching = false;
        std::function<void(int)> destroyAfter = [&](int n) {
            if (n > 0) return void(sim().runLoop().post(0, [&destroyAfter, n] { destroyAfter(n - 1); }));
            wasFetching = file->isFetching();
            file.reset();
        };
        destroyAfter(turns);
        sim().runUntilIdle();
        destroyedWhileFetching += wasFetching;
        EXPECT_EQ(recorder->events.size(), wasFetching ? 0u : 1u);
        EXPECT_EQ(sim().http().inFlightCount(), 0u);
    }
    EXPECT_GE(destroyedWhileFetching, 12) << "the rounds must reach into the body";
}

// Endings find the object idle; its owner may destroy it from inside any
// callback, the redirect question included, whatever it answers, or cancel
// from there: nothing more is asked or told.
TEST_F(CachedFileTest, CallbacksMayDestroyOrCancelTheObject) {
    std::unique_ptr<ZELCachedFile> file;
    recorder->onEnd = recorder->onFail = [&](ZELCachedFile& f) {
        EXPECT_FALSE(f.isFetching());
        file.reset();
    };
    for (const auto& ending :
         {SimResponse::ok("ok"), SimResponse::withStatus(304), SimResponse::withStatus(404), SimResponse::failure()}) {
        file = makeFile();
        fetch(*file, ending);
        EXPECT_FALSE(file);
        EXPECT_EQ(recorder->events.size(), 1u);
    }
    for (int answer : {0, 1, 2}) {  // destroy and follow, destroy and refuse, cancel and refuse
        recorder->onRedirect = [&](ZELCachedFile& f) {
            answer == 2 ? f.cancel() : file.reset();
            return answer ? refusal() : std::nullopt;
        };
        file = makeFile();
        fetch(*file, SimResponse::redirect(kElsewhere));
        EXPECT_EQ(recorder->events.size(), 0u);
        EXPECT_EQ(sim().http().countOf(kElsewhere), 0u);
    }
    EXPECT_EQ(sim().http().inFlightCount(), 0u);
}

TEST_F(CachedFileTest, AnEndMayStartTheNextFetch) {
    int restarts = 0;
    recorder->onEnd = [&](ZELCachedFile& f) {
        EXPECT_EQ(f.content(), Text("v1"));
        EXPECT_EQ(modificationTime(*f.filePath()), kLastModifiedUnix);
        if (restarts++ == 0) f.validate();
    };
    auto file = makeFile();
    fetch(*file, SimResponse::ok("v1", HeaderMap{{"Last-Modified", kLastModified}}));
    EXPECT_EQ(restarts, 2);
    EXPECT_EQ(sim().http().requests().size(), 2u);
}

namespace fs = std::filesystem;

fs::perms permissionsOf(const fs::path& path) { return fs::status(path).permissions() & fs::perms::all; }

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    ASSERT_FALSE(platform::writeFileAtomically(path, text, {.flushToDisk = false, .modificationTime = std::nullopt}));
}

// Stored after `before`: the change time, which orders the cache, moves on.
void storeAfter(const fs::path& path, const fs::path& before) {
    writeFile(path, "1234");
    struct stat a = {}, b = {};
    ::stat(before.c_str(), &b);
    while (::stat(path.c_str(), &a) == 0 &&
           std::pair(a.st_ctim.tv_sec, a.st_ctim.tv_nsec) <= std::pair(b.st_ctim.tv_sec, b.st_ctim.tv_nsec))
        ::chmod(path.c_str(), 0600);
}

class CacheFolderTest : public CachedFileTest {
protected:
    const fs::path caches = *platform::Paths::current().cachesDirectory(), root = caches / "nimbra";
};

TEST_F(CacheFolderTest, TheFolderStaysPrivate) {
    auto file = makeFile();
    fetch(*file, SimResponse::ok("script"));
    EXPECT_EQ(permissionsOf(root), fs::perms::owner_all);
    EXPECT_EQ(permissionsOf(root / "script"), fs::perms::owner_all);
    EXPECT_EQ(permissionsOf(*file->filePath()), fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    ZELCacheFolder::prepare();
    EXPECT_EQ(permissionsOf(root), fs::perms::owner_all);
}

// A crash in the middle of a write, the old layout (host folders of 32-bit
// names) go; what others keep in the caches directory stays.
TEST_F(CacheFolderTest, OnlyWhatTheRuleNamesStays) {
    auto file = makeFile();
    fetch(*file, SimResponse::ok("script"));
    const std::vector<fs::path> gone{*file->filePath() + ".Ab12Cd", root / "markup" / "notes",
                                     caches / "static.example.org" / "1a2b3c",
                                     caches / "static.example.org" / "1a2b3c.Xy12Z9"};
    const std::vector<fs::path> others{caches / "webkit" / "1a2b3c", caches / "mine" / "deadbeef",
                                       caches / "mine" / "notes.txt"};
    for (const auto& path : gone) writeFile(path, "x");
    for (const auto& path : others) writeFile(path, "x");
    ZELCacheFolder::prepare();
    EXPECT_EQ(file->content(), Text("script"));
    for (const auto& path : gone) EXPECT_FALSE(fs::exists(path)) << path;
    EXPECT_FALSE(fs::exists(caches / "static.example.org"));
    for (const auto& path : others) EXPECT_TRUE(fs::exists(path)) << path;
}

// Oldest first, whatever the names; never the file just stored.
TEST_F(CacheFolderTest, TheLimitTakesTheOldestFirst) {
    const fs::path c = root / "markup" / std::string(64, 'c'), b = root / "markup" / std::string(64, 'b'),
                   a = root / "markup" / std::string(64, 'a');
    writeFile(c, "1234");
    storeAfter(b, c);
    storeAfter(a, b);
    ZELCacheFolder::trim({}, 8);
    EXPECT_EQ(std::tuple(fs::exists(a), fs::exists(b), fs::exists(c)), std::tuple(true, true, false));
    ZELCacheFolder::trim(a, 0);
    EXPECT_EQ(std::tuple(fs::exists(a), fs::exists(b)), std::tuple(true, false));
}

}  // namespace
