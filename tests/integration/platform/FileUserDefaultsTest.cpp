// The defaults file: every value kind across a restart, values it refuses,
// and damaged files set aside without losing them.
#include <gtest/gtest.h>
#include <glib.h>
#include <glib/gstdio.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "platform/gtk/FileUserDefaults.h"
#include "integration/support/GtkTestEnvironment.h"

using namespace nimbra::test;
using platform::Array;
using platform::Bytes;
using platform::Date;
using platform::Dictionary;
using platform::Value;
using platform::gtk::FileUserDefaults;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
void writeFile(const std::string& path, const std::string& contents) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

class FileUserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        gtkBackend();
        char tmpl[] = "/tmp/nimbra-defaults-XXXXXX";
        dir_ = g_mkdtemp(tmpl);
        path_ = dir_ + "/prefs/defaults.plist";  // the folder does not exist yet
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    // Names in the store's folder other than the store itself.
    std::vector<std::string> otherFiles() const {
        std::vector<std::string> names;
        if (GDir* d = g_dir_open((dir_ + "/prefs").c_str(), 0, nullptr)) {
            while (const char* n = g_dir_read_name(d))
                if (std::string(n) != "defaults.plist") names.push_back(n);
            g_dir_close(d);
        }
        return names;
    }
    std::string dir_, path_;
};

TEST_F(FileUserDefaultsTest, EveryValueKindSurvivesARestart) {
    Dictionary nested{{"when", Value(Date{1000.0})},
                      {"list", Value(Array{Value(1), Value("two"), Value(Array{Value(false)})})},
                      {"empty", Value(Dictionary{})}};
    {
        FileUserDefaults store(path_);
        store.setObject(Value(true), "bool");
        store.setObject(Value(-42), "negative");
        store.setObject(Value(static_cast<long long>(INT64_MAX)), "large");
        store.setObject(Value(0.1), "double");
        store.setObject(Value("é <&> \"q\"\n"), "text");
        store.setObject(Value(Bytes{std::string("\0\x01\xff", 3)}), "bytes");
        store.setObject(Value(Date{-5000.75}), "date");  // kept to the whole second
        store.setObject(Value(nested), "nested");
        store.setObject(Value("gone"), "removed");
        store.removeObject("removed");
        EXPECT_TRUE(store.synchronize());
    }
    FileUserDefaults reread(path_);
    EXPECT_EQ(reread.objectForKey("bool"), Value(true));
    EXPECT_EQ(reread.objectForKey("negative"), Value(-42));
    EXPECT_EQ(reread.objectForKey("large"), Value(static_cast<long long>(INT64_MAX)));
    EXPECT_EQ(reread.objectForKey("double"), Value(0.1));
    EXPECT_EQ(reread.objectForKey("text"), Value("é <&> \"q\"\n"));
    EXPECT_EQ(reread.objectForKey("bytes"), Value(Bytes{std::string("\0\x01\xff", 3)}));
    EXPECT_EQ(reread.objectForKey("date"), Value(Date{-5001.0}));
    EXPECT_EQ(reread.objectForKey("nested"), Value(nested));
    EXPECT_FALSE(reread.objectForKey("removed").has_value());
    EXPECT_TRUE(otherFiles().empty());  // no temporary file left behind
}

TEST_F(FileUserDefaultsTest, PendingChangesAreWrittenWhenTheStoreGoes) {
    { FileUserDefaults(path_).setObject(Value("kept"), "k"); }
    EXPECT_EQ(FileUserDefaults(path_).objectForKey("k"), Value("kept"));
}

TEST_F(FileUserDefaultsTest, StoringAnEqualValueLeavesTheFileAlone) {
    FileUserDefaults store(path_);
    const Value first(Dictionary{{"n", Value(1)}, {"when", Value(Date{1000.0})}});
    store.setObject(first, "k");
    ASSERT_TRUE(store.synchronize());
    GStatBuf written;
    ASSERT_EQ(g_stat(path_.c_str(), &written), 0);

    store.setObject(Value(Dictionary{{"n", Value(1)}, {"when", Value(Date{1000.0})}}), "k");
    ASSERT_TRUE(store.synchronize());
    GStatBuf unchanged;
    ASSERT_EQ(g_stat(path_.c_str(), &unchanged), 0);
    EXPECT_EQ(unchanged.st_ino, written.st_ino);  // every write replaces the file

    store.setObject(Value(Dictionary{{"n", Value(2)}}), "k");
    ASSERT_TRUE(store.synchronize());
    GStatBuf rewritten;
    ASSERT_EQ(g_stat(path_.c_str(), &rewritten), 0);
    EXPECT_NE(rewritten.st_ino, written.st_ino);
    EXPECT_EQ(FileUserDefaults(path_).objectForKey("k"), Value(Dictionary{{"n", Value(2)}}));
}

