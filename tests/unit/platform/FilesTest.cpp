// Atomic writes: the whole new file or the old one, the time asked for, and
// errors a caller can tell apart.
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/Files.h"
#include "unit/support/FileSizeLimit.h"
#include "unit/support/SimTest.h"

using platform::writeFileAtomically;

TEST(FilesTest, ReplacesTheWholeFileOrLeavesTheOldOneWithTheTimeAskedFor) {
    char folder[] = "/tmp/nimbra-files-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string dir = folder, path = dir + "/file";
    const auto read = [&] { return std::string(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}); };
    ASSERT_FALSE(writeFileAtomically(path, "a much longer first version"));
    ASSERT_FALSE(writeFileAtomically(path, "short", {.flushToDisk = false, .modificationTime = 784903526}));
    EXPECT_EQ(read(), "short");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 784903526);
    std::optional<platform::Error> error;
    {
        FileSizeLimit limit(4096);
        error = writeFileAtomically(path, std::string(64 * 1024, 'x'));
    }
    ASSERT_TRUE(error);
    EXPECT_EQ(std::pair(error->domain, error->code), std::pair(std::string(platform::kFileErrorDomain), long(platform::kFileWriteUnknownError)));
    EXPECT_EQ(read(), "short");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1) << "a temporary file was left behind";
    // No folder at all, and a file where the folder should be.
    for (const std::string& target : {dir + "/missing/file", path + "/file"}) {
        auto failure = writeFileAtomically(target, "x");
        ASSERT_TRUE(failure) << target;
        EXPECT_EQ(failure->code, platform::kFileNoSuchFileError) << target;
        EXPECT_NE(failure->description.find(target), std::string::npos) << failure->description;
    }
    std::filesystem::remove_all(dir);
}
