// ZELCachedFile on scripted HTTP: the callback rules, the conditional
// requests, the file on disk, and objects that die in the middle of things.

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "Utility/ZELNetworkUtilities.h"
#include "platform/Files.h"
#include "unit/support/FileSizeLimit.h"
#include "unit/support/SimTest.h"
#include "unit/ads/cachedfile/Recorders.h"

namespace {

using namespace cache_test;
using platform::HeaderMap;
using platform::sim::SimResponse;
using Text = std::optional<std::string>;

constexpr const char kURL[] = "http://static.example.org/ruma/sdk-core-v40.js";

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
    // A file on disk from an earlier fetch, stamped with kLastModified.
    void storeOldFile(ZELCachedFile& file, const std::string& body = "old") {
        fetch(file, SimResponse::ok(body, HeaderMap{{"Last-Modified", kLastModified}}));
        ASSERT_EQ(recorder->ends(), 1);
    }
    // How the last fetch was reported, which must be exactly once.
    std::string outcome() const {
        if (recorder->finished() != 1) return std::to_string(recorder->finished()) + " reports";
        const auto& event = recorder->events[0];
        if (event.kind == FileRecorder::Kind::End) return "ended";
        return event.error ? "failed " + std::to_string(event.error->code) : "failed";
    }
    static std::string failed(long code) { return "failed " + std::to_string(code); }

    std::shared_ptr<FileRecorder> recorder = std::make_shared<FileRecorder>();
};

TEST_F(CachedFileTest, StoresTheBodyWithTheServerTimeAndReportsOnce) {
    sim().http().route(kURL, SimResponse::ok("var a = 1;", HeaderMap{{"Last-Modified", kLastModified}}).inChunks(3));
    auto file = makeFile();
    file->validate();
    EXPECT_TRUE(recorder->events.empty()) << "nothing is reported from inside validate";
    sim().runUntilIdle();

    EXPECT_EQ(outcome(), "ended");
    EXPECT_EQ(file->httpStatusCode(), 200);
    EXPECT_EQ(file->content(), Text("var a = 1;"));
    EXPECT_EQ(modificationTime(*file->filePath()), kLastModifiedUnix);
    EXPECT_EQ(file->fileModificationDate(), Text("Tue, 15 Nov 1994 12:45:26"));

    const auto& sent = sim().http().requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_FALSE(sent[0].header("If-Modified-Since"));
    EXPECT_EQ(sent[0].header("User-Agent"), ZELNetworkUtilities::userAgentString());
}

TEST_F(CachedFileTest, ConditionalRequestOnlyWithAFileAnd304KeepsIt) {
    auto file = makeFile();
    storeOldFile(*file);

    fetch(*file, SimResponse::withStatus(304, {}, HeaderMap{{"Last-Modified", "Sat, 01 Jan 2000 00:00:00 GMT"}}));
    ASSERT_EQ(sim().http().requests().size(), 1u);
    EXPECT_EQ(sim().http().requests()[0].header("If-Modified-Since"), Text(kLastModified));
    EXPECT_EQ(outcome(), "ended");
    EXPECT_EQ(file->httpStatusCode(), 304);
    EXPECT_EQ(file->content(), Text("old"));
    EXPECT_EQ(modificationTime(*file->filePath()), kLastModifiedUnix);

    file->invalidate();
    EXPECT_FALSE(file->hasContent());
    fetch(*file, SimResponse::ok("new"));
    ASSERT_EQ(sim().http().requests().size(), 1u);
    EXPECT_FALSE(sim().http().requests()[0].header("If-Modified-Since"));
}

TEST_F(CachedFileTest, SecondValidateWhileFetchingStartsNothing) {
    sim().http().route(kURL, SimResponse::ok("x").after(2));
    auto file = makeFile();
    file->validate();
    file->validate();
    file->validateWithCacheBuster();
    sim().advance(5);
    EXPECT_EQ(sim().http().requests().size(), 1u);
    EXPECT_EQ(recorder->finished(), 1u);
}

TEST_F(CachedFileTest, UnexpectedStatusFailsWithoutErrorAndKeepsFileAndStatus) {
    auto file = makeFile();
    storeOldFile(*file);
    for (int status : {404, 204}) {
        SCOPED_TRACE(status);
        fetch(*file, SimResponse::withStatus(status, "error page", HeaderMap{{"X-Why", "because"}}));
        EXPECT_EQ(outcome(), "failed");
        EXPECT_EQ(file->httpStatusCode(), status);
        EXPECT_EQ(file->httpHeaders()->at("x-why"), "because");
        EXPECT_EQ(file->content(), Text("old"));
        EXPECT_EQ(modificationTime(*file->filePath()), kLastModifiedUnix);
    }
}

