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
#include "unit/support/SimTest.h"
#include "unit/ads/cachedfile/Recorders.h"

namespace {

using namespace cache_test;
using platform::HeaderMap;
using platform::sim::SimResponse;

constexpr const char kURL[] = "http://static.example.org/ruma/sdk-core-v40.js";
std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class CachedFileTest : public SimTest {
protected:
    std::unique_ptr<ZELCachedFile> makeFile(const std::string& url = kURL) {
        return std::make_unique<ZELCachedFile>(recorder, *platform::URL::parse(url));
    }
    // A file on disk from an earlier fetch, stamped with kLastModified.
    void storeOldFile(ZELCachedFile& file, const std::string& body = "old") {
        sim().http().route(file.sourceURL().absoluteString(),
                           SimResponse::ok(body, HeaderMap{{"Last-Modified", kLastModified}}));
        file.validate();
        sim().runUntilIdle();
        ASSERT_EQ(recorder->ends(), 1);
        recorder->events.clear();
        sim().http().clearRequests();
    }

    std::shared_ptr<FileRecorder> recorder = std::make_shared<FileRecorder>();
};

TEST_F(CachedFileTest, StoresTheBodyWithTheServerTimeAndReportsOnce) {
    sim().http().route(kURL, SimResponse::ok("var a = 1;", HeaderMap{{"Last-Modified", kLastModified}}).inChunks(3));
    auto file = makeFile();
    EXPECT_FALSE(file->hasContent());
    file->validate();
    EXPECT_TRUE(recorder->events.empty()) << "nothing is reported from inside validate";
    sim().runUntilIdle();

    ASSERT_EQ(recorder->finished(), 1u);
    EXPECT_EQ(recorder->ends(), 1);
    EXPECT_EQ(file->httpStatusCode(), 200);
    EXPECT_EQ(file->content(), std::optional<std::string>("var a = 1;"));
    EXPECT_EQ(modificationTime(*file->filePath()), kLastModifiedUnix);
    EXPECT_EQ(file->fileModificationDate(), std::optional<std::string>("Tue, 15 Nov 1994 12:45:26"));
    EXPECT_FALSE(file->isFetching());

    const auto& sent = sim().http().requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_FALSE(sent[0].header("If-Modified-Since"));
    EXPECT_EQ(sent[0].url.absoluteString(), kURL);
    if (auto agent = ZELNetworkUtilities::userAgentString())
        EXPECT_EQ(sent[0].header("User-Agent"), agent);
    else
        EXPECT_FALSE(sent[0].header("User-Agent")) << "no agent of our own before one is captured";
}

TEST_F(CachedFileTest, ConditionalRequestOnlyWithAFileAnd304KeepsIt) {
    auto file = makeFile();
    storeOldFile(*file);

    sim().http().route(kURL, SimResponse::withStatus(304, {}, HeaderMap{{"Last-Modified", "Sat, 01 Jan 2000 00:00:00 GMT"}}));
    file->validate();
    sim().runUntilIdle();
    ASSERT_EQ(sim().http().requests().size(), 1u);
    EXPECT_EQ(sim().http().requests()[0].header("If-Modified-Since"), std::optional<std::string>(kLastModified));
    EXPECT_EQ(recorder->ends(), 1);
    EXPECT_EQ(recorder->fails(), 0);
    EXPECT_EQ(file->httpStatusCode(), 304);
    EXPECT_EQ(file->content(), std::optional<std::string>("old"));
    EXPECT_EQ(modificationTime(*file->filePath()), kLastModifiedUnix);

    file->invalidate();
    EXPECT_FALSE(file->hasContent());
    sim().http().clearRequests();
    file->validate();
    sim().runUntilIdle();
    ASSERT_EQ(sim().http().requests().size(), 1u);
    EXPECT_FALSE(sim().http().requests()[0].header("If-Modified-Since"));
}

TEST_F(CachedFileTest, SecondValidateWhileFetchingStartsNothing) {
    sim().http().route(kURL, SimResponse::ok("x").after(2));
    auto file = makeFile();
    file->validate();
    file->validate();
    file->validateWithCacheBuster();
    sim().runUntil([&] { return recorder->finished() > 0; });
    sim().advance(5);
    EXPECT_EQ(sim().http().requests().size(), 1u);
    EXPECT_EQ(recorder->finished(), 1u);
}

TEST_F(CachedFileTest, UnexpectedStatusFailsWithoutErrorAndKeepsFileAndStatus) {
    auto file = makeFile();
    storeOldFile(*file);
    for (int status : {404, 500, 204}) {
        recorder->events.clear();
        sim().http().route(kURL, SimResponse::withStatus(status, "error page", HeaderMap{{"X-Why", "because"}}));
        file->validate();
        sim().runUntilIdle();
        ASSERT_EQ(recorder->finished(), 1u) << status;
        EXPECT_EQ(recorder->fails(), 1) << status;
        EXPECT_FALSE(recorder->events[0].error) << status;
        EXPECT_EQ(file->httpStatusCode(), status);
        ASSERT_TRUE(file->httpHeaders());
        EXPECT_EQ(file->httpHeaders()->at("x-why"), "because");
        EXPECT_EQ(file->content(), std::optional<std::string>("old"));
        EXPECT_EQ(modificationTime(*file->filePath()), kLastModifiedUnix);
    }
}

TEST_F(CachedFileTest, RefusedRedirectStopsAtTheRefusedURL) {
    const std::string target = "http://landing.example.org/page";
    sim().http().route(kURL, SimResponse::redirect(target, 301));
    sim().http().route(target, SimResponse::ok("landing"));
    recorder->onRedirect = [](ZELCachedFile& f, const platform::URL&) {
        EXPECT_TRUE(f.isFetching());
        return std::optional<platform::Error>(platform::Error{"test", 42, "no thanks"});
    };
    auto file = makeFile();
    file->validate();
    sim().runUntilIdle();

    ASSERT_EQ(recorder->finished(), 1u);
    ASSERT_TRUE(recorder->events[0].error);
    EXPECT_EQ(recorder->events[0].error->code, 42);
    EXPECT_EQ(recorder->redirectsAsked, std::vector<std::string>{target});
    EXPECT_EQ(file->httpDestinationURL().absoluteString(), target);
    EXPECT_EQ(file->sourceURL().absoluteString(), kURL);
    ASSERT_TRUE(file->httpHeaders());
    EXPECT_EQ(file->httpHeaders()->at("Location"), target);
    EXPECT_EQ(file->httpStatusCode(), 0) << "a redirect answer does not set the status";
    EXPECT_EQ(sim().http().countOf(target), 0u);
    EXPECT_FALSE(file->hasContent());
    EXPECT_EQ(sim().http().inFlightCount(), 0u);
}

TEST_F(CachedFileTest, FollowedRedirectsTrackTheDestination) {
    sim().http().route(kURL, SimResponse::redirect("/second"));
    sim().http().route("http://static.example.org/second", SimResponse::redirect("https://cdn.example.org/third"));
    sim().http().route("https://cdn.example.org/third", SimResponse::ok("third"));
    auto file = makeFile();
    file->validate();
    sim().runUntilIdle();
    EXPECT_EQ(recorder->ends(), 1);
    EXPECT_EQ(recorder->redirectsAsked.size(), 2u);
    EXPECT_EQ(file->httpDestinationURL().absoluteString(), "https://cdn.example.org/third");
    EXPECT_EQ(file->content(), std::optional<std::string>("third"));
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
        {"GMT", std::nullopt},
    };
    for (const auto& c : cases) {
        auto file = makeFile(std::string(kURL) + "?case=" + std::to_string(&c - cases));
        sim().http().route(file->sourceURL().absoluteString(),
                           SimResponse::ok("body", HeaderMap{{"Last-Modified", c.header}}));
        const time_t before = std::time(nullptr);
        file->validate();
        sim().runUntilIdle();
        ASSERT_TRUE(file->hasContent()) << c.header;
        if (c.expected)
            EXPECT_EQ(modificationTime(*file->filePath()), *c.expected) << c.header;
        else
            EXPECT_GE(modificationTime(*file->filePath()), before) << c.header;
    }
    EXPECT_EQ(recorder->ends(), 5);
}

