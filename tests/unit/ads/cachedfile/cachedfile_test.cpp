// ZELCachedFile on scripted HTTP: the callback rules, the conditional
// requests, the file on disk, and objects that die in the middle of things.

#include <sys/stat.h>

#include <filesystem>

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
    std::unique_ptr<ZELCachedFile> makeFile(const std::string& url = kURL) {
        return std::make_unique<ZELCachedFile>(recorder, *platform::URL::parse(url));
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
        return recorder->events.size() == 1 ? recorder->events[0] : std::to_string(recorder->events.size()) + " reports";
    }
    static std::string failed(long code, const std::string& domain = platform::kURLErrorDomain) {
        return "failed " + domain + " " + std::to_string(code);
    }
    static std::optional<platform::Error> refusal() { return platform::Error{"test", 42, "no thanks"}; }
    std::shared_ptr<FileRecorder> recorder = std::make_shared<FileRecorder>();
};

TEST_F(CachedFileTest, StoresTheBodyWithTheServerTimeThenAsksOnlyWhetherItChanged) {
    sim().http().route(kURL, SimResponse::ok("var a = 1;", HeaderMap{{"Last-Modified", kLastModified}}).inChunks(3));
    auto file = makeFile();
    file->validate();
    EXPECT_TRUE(recorder->events.empty()) << "nothing is reported from inside validate";
    sim().runUntilIdle();
    EXPECT_EQ(outcome(), "ended");
    ASSERT_EQ(sim().http().requests().size(), 1u);
    EXPECT_EQ(sim().http().requests()[0].header("User-Agent"), ZELNetworkUtilities::userAgentString());
    fetch(*file, SimResponse::withStatus(304, {}, HeaderMap{{"Last-Modified", "Sat, 01 Jan 2000 00:00:00 GMT"}}));
    ASSERT_EQ(sim().http().requests().size(), 1u);
    EXPECT_EQ(sim().http().requests()[0].header("If-Modified-Since"), Text(kLastModified));
    EXPECT_EQ(outcome(), "ended");
    EXPECT_EQ(file->content(), Text("var a = 1;"));
    EXPECT_EQ(modificationTime(*file->filePath()), kLastModifiedUnix) << "kept, whatever the 304 says";
    file->invalidate();
    EXPECT_FALSE(file->hasContent());
    fetch(*file, SimResponse::ok("new"));
    EXPECT_FALSE(sim().http().requests()[0].header("If-Modified-Since"));
}

// Every answer is reported once, and only a whole body replaces the file: a
// failure keeps what was there. (A body cut off, too long or announced so is
// the cached-file fuzz target's; a cut, silent or oversized answer and a full
// disk are the faults test's on the real stack.)
TEST_F(CachedFileTest, EachAnswerEndsOnceAndOnlyAWholeBodyReplacesTheFile) {
    struct Case {
        const char* what;
        SimResponse answer;
        std::string outcome;
        const char* content;  // on disk afterwards
    } cases[] = {
        {"an error status", SimResponse::withStatus(404, "error page"), "failed", "old"},
        {"no content", SimResponse::withStatus(204), "failed", "old"},
        {"time-out", SimResponse::failure(platform::kURLErrorTimedOut), failed(platform::kURLErrorTimedOut), "old"},
        {"empty", SimResponse::ok(""), "ended", ""},
    };
    auto file = makeFile();
    fetch(*file, SimResponse::ok("old"));
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        fetch(*file, c.answer);
        EXPECT_EQ(outcome(), c.outcome);
        EXPECT_EQ(file->content(), Text(c.content));
        EXPECT_EQ(sim().http().inFlightCount(), 0u);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(std::filesystem::path(*file->filePath()).parent_path()), {}), 1)
        << "no temporary file left behind";
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