TEST_F(CachedFileTest, RedirectsAreAskedAboutAndARefusalStopsAtTheRefusedURL) {
    sim().http().route(kURL, SimResponse::redirect("/second"));
    sim().http().route("http://static.example.org/second", SimResponse::redirect("https://cdn.example.org/third"));
    sim().http().route("https://cdn.example.org/third", SimResponse::ok("third"));
    auto file = makeFile();
    file->validate();
    sim().runUntilIdle();
    EXPECT_EQ(recorder->ends(), 1);
    EXPECT_EQ(recorder->redirectsAsked.size(), 2u);
    EXPECT_EQ(file->httpDestinationURL().absoluteString(), "https://cdn.example.org/third");
    EXPECT_EQ(file->content(), Text("third"));

    const std::string target = "http://landing.example.org/page";
    sim().http().route(target, SimResponse::ok("landing"));
    recorder->onRedirect = [](ZELCachedFile&, const platform::URL&) {
        return std::optional<platform::Error>(platform::Error{"test", 42, "no thanks"});
    };
    auto refused = makeFile(std::string(kURL) + "?r");
    fetch(*refused, SimResponse::redirect(target, 301));
    EXPECT_EQ(outcome(), failed(42));
    EXPECT_EQ(refused->httpDestinationURL().absoluteString(), target);
    EXPECT_EQ(refused->httpHeaders()->at("Location"), target);
    EXPECT_EQ(refused->httpStatusCode(), 0) << "a redirect answer does not set the status";
    EXPECT_EQ(sim().http().countOf(target), 0u);
    EXPECT_FALSE(refused->hasContent());
    EXPECT_EQ(sim().http().inFlightCount(), 0u);
}