TEST_F(CachedFileTest, NamingIsStableAndIgnoresTheCacheBuster) {
    // FNV-1a 32 reference values: a different hash would orphan every cache
    // file written so far.
    EXPECT_EQ(ZELCachedFile::fileNameHash(""), 0x811c9dc5u);
    EXPECT_EQ(ZELCachedFile::fileNameHash("foobar"), 0xbf9cf968u);

    auto a = makeFile();
    auto b = makeFile();
    auto c = makeFile(std::string(kURL) + "?v=2");
    ASSERT_TRUE(a->filePath());
    EXPECT_EQ(a->filePath(), b->filePath());
    EXPECT_NE(a->filePath(), c->filePath());
    char name[16];
    std::snprintf(name, sizeof name, "%x", ZELCachedFile::fileNameHash(kURL));
    const auto caches = platform::Paths::current().cachesDirectory();
    EXPECT_EQ(std::filesystem::path(*a->filePath()),
              std::filesystem::path(*caches) / "static.example.org" / name);

    sim().clock().setAbsoluteTime(700000000.6);
    sim().http().routePrefix(kURL, SimResponse::ok("busted"));
    a->validateWithCacheBuster();
    sim().runUntilIdle();
    ASSERT_EQ(sim().http().requests().size(), 1u);
    EXPECT_EQ(sim().http().requests()[0].url.absoluteString(), std::string(kURL) + "?unique=700000001");
    EXPECT_EQ(b->content(), std::optional<std::string>("busted"));
    EXPECT_EQ(a->sourceURL().absoluteString(), kURL);
}

