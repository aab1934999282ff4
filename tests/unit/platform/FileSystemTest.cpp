// The sim backend's file system: the real disk, inside the test's own
// temporary area only, so no unit test can read or change the user's files.
#include <unistd.h>

#include <filesystem>

#include "platform/Files.h"
#include "unit/support/SimTest.h"

using SimFileSystemTest = SimTest;

TEST_F(SimFileSystemTest, NothingOutsideTheTestsAreaIsReachable) {
    auto& files = platform::FileSystem::current();
    const std::string area = sim().paths().root();
    ASSERT_FALSE(files.makePrivateFolders(area + "/a"));
    ASSERT_FALSE(files.writeFile(area + "/a/file", "x", {}));
    EXPECT_EQ(files.readFile(area + "/a/file", 1), "x");
    const std::string beside = std::filesystem::path(area).parent_path() / ("outside-" + std::to_string(::getpid()));
    for (const std::string& outside :
         {beside, area + "/../" + std::filesystem::path(beside).filename().string(), area + "x"}) {
        EXPECT_TRUE(files.writeFile(outside, "x", {})) << outside;
        EXPECT_FALSE(std::filesystem::exists(outside)) << outside;
    }
    EXPECT_FALSE(files.readFile("/etc/passwd", 1 << 20)) << "a file everyone may read";
}
