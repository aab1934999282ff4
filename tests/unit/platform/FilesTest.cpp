// Atomic writes: the whole new file or the old one, the time asked for, and
// errors a caller can tell apart.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/Files.h"
#include "unit/support/FileSizeLimit.h"

using platform::writeFileAtomically;

namespace {

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nimbra-files-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    size_t entries() const { return size_t(std::distance(std::filesystem::directory_iterator(dir), {})); }
    std::string dir;
};

TEST_F(FilesTest, ReplacesTheWholeFileOrLeavesTheOldOne) {
    const std::string path = dir + "/file";
    ASSERT_FALSE(writeFileAtomically(path, "a much longer first version"));
    ASSERT_FALSE(writeFileAtomically(path, "short", {.flushToDisk = false, .modificationTime = {}}));
    EXPECT_EQ(read(path), "short");

    std::optional<platform::Error> error;
    {
        FileSizeLimit limit(4096);
        error = writeFileAtomically(path, std::string(64 * 1024, 'x'));
    }
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, platform::kFileErrorDomain);
    EXPECT_EQ(error->code, platform::kFileWriteUnknownError);
    EXPECT_EQ(read(path), "short");
    EXPECT_EQ(entries(), 1u) << "a temporary file was left behind";
}

TEST_F(FilesTest, ModificationTimeAndMissingFolders) {
    const std::string path = dir + "/dated";
    ASSERT_FALSE(writeFileAtomically(path, "x", {.modificationTime = 784903526}));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 784903526);

    // No folder at all, and a file where the folder should be.
    for (const std::string& target : {dir + "/missing/file", path + "/file"}) {
        auto failure = writeFileAtomically(target, "x");
        ASSERT_TRUE(failure) << target;
        EXPECT_EQ(failure->code, platform::kFileNoSuchFileError) << target;
        EXPECT_NE(failure->description.find(target), std::string::npos) << failure->description;
    }
}

}  // namespace