TEST_F(CachedFileTest, HostNeverLeadsOutOfTheCachesDirectory) {
    const auto caches = std::filesystem::path(*platform::Paths::current().cachesDirectory());
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
        EXPECT_EQ(path.native().rfind(caches.lexically_normal().native(), 0), 0u) << url << " -> " << path;
    }
    EXPECT_GE(parsedCount, 2) << "the hostile hosts must reach the naming";
}

TEST_F(CachedFileTest, WithoutCachesDirectoryNothingIsStoredAndTheFetchFails) {
    sim().paths().setCachesAvailable(false);
    sim().http().route(kURL, SimResponse::ok("body"));
    auto file = makeFile();
    EXPECT_FALSE(file->filePath());
    EXPECT_FALSE(file->hasContent());
    EXPECT_FALSE(file->content());
    EXPECT_FALSE(file->fileModificationDate());
    file->validate();
    sim().runUntilIdle();
    ASSERT_EQ(recorder->fails(), 1);
    EXPECT_TRUE(recorder->events[0].error);
    EXPECT_EQ(recorder->ends(), 0);
}

TEST_F(CachedFileTest, NetworkTroubleFailsOnceAndKeepsTheOldFile) {
    auto file = makeFile();
    storeOldFile(*file);
    SimResponse cut = SimResponse::ok(std::string(1000, 'n')).inChunks(100);
    cut.resetAfter = 350;
    const SimResponse answers[] = {SimResponse::failure(platform::kURLErrorTimedOut), cut};
    for (const auto& answer : answers) {
        recorder->events.clear();
        sim().http().route(kURL, answer);
        file->validate();
        sim().runUntilIdle();
        ASSERT_EQ(recorder->finished(), 1u);
        ASSERT_TRUE(recorder->events[0].error);
        EXPECT_EQ(recorder->events[0].error->domain, platform::kURLErrorDomain);
        EXPECT_EQ(file->content(), std::optional<std::string>("old"));
        EXPECT_FALSE(file->isFetching());
    }
}