TEST_F(CachedFileTest, LastModifiedVariants) {
    struct Case {
        const char* header;
        std::optional<time_t> expected;  // none: the time of the write
    } cases[] = {
        {"Tue, 15 Nov 1994 12:45:26", kLastModifiedUnix},  // no zone: read as GMT
        {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
        {"Sunday, 06-Nov-94 08:49:37 GMT", std::nullopt},  // other date styles are not ours
        {"garbage", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        auto file = makeFile(std::string(kURL) + "?case=" + std::to_string(&c - cases));
        const time_t before = std::time(nullptr);
        fetch(*file, SimResponse::ok("body", HeaderMap{{"Last-Modified", c.header}}));
        ASSERT_EQ(recorder->ends(), 1);
        const time_t written = modificationTime(*file->filePath());
        EXPECT_TRUE(c.expected ? written == *c.expected : written >= before) << written;
    }
}

TEST_F(CachedFileTest, NamingIsStableAndIgnoresTheCacheBuster) {
    // FNV-1a 32 reference values: a different hash would orphan every cache
    // file written so far.
    EXPECT_EQ(ZELCachedFile::fileNameHash(""), 0x811c9dc5u);
    EXPECT_EQ(ZELCachedFile::fileNameHash("foobar"), 0xbf9cf968u);

    auto a = makeFile();
    auto b = makeFile();
    EXPECT_NE(a->filePath(), makeFile(std::string(kURL) + "?v=2")->filePath());
    char name[16];
    std::snprintf(name, sizeof name, "%x", ZELCachedFile::fileNameHash(kURL));
    EXPECT_EQ(std::filesystem::path(*a->filePath()),
              std::filesystem::path(*platform::Paths::current().cachesDirectory()) / "static.example.org" / name);

    sim().clock().setAbsoluteTime(700000000.6);
    sim().http().routePrefix(kURL, SimResponse::ok("busted"));
    a->validateWithCacheBuster();
    sim().runUntilIdle();
    ASSERT_EQ(sim().http().requests().size(), 1u);
    EXPECT_EQ(sim().http().requests()[0].url.absoluteString(), std::string(kURL) + "?unique=700000001");
    EXPECT_EQ(b->content(), Text("busted"));
    EXPECT_EQ(a->sourceURL().absoluteString(), kURL);
}

TEST_F(CachedFileTest, HostNeverLeadsOutOfTheCachesDirectory) {
    const auto caches = std::filesystem::path(*platform::Paths::current().cachesDirectory()).lexically_normal();
    int parsedCount = 0;
    for (const char* url : {"http://../x", "http://./x", "http://%2e%2e/x", "file:///etc/passwd"}) {
        auto parsed = platform::URL::parse(url);
        if (!parsed) continue;
        ++parsedCount;
        ZELCachedFile file(recorder, *parsed);
        ASSERT_TRUE(file.filePath()) << url;
        const auto path = std::filesystem::path(*file.filePath()).lexically_normal();
        EXPECT_EQ(path.parent_path().lexically_relative(caches).native().rfind("..", 0), std::string::npos)
            << url << " -> " << path;
        EXPECT_EQ(path.native().rfind(caches.native(), 0), 0u) << url << " -> " << path;
    }
    EXPECT_GE(parsedCount, 2) << "the hostile hosts must reach the naming";
}

TEST_F(CachedFileTest, WithoutCachesDirectoryNothingIsStoredAndTheFetchFails) {
    sim().paths().setCachesAvailable(false);
    auto file = makeFile();
    EXPECT_FALSE(file->filePath());
    EXPECT_FALSE(file->content());
    fetch(*file, SimResponse::ok("body"));
    EXPECT_EQ(outcome().rfind("failed ", 0), 0u) << outcome();
}

TEST_F(CachedFileTest, NetworkTroubleFailsOnceAndKeepsTheOldFile) {
    auto file = makeFile();
    storeOldFile(*file);
    SimResponse cut = SimResponse::ok(std::string(1000, 'n')).inChunks(100);
    cut.resetAfter = 350;
    for (const auto& answer : {SimResponse::failure(platform::kURLErrorTimedOut), cut}) {
        fetch(*file, answer);
        ASSERT_EQ(recorder->fails(), 1);
        EXPECT_EQ(recorder->events[0].error->domain, platform::kURLErrorDomain);
        EXPECT_EQ(file->content(), Text("old"));
        EXPECT_FALSE(file->isFetching());
    }
}

TEST_F(CachedFileTest, AFailedWriteIsReportedAndKeepsTheOldFile) {
    auto file = makeFile();
    storeOldFile(*file);
    {
        FileSizeLimit limit(4096);
        fetch(*file, SimResponse::ok(std::string(64 * 1024, 'n')));
    }
    EXPECT_EQ(outcome(), failed(platform::kFileWriteUnknownError));
    EXPECT_EQ(recorder->events[0].error->domain, platform::kFileErrorDomain);
    EXPECT_EQ(file->content(), Text("old"));
}

TEST_F(CachedFileTest, BodySizeIsCheckedNotTrusted) {
    struct Case {
        const char* what;
        SimResponse answer;
        std::string outcome;
        const char* content;  // on disk afterwards
    } cases[] = {
        {"announced short, delivered long: all kept",
         SimResponse::ok("0123456789abcdef", HeaderMap{{"Content-Length", "3"}}).inChunks(4), "ended",
         "0123456789abcdef"},
        {"delivered shorter than announced: a lost connection",
         SimResponse::ok("half", HeaderMap{{"Content-Length", "80"}}), failed(platform::kURLErrorNetworkConnectionLost),
         "0123456789abcdef"},
        {"a coded body's length says nothing about the decoded one",
         SimResponse::ok("decoded", HeaderMap{{"Content-Length", "80"}, {"Content-Encoding", "gzip"}}), "ended",
         "decoded"},
        {"announced absurdly long: refused before the body",
         SimResponse::ok("tiny", HeaderMap{{"Content-Length", "99999999999999999"}}),
         failed(kZELURLErrorDataLengthExceedsMaximum), "decoded"},
        {"not announced, larger than allowed", SimResponse::ok("123456789", HeaderMap{}).inChunks(3),
         failed(kZELURLErrorDataLengthExceedsMaximum), "decoded"},
    };
    auto file = makeFile();
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.outcome == failed(kZELURLErrorDataLengthExceedsMaximum)) file->setMaximumBodySize(8);
        fetch(*file, c.answer);
        EXPECT_EQ(outcome(), c.outcome);
        EXPECT_EQ(file->content(), Text(c.content));
        EXPECT_EQ(sim().http().inFlightCount(), 0u);
    }
}

TEST_F(CachedFileTest, RefetchReplacesTheWholeFileAndLeavesNoTemporaries) {
    auto file = makeFile();
    storeOldFile(*file, "a much longer first version of the body");
    fetch(*file, SimResponse::ok("short").inChunks(2));
    std::ifstream in(*file->filePath(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "short");
    const auto directory = std::filesystem::path(*file->filePath()).parent_path();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory), {}), 1);

    fetch(*file, SimResponse::ok(""));
    EXPECT_EQ(recorder->ends(), 1);
    EXPECT_EQ(file->content(), Text(""));
    EXPECT_NE(modificationTime(*file->filePath()), kLastModifiedUnix) << "no Last-Modified: time of the write";
}

