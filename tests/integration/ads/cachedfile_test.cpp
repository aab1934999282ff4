// ZELCachedFile on real HTTP: libsoup underneath, a SoupServer on loopback in
// front, real files in the test's caches directory.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "integration/ads/CacheTestSupport.h"
#include "integration/ads/LoopbackHttpServer.h"
#include "unit/ads/cachedfile/Recorders.h"

namespace {

constexpr const char kLastModified[] = "Tue, 15 Nov 1994 12:45:26 GMT";
constexpr time_t kLastModifiedUnix = 784903526;

time_t modificationTime(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mtim.tv_sec;
}

class CachedFileHttp : public CacheIntegrationTest {
protected:
    std::unique_ptr<ZELCachedFile> makeFile(const std::string& path) {
        return std::make_unique<ZELCachedFile>(recorder, *platform::URL::parse(server.url(path)));
    }
    // Runs one fetch to its end (or until something reports).
    void fetch(ZELCachedFile& file) {
        const size_t before = recorder->finished();
        file.validate();
        ASSERT_TRUE(spinUntil([&] { return recorder->finished() > before; })) << "the fetch never ended";
    }

    LoopbackHttpServer server;
    std::shared_ptr<FileRecorder> recorder = std::make_shared<FileRecorder>();
};

TEST_F(CachedFileHttp, StoresBodyWithServerTimeThenRevalidatesWith304) {
    int bodies = 0;
    server.route("/script.js", [&](const LoopbackHttpServer::Request& r) {
        LoopbackHttpServer::Reply reply;
        if (r.header("if-modified-since") == std::optional<std::string>(kLastModified)) {
            reply.status = 304;
        } else {
            ++bodies;
            reply.body = "var x = 1;";
            reply.headers = {{"Last-Modified", kLastModified}};
        }
        return reply;
    });
    auto file = makeFile("/script.js");

    fetch(*file);
    ASSERT_EQ(recorder->ends(), 1);
    EXPECT_EQ(recorder->fails(), 0);
    EXPECT_EQ(file->httpStatusCode(), 200);
    EXPECT_EQ(file->content(), std::optional<std::string>("var x = 1;"));
    EXPECT_EQ(modificationTime(*file->filePath()), kLastModifiedUnix);
    EXPECT_EQ(file->fileModificationDate(), std::optional<std::string>("Tue, 15 Nov 1994 12:45:26"));
    EXPECT_FALSE(server.requests().at(0).header("if-modified-since")) << "no file yet, nothing to compare";

    fetch(*file);
    EXPECT_EQ(recorder->ends(), 2);
    EXPECT_EQ(file->httpStatusCode(), 304);
    EXPECT_EQ(bodies, 1);
    EXPECT_EQ(server.requests().at(1).header("if-modified-since"), std::optional<std::string>(kLastModified));
    EXPECT_EQ(file->content(), std::optional<std::string>("var x = 1;"));
    EXPECT_EQ(modificationTime(*file->filePath()), kLastModifiedUnix);

    // Another object for the same URL finds the same file, in this or any run.
    auto again = makeFile("/script.js");
    EXPECT_EQ(again->filePath(), file->filePath());
    EXPECT_TRUE(again->hasContent());
}

TEST_F(CachedFileHttp, NotFoundFailsWithoutErrorAndKeepsOldFile) {
    LoopbackHttpServer::Reply ok;
    ok.body = "old";
    server.route("/ad", ok);
    auto file = makeFile("/ad");
    fetch(*file);
    ASSERT_EQ(recorder->ends(), 1);

    LoopbackHttpServer::Reply missing;
    missing.status = 404;
    missing.body = "not here";
    missing.headers = {{"X-Reason", "gone"}};
    server.route("/ad", missing);
    fetch(*file);
    ASSERT_EQ(recorder->fails(), 1);
    EXPECT_FALSE(recorder->events.back().error.has_value());
    EXPECT_EQ(file->httpStatusCode(), 404);
    ASSERT_TRUE(file->httpHeaders());
    EXPECT_EQ(file->httpHeaders()->at("x-reason"), "gone");
    EXPECT_EQ(file->content(), std::optional<std::string>("old"));
}

TEST_F(CachedFileHttp, RefusedRedirectStopsAtTheRefusedURL) {
    server.route("/click", LoopbackHttpServer::redirect("/landing"));
    server.route("/landing", LoopbackHttpServer::Reply{});
    recorder->onRedirect = [](ZELCachedFile&, const platform::URL&) {
        return std::optional<platform::Error>(platform::Error{"test", 7, "refused"});
    };
    auto file = makeFile("/click");
    fetch(*file);

    ASSERT_EQ(recorder->fails(), 1);
    ASSERT_TRUE(recorder->events[0].error);
    EXPECT_EQ(recorder->events[0].error->code, 7);
    EXPECT_EQ(file->httpDestinationURL().absoluteString(), server.url("/landing"));
    ASSERT_TRUE(file->httpHeaders());
    EXPECT_EQ(file->httpHeaders()->at("Location"), "/landing");
    EXPECT_TRUE(server.requestsFor("/landing").empty());
    EXPECT_FALSE(file->hasContent());
    EXPECT_FALSE(file->isFetching());
}

TEST_F(CachedFileHttp, FollowedRedirectStoresTheFinalBodyUnderTheSourceURL) {
    server.route("/a", LoopbackHttpServer::redirect("/b", 301));
    server.route("/b", LoopbackHttpServer::redirect(server.url("/c"), 307));
    LoopbackHttpServer::Reply end;
    end.body = "end of chain";
    server.route("/c", end);
    auto file = makeFile("/a");
    fetch(*file);
    ASSERT_EQ(recorder->ends(), 1);
    EXPECT_EQ(recorder->redirectsAsked.size(), 2u);
    EXPECT_EQ(file->httpDestinationURL().absoluteString(), server.url("/c"));
    EXPECT_EQ(file->content(), std::optional<std::string>("end of chain"));
    EXPECT_EQ(file->filePath(), makeFile("/a")->filePath());
}

TEST_F(CachedFileHttp, UnwritableCacheDirectoryKeepsOldFileAndReportsTheWrite) {
    int version = 0;
    server.route("/data", [&](const LoopbackHttpServer::Request&) {
        LoopbackHttpServer::Reply reply;
        reply.body = "version " + std::to_string(++version);
        return reply;
    });
    auto file = makeFile("/data");
    fetch(*file);
    ASSERT_EQ(recorder->ends(), 1);

    const auto directory = std::filesystem::path(*file->filePath()).parent_path();
    ReadOnlyDirectory guard(directory);
    if (!guard.effective()) GTEST_SKIP() << "cannot make a directory unwritable here";

    fetch(*file);
    ASSERT_EQ(recorder->fails(), 1);
    ASSERT_TRUE(recorder->events.back().error);
    EXPECT_EQ(recorder->events.back().error->domain, platform::kFileErrorDomain);
    EXPECT_EQ(file->content(), std::optional<std::string>("version 1"));
    guard.release();
    const std::string name = std::filesystem::path(*file->filePath()).filename().string();
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        EXPECT_NE(entry.path().filename().string().rfind(name + ".", 0), 0u) << "temporary file left: " << entry.path();
}

// Hostile or broken servers: one failure each, the old file as it was.
class CachedFileBrokenServer : public CachedFileHttp {
protected:
    void SetUp() override {
        CachedFileHttp::SetUp();
        LoopbackHttpServer::Reply good;
        good.body = "good";
        server.route("/f", good);
        file = makeFile("/f");
        fetch(*file);
        ASSERT_EQ(recorder->ends(), 1);
    }
    void expectOneFailureOldFileKept() {
        EXPECT_EQ(recorder->ends(), 1);
        EXPECT_EQ(recorder->fails(), 1);
        EXPECT_EQ(file->content(), std::optional<std::string>("good"));
        EXPECT_FALSE(file->isFetching());
        // Nothing more arrives later.
        spinFor(0.2);
        EXPECT_EQ(recorder->finished(), 2u);
    }
    std::unique_ptr<ZELCachedFile> file;
};

TEST_F(CachedFileBrokenServer, ConnectionResetMidBody) {
    LoopbackHttpServer::Reply cut;
    cut.raw = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nContent-Type: text/plain\r\n\r\nonly the start";
    server.route("/f", cut);
    fetch(*file);
    ASSERT_TRUE(recorder->events.back().error);
    expectOneFailureOldFileKept();
}

TEST_F(CachedFileBrokenServer, GarbageInsteadOfHTTP) {
    LoopbackHttpServer::Reply garbage;
    garbage.raw = std::string("\x00\xff not http at all\r\n\r\n", 22);
    server.route("/f", garbage);
    fetch(*file);
    expectOneFailureOldFileKept();
}

TEST_F(CachedFileBrokenServer, RedirectLoopEndsAtThePlatformLimit) {
    server.route("/f", LoopbackHttpServer::redirect("/f"));
    fetch(*file);
    ASSERT_TRUE(recorder->events.back().error);
    EXPECT_EQ(recorder->events.back().error->code, platform::kURLErrorHTTPTooManyRedirects);
    expectOneFailureOldFileKept();
}

TEST_F(CachedFileBrokenServer, BodyLargerThanAllowed) {
    static const std::string big(3 << 20, 'x');
    LoopbackHttpServer::Reply reply;
    reply.staticBody = big.data();
    reply.staticBodyLength = big.size();
    server.route("/f", reply);
    file->setMaximumBodySize(1 << 20);
    fetch(*file);
    ASSERT_TRUE(recorder->events.back().error);
    EXPECT_EQ(recorder->events.back().error->code, kZELURLErrorDataLengthExceedsMaximum);
    expectOneFailureOldFileKept();
}

TEST_F(CachedFileBrokenServer, ServerError) {
    LoopbackHttpServer::Reply reply;
    reply.status = 500;
    server.route("/f", reply);
    fetch(*file);
    EXPECT_FALSE(recorder->events.back().error);
    EXPECT_EQ(file->httpStatusCode(), 500);
    expectOneFailureOldFileKept();
}

TEST_F(CachedFileHttp, NothingListeningFailsOnce) {
    std::string url;
    {
        LoopbackHttpServer gone;
        url = gone.url("/x");
    }
    auto file = std::make_unique<ZELCachedFile>(recorder, *platform::URL::parse(url));
    fetch(*file);
    EXPECT_EQ(recorder->fails(), 1);
    ASSERT_TRUE(recorder->events[0].error);
    EXPECT_EQ(recorder->events[0].error->domain, platform::kURLErrorDomain);
}

TEST_F(CachedFileHttp, DestroyedMidFetchNeverCallsBack) {
    static const std::string big(8 << 20, 'y');
    LoopbackHttpServer::Reply reply;
    reply.staticBody = big.data();
    reply.staticBodyLength = big.size();
    server.route("/big", reply);
    auto file = makeFile("/big");
    file->validate();
    ASSERT_TRUE(spinUntil([&] { return !server.requests().empty(); }));
    file.reset();
    spinFor(0.3);
    EXPECT_EQ(recorder->finished(), 0u);
}

}  // namespace