TEST_F(CachedFileTest, BodySizeIsCheckedNotTrusted) {
    auto file = makeFile();
    storeOldFile(*file);

    // Announced short, delivered long: all of it is kept.
    sim().http().route(kURL, SimResponse::ok("0123456789abcdef", HeaderMap{{"Content-Length", "3"}}).inChunks(4));
    file->validate();
    sim().runUntilIdle();
    EXPECT_EQ(recorder->ends(), 1);
    EXPECT_EQ(file->content(), std::optional<std::string>("0123456789abcdef"));

    // Delivered shorter than announced: a lost connection, nothing stored.
    recorder->events.clear();
    sim().http().route(kURL, SimResponse::ok("half", HeaderMap{{"Content-Length", "80"}}));
    file->validate();
    sim().runUntilIdle();
    ASSERT_EQ(recorder->fails(), 1);
    EXPECT_EQ(recorder->events[0].error->code, platform::kURLErrorNetworkConnectionLost);
    EXPECT_EQ(file->content(), std::optional<std::string>("0123456789abcdef"));

    // A coded body's length says nothing about the decoded one.
    recorder->events.clear();
    sim().http().route(kURL, SimResponse::ok("decoded", HeaderMap{{"Content-Length", "80"}, {"Content-Encoding", "gzip"}}));
    file->validate();
    sim().runUntilIdle();
    EXPECT_EQ(recorder->ends(), 1);
    EXPECT_EQ(file->content(), std::optional<std::string>("decoded"));

    // Announced absurdly long: no huge buffer, refused before the body.
    recorder->events.clear();
    file->setMaximumBodySize(8);
    sim().http().route(kURL, SimResponse::ok("tiny", HeaderMap{{"Content-Length", "99999999999999999"}}));
    file->validate();
    sim().runUntilIdle();
    ASSERT_EQ(recorder->fails(), 1);
    EXPECT_EQ(recorder->events[0].error->code, kZELURLErrorDataLengthExceedsMaximum);

    // Not announced, larger than allowed: stopped at the limit.
    recorder->events.clear();
    sim().http().route(kURL, SimResponse::ok("123456789", HeaderMap{}).inChunks(3));
    file->validate();
    sim().runUntilIdle();
    ASSERT_EQ(recorder->finished(), 1u);
    EXPECT_EQ(recorder->fails(), 1);
    EXPECT_EQ(recorder->events[0].error->code, kZELURLErrorDataLengthExceedsMaximum);
    EXPECT_EQ(file->content(), std::optional<std::string>("decoded"));
    EXPECT_EQ(sim().http().inFlightCount(), 0u);
}

TEST_F(CachedFileTest, RefetchReplacesTheWholeFileAndLeavesNoTemporaries) {
    auto file = makeFile();
    storeOldFile(*file, "a much longer first version of the body");
    sim().http().route(kURL, SimResponse::ok("short").inChunks(2));
    file->validate();
    sim().runUntilIdle();
    EXPECT_EQ(recorder->ends(), 1);
    EXPECT_EQ(readFile(*file->filePath()), "short");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(std::filesystem::path(*file->filePath()).parent_path()),
                            {}),
              1);

    sim().http().route(kURL, SimResponse::ok(""));
    file->validate();
    sim().runUntilIdle();
    EXPECT_EQ(recorder->ends(), 2);
    EXPECT_TRUE(file->hasContent());
    EXPECT_EQ(file->content(), std::optional<std::string>(""));
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
    EXPECT_FALSE(file->hasContent());
    EXPECT_EQ(sim().http().inFlightCount(), 0u);

    file->validate();
    sim().advance(5);
    EXPECT_EQ(recorder->ends(), 1);
    EXPECT_EQ(file->content(), std::optional<std::string>("later"));

    file->invalidate();
    EXPECT_FALSE(file->hasContent());
    file->invalidate();  // nothing to delete: fine
}

// Owners may drop the object at any point, also from inside its callbacks.
class CachedFileLifetimeTest : public CachedFileTest {};

