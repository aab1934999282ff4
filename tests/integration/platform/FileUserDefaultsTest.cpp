// The defaults file: every value kind across a restart, no write for an equal
// value, the write a second after a change, damaged files set aside without
// losing them, and the saves done on a worker, in order, with their failures
// kept for the next save. (What the reader accepts, byte by byte, is the plist
// fuzz target's.)
#include <gtest/gtest.h>
#include <glib/gstdio.h>

#include <filesystem>
#include <fstream>
#include <numeric>

#include "integration/support/GtkTestEnvironment.h"
#include "integration/support/Processes.h"
#include "platform/Files.h"
#include "platform/gtk/FileUserDefaults.h"

using namespace nimbra::test;
using platform::Array;
using platform::Date;
using platform::Dictionary;
using platform::Value;
using platform::gtk::FileUserDefaults;

namespace {

class FileUserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        gtkBackend();
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    // The contents of the files set aside beside the store, sorted.
    std::vector<std::string> setAside() const {
        std::vector<std::string> contents;
        for (const auto& entry : std::filesystem::directory_iterator(dir_ + "/prefs"))
            if (entry.path().filename() != "defaults.plist") {
                EXPECT_TRUE(entry.path().filename().string().starts_with("defaults.plist.corrupt-")) << entry.path();
                contents.push_back(readFile(entry.path()));
            }
        std::sort(contents.begin(), contents.end());
        return contents;
    }
    std::string dir_ = freshRoot("nimbra-defaults"), path_ = dir_ + "/prefs/defaults.plist";  // no such folder yet
};

const Value nested(Dictionary{{"when", Value(Date{1000.0})},
                              {"list", Value(Array{Value(1), Value("two"), Value(Array{Value(false)})})},
                              {"empty", Value(Dictionary{})}});

TEST_F(FileUserDefaultsTest, EveryValueKindSurvivesARestart) {
    const Value bytes(platform::Bytes{std::string("\0\x01\xff", 3)});
    const std::vector<std::tuple<std::string, Value, Value>> kept = {
        {"bool", Value(true), Value(true)},
        {"negative", Value(-42), Value(-42)},
        {"large", Value(static_cast<long long>(INT64_MAX)), Value(static_cast<long long>(INT64_MAX))},
        {"double", Value(0.1), Value(0.1)},
        {"text", Value("é <&> \"q\"\n"), Value("é <&> \"q\"\n")},
        {"bytes", bytes, bytes},
        {"date", Value(Date{-5000.75}), Value(Date{-5001.0})},  // kept to the whole second
        {"nested", nested, nested},
    };
    {
        FileUserDefaults store(path_);
        for (const auto& [key, value, _] : kept) store.setObject(value, key);
        store.setObject(Value("gone"), "removed");
        store.removeObject("removed");
        ASSERT_TRUE(store.synchronize());
        store.setObject(Value("saved at the end"), "pending");  // written when the store goes
    }
    FileUserDefaults reread(path_);
    for (const auto& [key, _, expected] : kept) EXPECT_EQ(reread.objectForKey(key), expected) << key;
    EXPECT_FALSE(reread.objectForKey("removed").has_value());
    EXPECT_EQ(reread.objectForKey("pending"), Value("saved at the end"));
    EXPECT_TRUE(setAside().empty()) << "no temporary file left behind";
}

TEST_F(FileUserDefaultsTest, AnEqualValueWritesNothing) {
    FileUserDefaults store(path_);
    const auto inode = [&] {
        EXPECT_TRUE(store.synchronize());
        GStatBuf st;
        EXPECT_EQ(g_stat(path_.c_str(), &st), 0);
        return st.st_ino;  // every write replaces the file
    };
    store.setObject(nested, "nested");
    const ino_t written = inode();
    store.setObject(nested, "nested");
    EXPECT_EQ(inode(), written);
}

TEST_F(FileUserDefaultsTest, AutosaveWritesASecondAfterAChange) {
    FileUserDefaults store(path_);
    store.setAutosave(true);
    store.setObject(Value(1), "k");
    EXPECT_FALSE(std::filesystem::exists(path_));
    ASSERT_TRUE(spinUntil([&] { return std::filesystem::exists(path_); }, 5));
    EXPECT_EQ(FileUserDefaults(path_).objectForKey("k"), Value(1));
}