TEST_F(FileUserDefaultsTest, ValuesTheFileCannotHoldAreRefusedAndTheOldValueStays) {
    LogCapture logs;
    FileUserDefaults store(path_);
    store.setObject(Value("old"), "k");
    const std::vector<Value> refused = {
        Value(Array{Value(1), Value()}),          // null inside a collection
        Value(std::string("a\0b", 3)),            // NUL in text
        Value(std::string("\xc3\x28")),           // not UTF-8
        Value(Date{1e12}),                        // beyond the file's date range
        Value(Dictionary{{std::string("\xff"), Value(1)}}),
    };
    for (const Value& v : refused) store.setObject(v, "k");
    EXPECT_EQ(store.objectForKey("k"), Value("old"));
    EXPECT_EQ(logs.countContaining("cannot be kept"), refused.size());

    Value deep = Value(1);
    for (int i = 0; i < 150; ++i) deep = Value(Array{deep});
    store.setObject(deep, "deep");
    EXPECT_FALSE(store.objectForKey("deep").has_value());

    store.setObject(Value(), "k");  // null removes
    EXPECT_FALSE(store.objectForKey("k").has_value());
}

TEST_F(FileUserDefaultsTest, DamagedFilesAreSetAsideWithOneLogLine) {
    std::string valid;
    {
        FileUserDefaults store(path_);
        store.setObject(Value("v"), "k");
        store.setObject(Value(Array{Value(1), Value(2), Value(3)}), "list");
        ASSERT_TRUE(store.synchronize());
        valid = readFile(path_);
    }
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<array>";
    const std::vector<std::pair<const char*, std::string>> damaged = {
        {"truncated", valid.substr(0, valid.size() / 2)},
        {"garbage", std::string("\x89PNG\r\n\x1a\n\0\0garbage", 18)},
        {"not a dictionary", "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>"},
        {"empty", ""},
        {"binary form", "bplist00\xd1\x01\x02"},
        {"nested too deep", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key>" + deep},
    };
    for (const auto& [what, contents] : damaged) {
        SCOPED_TRACE(what);
        ASSERT_EQ(system(("rm -f '" + dir_ + "'/prefs/*").c_str()), 0);
        writeFile(path_, contents);
        LogCapture logs;
        FileUserDefaults store(path_);
        EXPECT_TRUE(store.dictionaryRepresentation().empty());
        ASSERT_EQ(logs.lines().size(), 1u);
        EXPECT_NE(logs.lines()[0].find(path_), std::string::npos);
        auto aside = otherFiles();
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(aside[0].rfind("defaults.plist.corrupt-", 0), 0u);
        EXPECT_EQ(readFile(dir_ + "/prefs/" + aside[0]), contents);
        // The store works on and writes a fresh file next to the old one.
        store.setObject(Value(1), "fresh");
        EXPECT_TRUE(store.synchronize());
        EXPECT_EQ(FileUserDefaults(path_).objectForKey("fresh"), Value(1));
        EXPECT_EQ(readFile(dir_ + "/prefs/" + aside[0]), contents);
    }
}

TEST_F(FileUserDefaultsTest, SettingAsideNeverReplacesAnEarlierDamagedFile) {
    ASSERT_EQ(g_mkdir_with_parents((dir_ + "/prefs").c_str(), 0700), 0);
    LogCapture logs;
    writeFile(path_, "first");
    { FileUserDefaults store(path_); }
    writeFile(path_, "second");
    { FileUserDefaults store(path_); }
    EXPECT_EQ(logs.lines().size(), 2u);
    auto aside = otherFiles();
    ASSERT_EQ(aside.size(), 2u);
    std::vector<std::string> contents = {readFile(dir_ + "/prefs/" + aside[0]), readFile(dir_ + "/prefs/" + aside[1])};
    std::sort(contents.begin(), contents.end());
    EXPECT_EQ(contents, (std::vector<std::string>{"first", "second"}));
}

TEST_F(FileUserDefaultsTest, AFolderInTheFilesPlaceIsSetAsideToo) {
    ASSERT_EQ(g_mkdir_with_parents(path_.c_str(), 0700), 0);
    LogCapture logs;
    FileUserDefaults store(path_);
    EXPECT_EQ(logs.lines().size(), 1u);
    store.setObject(Value("x"), "k");
    EXPECT_TRUE(store.synchronize());
    EXPECT_EQ(FileUserDefaults(path_).objectForKey("k"), Value("x"));
}

TEST_F(FileUserDefaultsTest, StandardStoreLivesInTheConfigFolderOfTheApplication) {
    auto& standard = platform::UserDefaults::standard();
    standard.setObject(Value("here"), "nimbra-test-key");
    ASSERT_TRUE(standard.synchronize());
    const char* config = g_getenv("XDG_CONFIG_HOME");
    ASSERT_NE(config, nullptr);
    FileUserDefaults reread(std::string(config) + "/" + kTestApplicationId + "/defaults.plist");
    EXPECT_EQ(reread.objectForKey("nimbra-test-key"), Value("here"));
}

}  // namespace