TEST_F(CachedFileLifetimeTest, DestroyedInTheMiddleOfAFetch) {
    sim().http().route(kURL, SimResponse::ok(std::string(100, 'b')).inChunks(10));
    int destroyedWhileFetching = 0;
    // Each round lets the fetch go one turn further before the object dies:
    // before the request, after it, after the answer, between body pieces...
    for (int turns = 0; turns < 16; ++turns) {
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
        EXPECT_FALSE(file);
        if (wasFetching) {
            ++destroyedWhileFetching;
            EXPECT_EQ(recorder->finished(), 0u) << turns;
        } else {
            EXPECT_EQ(recorder->ends(), 1) << turns;
        }
        EXPECT_EQ(sim().http().inFlightCount(), 0u) << turns;
    }
    EXPECT_GE(destroyedWhileFetching, 12) << "the rounds must reach into the body";
}

TEST_F(CachedFileLifetimeTest, DestroyedInsideEachCallback) {
    std::unique_ptr<ZELCachedFile> file;
    // Every ending finds the object already idle, then destroys it.
    recorder->onEnd = [&](ZELCachedFile& f) {
        EXPECT_FALSE(f.isFetching());
        file.reset();
    };
    recorder->onFail = [&](ZELCachedFile& f) {
        EXPECT_FALSE(f.isFetching());
        file.reset();
    };

    const SimResponse endings[] = {SimResponse::ok("ok", HeaderMap{{"Last-Modified", kLastModified}}),
                                   SimResponse::withStatus(304), SimResponse::withStatus(404),
                                   SimResponse::failure()};
    for (const auto& ending : endings) {
        sim().http().route(kURL, ending);
        file = makeFile();
        file->validate();
        sim().runUntilIdle();
        EXPECT_FALSE(file);
    }
    EXPECT_EQ(recorder->finished(), 4u);

    // Inside the redirect question, both answers.
    sim().http().route(kURL, SimResponse::redirect("http://elsewhere.example.org/"));
    for (bool refuse : {false, true}) {
        recorder->events.clear();
        recorder->onRedirect = [&](ZELCachedFile&, const platform::URL&) {
            file.reset();
            return refuse ? std::optional<platform::Error>(platform::Error{"test", 1, {}}) : std::nullopt;
        };
        file = makeFile();
        file->validate();
        sim().runUntilIdle();
        EXPECT_FALSE(file);
        EXPECT_EQ(recorder->finished(), 0u);
        EXPECT_EQ(sim().http().countOf("http://elsewhere.example.org/"), 0u);
    }
    EXPECT_EQ(sim().http().inFlightCount(), 0u);
}

TEST_F(CachedFileLifetimeTest, CallbacksFindTheObjectIdleAndFinished) {
    sim().http().route(kURL, SimResponse::ok("v1", HeaderMap{{"Last-Modified", kLastModified}}));
    auto file = makeFile();
    int restarts = 0;
    recorder->onEnd = [&](ZELCachedFile& f) {
        // The file is complete, its time already set, and a new fetch may start.
        EXPECT_FALSE(f.isFetching());
        EXPECT_EQ(f.content(), std::optional<std::string>("v1"));
        EXPECT_EQ(modificationTime(*f.filePath()), kLastModifiedUnix);
        if (restarts++ == 0) f.validate();
    };
    file->validate();
    sim().runUntilIdle();
    EXPECT_EQ(recorder->ends(), 2);
    EXPECT_EQ(sim().http().requests().size(), 2u);

    // Cancelling from the redirect question stops everything quietly.
    recorder->events.clear();
    sim().http().route(kURL, SimResponse::redirect("http://elsewhere.example.org/"));
    recorder->onRedirect = [](ZELCachedFile& f, const platform::URL&) {
        f.cancel();
        return std::optional<platform::Error>(platform::Error{"test", 1, {}});
    };
    file->validate();
    sim().runUntilIdle();
    EXPECT_EQ(recorder->finished(), 0u);
    EXPECT_EQ(sim().http().countOf("http://elsewhere.example.org/"), 0u);
}

TEST_F(CachedFileLifetimeTest, DelegateGoneMeansNobodyToTell) {
    sim().http().route(kURL, SimResponse::ok("x"));
    auto file = makeFile();
    file->validate();
    recorder.reset();
    sim().runUntilIdle();
    EXPECT_FALSE(file->isFetching());
    EXPECT_EQ(file->content(), std::optional<std::string>("x"));
}

}  // namespace
