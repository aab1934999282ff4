// What only the GTK backend has to get right: the GLib loop with busy tasks,
// nested loops and run/quit (its contract is in GtkContractTest);
// reachability on the network monitor and the audio route from the
// sound server.
#include <gio/gio.h>
#include <gio/gunixsocketaddress.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <stdexcept>

#include "integration/support/GtkTestEnvironment.h"
#include "platform/RunLoop.h"
#include "platform/Services.h"
#include "platform/gtk/AudioRoute.h"
#include "platform/gtk/GRef.h"

using namespace nimbra::test;
using platform::Reachability;
using platform::RunLoop;

namespace {

// A task that keeps posting itself with no delay must not starve the rest of
// the loop: each new one waits for the next turn.
TEST(GtkRunLoopTest, BusyTasksLetOtherWorkRun) {
    gtkBackend();
    auto& loop = RunLoop::main();
    int steps = 0, stepsWhenOtherWorkRan = -1;
    std::function<void()> step = [&] {
        if (++steps < 1000) loop.postDelayedTask(0, step);
    };
    loop.postDelayedTask(0, step);
    loop.performOnMainThread([&] { stepsWhenOtherWorkRan = steps; }, false);
    ASSERT_TRUE(spinUntil([&] { return steps == 1000; }));
    EXPECT_GE(stepsWhenOtherWorkRan, 0);
    EXPECT_LT(stepsWhenOtherWorkRan, 10);
}

TEST(GtkRunLoopTest, ALoopNestedInACallbackRunsTimersAndCalls) {
    gtkBackend();
    auto& loop = RunLoop::main();
    bool timerFired = false, mainCallRan = false, nestedDone = false;
    platform::OneShotTimer timer;
    loop.postDelayedTask(0, [&] {
        timer.start(0.01, [&] { timerFired = true; });
        loop.performOnMainThread([&] { mainCallRan = true; }, false);
        nestedDone = spinUntil([&] { return timerFired && mainCallRan; }, 5);
    });
    ASSERT_TRUE(spinUntil([&] { return nestedDone; }));
}

TEST(GtkRunLoopTest, RunGoesOnPastAThrowingCall) {
    gtkBackend();
    auto& loop = RunLoop::main();
    LogCapture logs;
    loop.postDelayedTask(0, [] { throw std::runtime_error("boom"); });
    loop.postDelayedTask(0.01, [&] { loop.quit(); });
    loop.run();
    EXPECT_EQ(logs.countContaining("boom"), 1u);
}

// After start and on changes, only while started.
TEST(GtkServicesTest, ReachabilityReportsWhileStarted) {
    gtkBackend();
    auto reachability = Reachability::create("127.0.0.1");
    ASSERT_NE(reachability, nullptr);
    std::vector<uint32_t> flags;
    ASSERT_TRUE(reachability->start([&](uint32_t f) { flags.push_back(f); }));
    EXPECT_TRUE(flags.empty());  // never from inside start()
    ASSERT_TRUE(spinUntil([&] { return flags.size() == 1; }));
    EXPECT_TRUE(flags[0] & platform::kReachabilityFlagReachable);
    g_signal_emit_by_name(g_network_monitor_get_default(), "network-changed", TRUE);
    ASSERT_TRUE(spinUntil([&] { return flags.size() == 2; }));
    // Stopped or gone: silent.
    reachability->stop();
    Reachability::create("::1")->start([&](uint32_t f) { flags.push_back(f); });
    g_signal_emit_by_name(g_network_monitor_get_default(), "network-changed", TRUE);
    spinFor(0.1);
    EXPECT_EQ(flags.size(), 2u);
    // A name gets an answer from the monitor's state alone, never a lookup.
    auto named = Reachability::create("name.invalid");
    ASSERT_NE(named, nullptr);
    named->start([&](uint32_t f) { flags.push_back(f); });
    EXPECT_TRUE(spinUntil([&] { return flags.size() == 3; }));
    EXPECT_EQ(Reachability::create(""), nullptr);
}

TEST(GtkServicesTest, AudioRouteComesFromTheDefaultSinksActivePortOfAListeningSoundServer) {
    gtkBackend();
    char folder[] = "/tmp/nimbra-services-XXXXXX";
    const std::string dir = g_mkdtemp(folder);
    // None without a default sink among the sinks.
    const char* sinks = "Sink #0\n\tName: other\n\tActive Port: analog-output-speaker\n";
    EXPECT_EQ(platform::gtk::audioRouteFromPactl("Default Sink: missing\n", sinks), std::nullopt);
    EXPECT_EQ(platform::gtk::audioRouteFromPactl("", sinks), std::nullopt);
    EXPECT_EQ(platform::gtk::routeNameForPort("bluez_output.00_11", "headset-output"), "HeadsetBT");
    EXPECT_EQ(platform::gtk::routeNameForPort("x", "analog-output-speaker"), "Speaker");
    EXPECT_EQ(platform::gtk::routeNameForPort("x", "[Out] Earpiece"), "[Out] Earpiece");
    // The sound server is asked only when one listens; the default sink's
    // active port, among several, names the route.
    const auto pactl = [&](const char* script) {
        std::ofstream(dir + "/pactl", std::ios::trunc) << "#!/bin/sh\n" << script;
        std::filesystem::permissions(dir + "/pactl", std::filesystem::perms::owner_all);
    };
    pactl(
        "case \"$1\" in\n"
        "info) echo 'Default Sink: sink.a' ;;\n"
        "list) printf 'Sink #0\\n\\tName: other\\n\\tActive Port: analog-output-speaker\\n"
        "Sink #3\\n\\tName: sink.a\\n\\tPorts:\\n\\t\\tanalog-output-headphones: Headphones\\n"
        "\\tActive Port: analog-output-headphones\\n' ;;\n"
        "esac\n");
    const std::string oldPath = g_getenv("PATH");
    g_setenv("PATH", (dir + ":" + oldPath).c_str(), TRUE);
    EXPECT_EQ(platform::currentAudioRoute(), std::nullopt);  // pactl is there, no server is
    const std::string socketPath = std::string(g_getenv("XDG_RUNTIME_DIR")) + "/pulse/native";
    std::filesystem::create_directories(std::filesystem::path(socketPath).parent_path());
    using platform::gtk::GRef;
    auto socket = GRef<GSocket>::adopt(
        g_socket_new(G_SOCKET_FAMILY_UNIX, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_DEFAULT, nullptr));
    auto address = GRef<GSocketAddress>::adopt(g_unix_socket_address_new(socketPath.c_str()));
    EXPECT_TRUE(g_socket_bind(socket.get(), address.get(), TRUE, nullptr));
    EXPECT_EQ(platform::currentAudioRoute(), "Headphone");
    // A client that hangs (its child keeping the pipe open) is given up on.
    pactl("sleep 5\necho 'Default Sink: sink.a'\n");
    EXPECT_EQ(platform::currentAudioRoute(), std::nullopt);
    unlink(socketPath.c_str());
    g_setenv("PATH", oldPath.c_str(), TRUE);
    std::filesystem::remove_all(dir);
}

}  // namespace