// (The cache buster goes: nothing in the component asks for it.)
TEST_F(CachedFileTest, NamingIsStableAndStaysInTheCachesDirectory) {
    // FNV-1a 32 reference values: a different hash would orphan every cache
    // file written so far.
    EXPECT_EQ(ZELCachedFile::fileNameHash(""), 0x811c9dc5u);
    EXPECT_EQ(ZELCachedFile::fileNameHash("foobar"), 0xbf9cf968u);
    auto a = makeFile();
    char name[16];
    std::snprintf(name, sizeof name, "%x", ZELCachedFile::fileNameHash(kURL));
    const auto caches = std::filesystem::path(*platform::Paths::current().cachesDirectory());
    EXPECT_EQ(std::filesystem::path(*a->filePath()), caches / "static.example.org" / name);
    int parsedCount = 0;
    for (const char* url : {"http://../x", "http://./x", "http://%2e%2e/x", "file:///etc/passwd"}) {
        auto parsed = platform::URL::parse(url);
        if (!parsed) continue;
        ++parsedCount;
        const auto path = std::filesystem::path(*ZELCachedFile(recorder, *parsed).filePath()).lexically_normal();
        EXPECT_EQ(path.parent_path().lexically_relative(caches).native().rfind("..", 0), std::string::npos) << path;
    }
    EXPECT_GE(parsedCount, 2) << "the hostile hosts must reach the naming";
    sim().paths().setCachesAvailable(false);
    auto nowhere = makeFile();
    EXPECT_FALSE(nowhere->filePath());
    fetch(*nowhere, SimResponse::ok("body"));
    EXPECT_EQ(outcome().rfind("failed ", 0), 0u) << outcome();
}

TEST_F(CachedFileTest, CancelIsSilentAValidateWhileFetchingStartsNothingAndTheObjectCanFetchAgain) {
    sim().http().route(kURL, SimResponse::ok("later").after(1));
    auto file = makeFile();
    file->validate();
    file->validate();
    sim().advance(0.5);
    EXPECT_EQ(sim().http().requests().size(), 1u);
    file->cancel();
    EXPECT_FALSE(file->isFetching());
    sim().advance(5);
    EXPECT_EQ(recorder->events.size(), 0u);
    EXPECT_EQ(sim().http().inFlightCount(), 0u);
    file->validate();
    sim().advance(5);
    EXPECT_EQ(outcome(), "ended");
    EXPECT_EQ(file->content(), Text("later"));
    file->invalidate();
    EXPECT_FALSE(file->hasContent());
    file->invalidate();  // nothing to delete: fine
    file->validate();
    recorder.reset();  // nobody to tell
    sim().advance(5);
    EXPECT_EQ(file->content(), Text("later"));
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

// Endings find the object idle and the file complete; its owner may destroy,
// restart or cancel it from inside any callback.
TEST_F(CachedFileTest, CallbacksFindTheObjectIdleAndMayDestroyRestartOrCancelIt) {
    std::unique_ptr<ZELCachedFile> file;
    recorder->onEnd = recorder->onFail = [&](ZELCachedFile& f) {
        EXPECT_FALSE(f.isFetching());
        file.reset();
    };
    for (const auto& ending : {SimResponse::ok("ok"), SimResponse::withStatus(304), SimResponse::withStatus(404),
                               SimResponse::failure()}) {
        file = makeFile();
        fetch(*file, ending);
        EXPECT_FALSE(file);
        EXPECT_EQ(recorder->events.size(), 1u);
    }
    // Inside the redirect question, both answers.
    for (bool refuse : {false, true}) {
        recorder->onRedirect = [&](ZELCachedFile&) {
            file.reset();
            return refuse ? refusal() : std::nullopt;
        };
        file = makeFile();
        fetch(*file, SimResponse::redirect(kElsewhere));
        EXPECT_FALSE(file);
        EXPECT_EQ(recorder->events.size(), 0u);
        EXPECT_EQ(sim().http().countOf(kElsewhere), 0u);
    }
    EXPECT_EQ(sim().http().inFlightCount(), 0u);
    int restarts = 0;
    recorder->onFail = nullptr;
    recorder->onEnd = [&](ZELCachedFile& f) {
        EXPECT_EQ(f.content(), Text("v1"));
        EXPECT_EQ(modificationTime(*f.filePath()), kLastModifiedUnix);
        if (restarts++ == 0) f.validate();
    };
    file = makeFile();
    fetch(*file, SimResponse::ok("v1", HeaderMap{{"Last-Modified", kLastModified}}));
    EXPECT_EQ(restarts, 2);
    EXPECT_EQ(sim().http().requests().size(), 2u);
    // Cancelling from the redirect question stops everything quietly.
    recorder->onRedirect = [](ZELCachedFile& f) {
        f.cancel();
        return refusal();
    };
    fetch(*file, SimResponse::redirect(kElsewhere));
    EXPECT_EQ(recorder->events.size(), 0u);
    EXPECT_EQ(sim().http().countOf(kElsewhere), 0u);
}

}  // namespace
