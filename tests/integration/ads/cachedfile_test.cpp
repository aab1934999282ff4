// ZELCachedFile on real HTTP: libsoup underneath, a SoupServer on loopback in
// front, real files in the test's caches directory.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "integration/ads/CacheTestSupport.h"
#include "unit/ads/cachedfile/Recorders.h"

namespace {

using namespace cache_test;
using nimbra::test::RawTcpServer;

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

    TestHttpServer server;
    std::shared_ptr<FileRecorder> recorder = std::make_shared<FileRecorder>();
};

TEST_F(CachedFileHttp, StoresBodyWithServerTimeThenRevalidatesWith304) {
    int bodies = 0;
    server.route("/script.js", [&](SoupServerMessage* message, const TestHttpServer::Request& r) {
        if (header(r, "If-Modified-Since") == std::optional<std::string>(kLastModified)) {
            soup_server_message_set_status(message, 304, nullptr);
        } else {
            ++bodies;
            TestHttpServer::respond(message, 200, "var x = 1;", {{"Last-Modified", kLastModified}});
        }
    });
    auto file = makeFile("/script.js");

    fetch(*file);
    ASSERT_EQ(recorder->ends(), 1);
    EXPECT_EQ(recorder->fails(), 0);
    EXPECT_EQ(file->httpStatusCode(), 200);
    EXPECT_EQ(file->content(), std::optional<std::string>("var x = 1;"));
    EXPECT_EQ(modificationTime(*file->filePath()), kLastModifiedUnix);
    EXPECT_EQ(file->fileModificationDate(), std::optional<std::string>("Tue, 15 Nov 1994 12:45:26"));
    EXPECT_FALSE(header(server.requests().at(0), "If-Modified-Since")) << "no file yet, nothing to compare";

    fetch(*file);
    EXPECT_EQ(recorder->ends(), 2);
    EXPECT_EQ(file->httpStatusCode(), 304);
    EXPECT_EQ(bodies, 1);
    EXPECT_EQ(header(server.requests().at(1), "If-Modified-Since"), std::optional<std::string>(kLastModified));
    EXPECT_EQ(file->content(), std::optional<std::string>("var x = 1;"));
    EXPECT_EQ(modificationTime(*file->filePath()), kLastModifiedUnix);

    // Another object for the same URL finds the same file, in this or any run.
    auto again = makeFile("/script.js");
    EXPECT_EQ(again->filePath(), file->filePath());
    EXPECT_TRUE(again->hasContent());
}

TEST_F(CachedFileHttp, NotFoundFailsWithoutErrorAndKeepsOldFile) {
    server.route("/ad", answer(200, "old"));
    auto file = makeFile("/ad");
    fetch(*file);
    ASSERT_EQ(recorder->ends(), 1);

    server.route("/ad", answer(404, "not here", {{"X-Reason", "gone"}}));
    fetch(*file);
    ASSERT_EQ(recorder->fails(), 1);
    EXPECT_FALSE(recorder->events.back().error.has_value());
    EXPECT_EQ(file->httpStatusCode(), 404);
    ASSERT_TRUE(file->httpHeaders());
    EXPECT_EQ(file->httpHeaders()->at("x-reason"), "gone");
    EXPECT_EQ(file->content(), std::optional<std::string>("old"));
}

TEST_F(CachedFileHttp, RefusedRedirectStopsAtTheRefusedURL) {
    server.route("/click", redirect("/landing"));
    server.route("/landing", answer(200));
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
    EXPECT_EQ(countOf(server, "/landing"), 0u);
    EXPECT_FALSE(file->hasContent());
    EXPECT_FALSE(file->isFetching());
}

TEST_F(CachedFileHttp, UnwritableCacheDirectoryKeepsOldFileAndReportsTheWrite) {
    int version = 0;
    server.route("/data", [&](SoupServerMessage* message, const TestHttpServer::Request&) {
        TestHttpServer::respond(message, 200, "version " + std::to_string(++version));
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
        server.route("/f", answer(200, "good"));
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
    // The same file, now fetched from a server that misbehaves on the wire.
    void fetchFromRawServer(RawTcpServer& raw) {
        server.route("/f", redirect(raw.url("/f")));
        fetch(*file);
    }
    std::unique_ptr<ZELCachedFile> file;
};

TEST_F(CachedFileBrokenServer, AnswersCutShortOrNotHTTP) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nContent-Type: text/plain\r\n";
    struct Case {
        std::string bytes;
        RawTcpServer::Ending ending;
    } cases[] = {{head + "\r\nonly the start", RawTcpServer::Ending::Reset},
                 {head + "Connection: close\r\n\r\nonly the start", RawTcpServer::Ending::Close},
                 {"HTTP/1.1 200 OK\r\nContent-Le", RawTcpServer::Ending::Close},
                 {std::string("\x00\xff not http at all\r\n\r\n", 22), RawTcpServer::Ending::Close}};
    for (auto& c : cases) {
        recorder->events.erase(recorder->events.begin() + 1, recorder->events.end());
        RawTcpServer raw(c.bytes, c.ending);
        fetchFromRawServer(raw);
        ASSERT_TRUE(recorder->events.back().error);
        expectOneFailureOldFileKept();
    }
}

TEST_F(CachedFileHttp, DestroyedMidFetchNeverCallsBack) {
    static const std::string big(8 << 20, 'y');
    server.route("/big", staticBody(big));
    auto file = makeFile("/big");
    file->validate();
    ASSERT_TRUE(spinUntil([&] { return !server.requests().empty(); }));
    file.reset();
    spinFor(0.3);
    EXPECT_EQ(recorder->finished(), 0u);
}

}  // namespace