TEST_F(FileUserDefaultsTest, DamagedFilesAreSetAsideWithOneLogLine) {
    std::string valid;
    {
        FileUserDefaults store(path_);
        store.setObject(Value(Array{Value(1), Value(2), Value(3)}), "list");
        ASSERT_TRUE(store.synchronize());
        valid = readFile(path_);
    }
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<array>";
    const std::vector<std::pair<const char*, std::string>> damaged = {
        {"truncated", valid.substr(0, valid.size() / 2)},
        {"garbage", std::string("\x89PNG\r\n\x1a\n\0\0garbage", 18)},
        {"empty", ""},
        {"nested too deep", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key>" + deep},
    };
    const auto writeStore = [&](const std::string& contents) {
        std::filesystem::create_directories(dir_ + "/prefs");
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << contents;
    };
    for (const auto& [what, contents] : damaged) {
        SCOPED_TRACE(what);
        std::filesystem::remove_all(dir_ + "/prefs");
        writeStore(contents);
        LogCapture logs;
        FileUserDefaults store(path_);
        EXPECT_TRUE(store.dictionaryRepresentation().empty());
        ASSERT_EQ(logs.lines().size(), 1u);
        EXPECT_NE(logs.lines()[0].find(path_), std::string::npos);
        // The store works on and writes a fresh file next to the old one.
        store.setObject(Value(1), "fresh");
        EXPECT_TRUE(store.synchronize());
        EXPECT_EQ(FileUserDefaults(path_).objectForKey("fresh"), Value(1));
        EXPECT_EQ(setAside(), std::vector<std::string>{contents});
    }
    // Setting aside never replaces an earlier damaged file.
    std::filesystem::remove_all(dir_ + "/prefs");
    for (const char* contents : {"first", "second"}) {
        writeStore(contents);
        FileUserDefaults store(path_);
    }
    EXPECT_EQ(setAside(), (std::vector<std::string>{"first", "second"}));
    // Nor is a folder in the file's place in the way.
    std::filesystem::remove_all(dir_ + "/prefs");
    std::filesystem::create_directories(path_);
    LogCapture logs;
    {
        FileUserDefaults store(path_);
        store.setObject(Value("x"), "k");
        EXPECT_TRUE(store.synchronize());
    }
    EXPECT_EQ(logs.lines().size(), 1u);
    EXPECT_EQ(FileUserDefaults(path_).objectForKey("k"), Value("x"));
}

TEST_F(FileUserDefaultsTest, BackgroundWritesKeepTheirOrderAndReportFailuresButNeverToAnOwnerGone) {
    auto& files = platform::FileSystem::current();
    const std::string file = dir_ + "/written";
    std::vector<std::pair<int, bool>> ended;  // (write, failed) in the order heard
    const auto write = [&](int n, const std::string& path) {
        files.writeFileInBackground(path, std::to_string(n), {}, [&ended, n](std::optional<platform::Error> error) {
            ended.emplace_back(n, bool(error));
        });
    };
    for (int n = 0; n < 20; ++n) write(n, file);
    write(20, dir_ + "/missing/file");
    ASSERT_TRUE(spinUntil([&] { return ended.size() == 21; }, 10));
    EXPECT_EQ(readFile(file), "19");
    std::vector<int> inOrder, asked(20);
    std::iota(asked.begin(), asked.end(), 0);
    for (const auto& [n, failed] : ended)
        if (n < 20 && !failed) inOrder.push_back(n);
    EXPECT_EQ(inOrder, asked);
    EXPECT_EQ(std::count(ended.begin(), ended.end(), std::pair{20, true}), 1) << "the failure was not reported";

    // A synchronous write comes after the background ones asked for before it.
    ended.clear();
    for (int n = 0; n < 5; ++n) write(n, file);
    ASSERT_FALSE(files.writeFile(file, "synchronous", {}));
    EXPECT_EQ(readFile(file), "synchronous");

    // An owner gone hears nothing; its write is still done, at the latest when
    // the process ends (which finishes what is pending).
    struct Owner {
        platform::WeakPtrFactory<Owner> weak{this};
    };
    auto owner = std::make_unique<Owner>();
    bool heard = false;
    files.writeFileInBackground(
        file, "owner gone", {},
        platform::bindWeak(owner->weak.getWeakPtr(), [&](Owner&, std::optional<platform::Error>) { heard = true; }));
    owner.reset();
    files.finishBackgroundWrites();
    EXPECT_EQ(readFile(file), "owner gone");
    write(99, file);
    ASSERT_TRUE(spinUntil([&] { return ended.size() == 6; }, 10));
    EXPECT_FALSE(heard);
}

TEST_F(FileUserDefaultsTest, ABackgroundSaveThatFailsIsLoggedAndKeepsTheChangesForTheNextSave) {
    FileUserDefaults store(path_);
    std::filesystem::create_directories(path_ + "/in the way");  // a folder where the file goes
    LogCapture logs;
    store.setObject(Value(1), "kept");
    store.synchronizeInBackground();
    ASSERT_TRUE(spinUntil([&] { return logs.countContaining(path_) == 1; }, 10));
    std::filesystem::remove_all(path_);
    EXPECT_TRUE(store.synchronize());
    EXPECT_EQ(FileUserDefaults(path_).objectForKey("kept"), Value(1));
}

}  // namespace
