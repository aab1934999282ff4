#include <gtest/gtest.h>

#include "platform/URL.h"

using namespace platform;

TEST(URL, ComponentsOfEveryScheme) {
    auto u = URL::parse("HTTP://user:pw@Example.com:8080/a%20b/c?x=1&y=%2F#frag");
    ASSERT_TRUE(u);
    EXPECT_EQ(std::tuple(u->scheme(), u->host(), u->port(), u->path(), u->rawPath(), u->query(), u->fragment()),
              std::tuple("HTTP", "Example.com", std::optional<int>(8080), "/a b/c", "/a%20b/c",
                         std::optional<std::string>("x=1&y=%2F"), std::optional<std::string>("frag")));
    EXPECT_FALSE(URL::parse("http://h")->port()) << "no port is no port, not the scheme's";
    EXPECT_EQ(URL::parse("http://h/?")->query(), "");
    auto mail = URL::parse("mailto:someone@example.com?subject=Hi");
    EXPECT_EQ(std::pair(mail->host(), mail->path()), std::pair(std::string(), std::string("someone@example.com")));
    auto file = URL::parse("file:///tmp/a%20b.txt");
    EXPECT_TRUE(file->isFileURL());
    EXPECT_EQ(file->filePath(), "/tmp/a b.txt");
    EXPECT_TRUE(URL::parse("g;x?y#s") && URL::parse(""));
}

TEST(URL, FileURLsMadeFromPathsEscapeWhatTheyMust) {
    EXPECT_EQ(URL::fileURL("/tmp/a b/c#d?.txt").absoluteString(), "file:///tmp/a%20b/c%23d%3F.txt");
    EXPECT_EQ(URL::fileURL("/tmp/dir", true).absoluteString(), "file:///tmp/dir/");
    EXPECT_EQ(URL::fileURL("/tmp/\xc3\xa9").absoluteString(), "file:///tmp/%C3%A9");
}

TEST(URL, RejectsTextsThatAreNotURLs) {
    for (const char* bad : {"http://a b/", " http://a/", "http://a/\x01", "http://a/\xc3\xa9", "http://a/%2",
                            "http://h:99999/", "http://a/<b>", "http://a/b#c#d", "1http://a", "http://[zz]/"})
        EXPECT_FALSE(URL::parse(bad)) << bad;
}

TEST(URL, ResolvesTheRFCExamples) {
    auto base = URL::parse("http://a/b/c/d;p?q");
    ASSERT_TRUE(base);
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"g:h", "g:h"}, {"g", "http://a/b/c/g"}, {"./g", "http://a/b/c/g"}, {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"}, {"//g", "http://g"}, {"?y", "http://a/b/c/d;p?y"}, {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q#s"}, {"g?y#s", "http://a/b/c/g?y#s"}, {";x", "http://a/b/c/;x"},
        {"", "http://a/b/c/d;p?q"}, {".", "http://a/b/c/"}, {"..", "http://a/b/"}, {"../g", "http://a/b/g"},
        {"../..", "http://a/"}, {"../../../g", "http://a/g"}, {"g?y/../x", "http://a/b/c/g?y/../x"},
    };
    // clang-format on
    for (const auto& [ref, expected] : cases) {
        auto r = base->resolve(ref);
        ASSERT_TRUE(r) << ref;
        EXPECT_EQ(r->absoluteString(), expected) << ref;
    }
    EXPECT_FALSE(base->resolve("http://bad host/"));
    EXPECT_EQ(URL::parse("http://h")->resolve("x")->absoluteString(), "http://h/x");
    EXPECT_FALSE(URL::parse("rel/path")->resolve("x")) << "a relative base resolves nothing";
}

// Escapes decode only into UTF-8 (not broken ones, a stray byte, an overlong
// form or a surrogate) and encode byte for byte; lower case is ASCII's alone.
TEST(URL, TextHelpersKeepToUTF8) {
    EXPECT_EQ(percentDecode("a%20b%2Fc+d"), "a b/c+d");
    EXPECT_EQ(percentDecode("%C3%A9"), "\xc3\xa9");
    for (const char* bad : {"%", "abc%4", "%g0", "%FF", "%C0%AF", "%ED%A0%80"}) EXPECT_FALSE(percentDecode(bad)) << bad;
    EXPECT_EQ(percentEncodeUnreserved("a b&c=d/~._-\xc3\xa9"), "a%20b%26c%3Dd%2F~._-%C3%A9");
    EXPECT_FALSE(isValidUTF8("\xf4\x90\x80\x80")) << "beyond U+10FFFF";
    EXPECT_FALSE(isValidUTF8("\xe2\x82"));
    EXPECT_EQ(toLowerASCII("MiXeD-\xc3\x89"), "mixed-\xc3\x89");
}
