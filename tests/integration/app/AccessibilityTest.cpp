// Mensajes as assistive technology meets it. Started by its full path on a
// session bus of the test's own, where the accessibility bus comes up as it
// does on a desktop, under a Spanish desktop locale (built here with
// localedef into a folder of the test's: the machine need not have it
// generated, and nothing outside the test changes), and walked by
// accessibility_walk.py with pyatspi and real keys. Runs in a process of its
// own (tests/CMakeLists.txt).
#include <gtest/gtest.h>

#include "integration/support/GtkTestEnvironment.h"
#include "integration/support/PrivateBus.h"
#include "integration/support/Processes.h"

namespace {

namespace fs = std::filesystem;
using namespace nimbra::test;

TEST(Accessibility, EveryScreenReadsAndMovesByKeyboardInTheDesktopsLanguage) {
    gtkBackend();
    const fs::path root = freshRoot("accessibility");
    const fs::path locales = root / "locales";
    fs::create_directories(locales);
    std::string output;
    ASSERT_EQ(runToEnd({"localedef", "-i", "es_ES", "-f", "UTF-8", (locales / "es_ES.UTF-8").string()}, {}, output), 0)
        << output;
    // The bus answers for nobody itself: the services start on demand.
    PrivateBus bus([](GDBusMessage*) { return GRef<GDBusMessage>(); });
    ASSERT_TRUE(bus.ok()) << "no private session bus";
    // One kind of ad, a link to the browser, shown for the whole walk.
    AdServerProcess server({"--refresh-rate", "600", "--creatives", "browser"});
    ASSERT_TRUE(server.ok()) << "nimbra-adserver did not start";
    const Environment desktop = {
        {"DBUS_SESSION_BUS_ADDRESS", bus.address()},
        {"NO_AT_BRIDGE", std::nullopt},
        {"GTK_A11Y", std::nullopt},
        {"LANG", "es_ES.UTF-8"},
        {"LOCPATH", locales.string()},
        {"LC_ALL", std::nullopt},
        {"LC_MESSAGES", std::nullopt},
        {"LANGUAGE", std::nullopt},
        // Pages with a title and a link, from the test's server.
        {"MENSAJES_FIRST_PAGE", server.origin() + "/landing"},
        {"MENSAJES_THIRD_PAGE", server.origin() + "/landing/2"},
    };
    RunningMensajes app(root / "app", server.origin(), NIMBRA_MENSAJES_PATH, fs::temp_directory_path(), desktop);
    ASSERT_TRUE(app.started());
    const int status = runToEnd({"/usr/bin/python3", NIMBRA_ACCESSIBILITY_WALK, std::to_string(app.pid())},
                                {{"DBUS_SESSION_BUS_ADDRESS", bus.address()}, {"NO_AT_BRIDGE", std::nullopt}}, output);
    EXPECT_EQ(status, 0) << output << "\n--- mensajes:\n" << app.log();
    // The ad's link, opened from the keyboard, went through the ad's click
    // once; the application is still there.
    EXPECT_EQ(server.counter("click"), 1);
    EXPECT_EQ(app.end(), std::optional<int>(0)) << app.log();
}

}  // namespace
