// Mensajes started the ways people start it: by its full path (as a desktop
// entry or a launcher does), by a relative path, and from another folder. It
// stays up, asks for an ad, keeps its files in folders named after the
// application, and shows ad pages inside the web engine's sandbox.
#include <gtest/gtest.h>

#include <algorithm>

#include "integration/support/GtkTestEnvironment.h"
#include "integration/support/Processes.h"

namespace {

namespace fs = std::filesystem;
using namespace nimbra::test;
constexpr double kAdTimeout = 20;

// By its full path, a relative one, from another folder.
TEST(MensajesLaunch, StaysUpHoweverItIsStarted) {
    gtkBackend();
    const fs::path program = NIMBRA_MENSAJES_PATH;
    ASSERT_TRUE(program.is_absolute());
    const fs::path buildFolder = program.parent_path().parent_path();
    const std::tuple<const char*, std::string, fs::path> starts[] = {
        {"by its full path", program.string(), buildFolder},
        {"by a relative path", fs::relative(program, buildFolder).string(), buildFolder},
        {"by its full path from another folder", program.string(), fs::temp_directory_path()},
    };
    for (const auto& [how, command, workingDirectory] : starts) {
        SCOPED_TRACE(std::string(how) + ": " + command);
        AdServerProcess server({"--refresh-rate", "600"});
        ASSERT_TRUE(server.ok()) << "nimbra-adserver did not start";
        const fs::path root = freshRoot("mensajes-launch");
        RunningMensajes app(root, server.origin(), command, workingDirectory);
        ASSERT_TRUE(app.started());
        // Up long enough to load its first screen and ask for the banner's ad.
        const bool asked = spinUntil([&] { return !app.up() || server.counter("ads") >= 1; }, kAdTimeout);
        ASSERT_TRUE(app.up()) << "mensajes ended on its own";
        ASSERT_TRUE(asked) << "no ad request reached the server";
        spinFor(1.0);
        ASSERT_TRUE(app.up()) << "mensajes ended after its first ad";
        // Ad pages run in the web engine's sandbox.
        const auto pages = webProcessesOf(app.pid());
        ASSERT_FALSE(pages.empty()) << "no page process under mensajes";
        const auto tree = descendantsOf(app.pid());
        for (pid_t page : pages) EXPECT_GE(std::ranges::count(tree.at(page), "bwrap"), 1) << "page process " << page;
        // Its files, the web engine's included, live in folders named after
        // the application, never after the way it was started.
        const fs::path folder = "org.nimbra.Mensajes";
        EXPECT_TRUE(fs::is_regular_file(root / "config" / folder / "defaults.plist"));
        EXPECT_TRUE(fs::is_directory(root / "cache" / folder / "nimbra" / "script"));
        EXPECT_TRUE(fs::is_directory(root / "data" / folder / "webkit"));
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name != "mensajes" && name != "app" && name != buildFolder.filename())
                << "a folder named after the program's path: " << entry.path();
        }
        // A stop request ends it cleanly, its page processes with it.
        EXPECT_EQ(app.end(), std::optional<int>(0));
        EXPECT_TRUE(spinUntil(
            [&] { return std::ranges::none_of(pages, [](pid_t p) { return processInfo(p).has_value(); }); }, 10))
            << "page processes outlived the application";
        fs::remove_all(root);
    }
}

// Where the sandbox cannot run, the application says so and how to go on,
// instead of running pages unprotected or dying inside the web engine.
TEST(MensajesLaunch, WithoutAWorkingSandboxEndsWithAClearMessage) {
    gtkBackend();
    const fs::path root = freshRoot("no-sandbox"), fakeBin = root / "bin";
    fs::create_directories(fakeBin);
    std::ofstream(fakeBin / "bwrap")
        << "#!/bin/sh\necho 'bwrap: Creating new namespace failed: Operation not permitted' >&2\nexit 1\n";
    fs::permissions(fakeBin / "bwrap", fs::perms::owner_all);
    AdServerProcess server;
    ASSERT_TRUE(server.ok());
    RunningMensajes app(root, server.origin(), NIMBRA_MENSAJES_PATH, fs::temp_directory_path(),
                        {{"PATH", fakeBin.string() + ":" + (g_getenv("PATH") ? g_getenv("PATH") : "/usr/bin:/bin")}});
    ASSERT_TRUE(app.started());
    EXPECT_EQ(app.end(false, 30), std::optional<int>(1));
    const std::string errors = app.log();
    fs::remove_all(root);
    EXPECT_NE(errors.find("Operation not permitted"), std::string::npos) << errors;
    EXPECT_NE(errors.find("variable WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS to 1"), std::string::npos) << errors;
    EXPECT_EQ(server.counter("ads"), 0);
}

}  // namespace