TEST_F(CachedFileTest, CancelIsSilentAndTheObjectCanFetchAgain) {
    sim().http().route(kURL, SimResponse::ok("later").after(1));
    auto file = makeFile();
    file->validate();
    sim().advance(0.5);
    file->cancel();
    EXPECT_FALSE(file->isFetching());
    sim().advance(5);
    EXPECT_EQ(recorder->finished(), 0u);
    EXPECT_EQ(sim().http().inFlightCount(), 0u);

    file->validate();
    sim().advance(5);
    EXPECT_EQ(recorder->ends(), 1);
    EXPECT_EQ(file->content(), Text("later"));
    file->invalidate();
    EXPECT_FALSE(file->hasContent());
    file->invalidate();  // nothing to delete: fine
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
            if (n > 0) {
                sim().runLoop().post(0, [&destroyAfter, n] { destroyAfter(n - 1); });
                return;
            }
            wasFetching = file->isFetching();
            file.reset();
        };
        destroyAfter(turns);
        sim().runUntilIdle();
        destroyedWhileFetching += wasFetching;
        EXPECT_EQ(recorder->finished(), wasFetching ? 0u : 1u);
        EXPECT_EQ(sim().http().inFlightCount(), 0u);
    }
    EXPECT_GE(destroyedWhileFetching, 12) << "the rounds must reach into the body";
}

TEST_F(CachedFileTest, DestroyedInsideEachCallback) {
    std::unique_ptr<ZELCachedFile> file;
    // Every ending finds the object already idle, then destroys it.
    recorder->onEnd = recorder->onFail = [&](ZELCachedFile& f) {
        EXPECT_FALSE(f.isFetching());
        file.reset();
    };
    for (const auto& ending : {SimResponse::ok("ok"), SimResponse::withStatus(304), SimResponse::withStatus(404),
                               SimResponse::failure()}) {
        file = makeFile();
        fetch(*file, ending);
        EXPECT_FALSE(file);
        EXPECT_EQ(recorder->finished(), 1u);
    }

    // Inside the redirect question, both answers.
    for (bool refuse : {false, true}) {
        recorder->onRedirect = [&](ZELCachedFile&, const platform::URL&) {
            file.reset();
            return refuse ? std::optional<platform::Error>(platform::Error{"test", 1, {}}) : std::nullopt;
        };
        file = makeFile();
        fetch(*file, SimResponse::redirect("http://elsewhere.example.org/"));
        EXPECT_FALSE(file);
        EXPECT_EQ(recorder->finished(), 0u);
        EXPECT_EQ(sim().http().countOf("http://elsewhere.example.org/"), 0u);
    }
    EXPECT_EQ(sim().http().inFlightCount(), 0u);
}

TEST_F(CachedFileTest, CallbacksFindTheObjectIdleAndFinished) {
    auto file = makeFile();
    int restarts = 0;
    recorder->onEnd = [&](ZELCachedFile& f) {
        // The file is complete, its time already set, and a new fetch may start.
        EXPECT_EQ(f.content(), Text("v1"));
        EXPECT_EQ(modificationTime(*f.filePath()), kLastModifiedUnix);
        if (restarts++ == 0) f.validate();
    };
    fetch(*file, SimResponse::ok("v1", HeaderMap{{"Last-Modified", kLastModified}}));
    EXPECT_EQ(recorder->ends(), 2);
    EXPECT_EQ(sim().http().requests().size(), 2u);

    // Cancelling from the redirect question stops everything quietly.
    recorder->onRedirect = [](ZELCachedFile& f, const platform::URL&) {
        f.cancel();
        return std::optional<platform::Error>(platform::Error{"test", 1, {}});
    };
    fetch(*file, SimResponse::redirect("http://elsewhere.example.org/"));
    EXPECT_EQ(recorder->finished(), 0u);
    EXPECT_EQ(sim().http().countOf("http://elsewhere.example.org/"), 0u);
}

TEST_F(CachedFileTest, DelegateGoneMeansNobodyToTell) {
    sim().http().route(kURL, SimResponse::ok("x"));
    auto file = makeFile();
    file->validate();
    recorder.reset();
    sim().runUntilIdle();
    EXPECT_EQ(file->content(), Text("x"));
}

}  // namespace
