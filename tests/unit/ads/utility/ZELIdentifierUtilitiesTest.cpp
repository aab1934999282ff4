// The device's parameters on every request, and the system version as the
// platform gives it (os-release's VERSION_ID or the kernel's release).
#include <fstream>

#include "Utility/ZELIdentifierUtilities.h"
#include "platform/DeviceIdentifier.h"
#include "unit/support/SimTest.h"

using platform::Array;
using platform::Dictionary;
using platform::Value;

using ZELIdentifierUtilitiesTest = SimTest;

TEST_F(ZELIdentifierUtilitiesTest, ParametersOfASimulatedPhone) {
    sim().userDefaults().setObject(Value(Array{Value("ES-mx")}), "AppleLanguages");
    sim().paths().setBundleIdentifier("app.id");
    sim().paths().setBundleVersion(std::string("1.2"));
    ZELIdentifierUtilities utilities;
    Dictionary p = utilities.parameters();
    // "isu" is the MD5 of app.id's identifier of the machine (below); "u_h" the whole screen, not the
    // 460-point frame under the status bar.
    // clang-format off
    const Dictionary expected{{"isu", "B6884BC883A92705F154729D8D9490E7"}, {"platform", "iPhone"}, {"hl", "es-mx"},
        {"u_sd", "2"}, {"u_w", "320"}, {"u_h", "480"}, {"u_so", "p"}, {"u_audio", "1"}, {"app_name", "1.2.iphone.app.id"}};
    // clang-format on
    for (const auto& [key, value] : expected) EXPECT_EQ(p[key], value) << key;
    sim().paths().setBundleVersion(std::nullopt);
    sim().mainScreen().setScale(1.5);
    sim().application().setStatusBarHidden(true, false);
    sim().application().setStatusBarOrientation(platform::InterfaceOrientation::LandscapeLeft);
    sim().mainScreen().setBounds(platform::Rect(0, 0, 480, 320));
    sim().application().setOpenableSchemes({"kindle", "itms-books"});
    p = utilities.parameters();
    for (const auto& [key, value] :
         Dictionary{{"app_name", "iphone.app.id"}, {"u_sd", "1.5"}, {"u_h", "320"}, {"u_so", "l"}, {"cap_bs", 3}})
        EXPECT_EQ(p[key], value) << key;
}

// "isu" keeps its form (MD5, 32 upper-case hex digits) but hashes an
// identifier of the machine derived for the application as systemd derives
// it: the same for one application, unrelated for two, never the machine id's
// own hash, and absent without a machine id.
TEST_F(ZELIdentifierUtilitiesTest, DeviceIdentifierIsTheApplicationsOwn) {
    const std::string machine = sim().device().machineIdentifier();
    // `systemd-id128 machine-id --app-specific=711c4979829efd398090ef62141c7585`
    // on a machine whose id this is.
    EXPECT_EQ(platform::applicationIdentifier128("app.id"), "711c4979829efd398090ef62141c7585");
    EXPECT_EQ(platform::applicationSpecificMachineID(machine, "app.id"), "941ac70aa55b43a3885f1ebe41b6c5b6");
    EXPECT_EQ(platform::applicationSpecificMachineID(" " + machine + "\n", "app.id"),
              platform::applicationSpecificMachineID(machine, "app.id"));
    auto isu = [this](const std::string& application) {
        sim().paths().setBundleIdentifier(application);
        return ZELIdentifierUtilities().parameters()["isu"];
    };
    const Value mine = isu("app.id"), again = isu("app.id"), theirs = isu("org.other.App");
    EXPECT_EQ(mine, Value("B6884BC883A92705F154729D8D9490E7"));
    EXPECT_EQ(mine, again);
    EXPECT_NE(mine, theirs);
    const Value hashOfTheMachineId("8F5DD6D4369635DE7FF5D0F159927E68");
    EXPECT_NE(mine, hashOfTheMachineId);
    EXPECT_NE(theirs, hashOfTheMachineId);
    for (const char* notAnId : {"", "uninitialized", "00000000000000000000000000000000", "5f1d2c3b4a59687786"}) {
        sim().device().setMachineIdentifier(notAnId);
        EXPECT_EQ(ZELIdentifierUtilities().parameters().count("isu"), 0u) << notAnId;
    }
}

// Beside the documents folder, where an application's container keeps it;
// read by the platform's property-list converter, and only when it is small
// enough to be metadata.
TEST_F(ZELIdentifierUtilitiesTest, StoreMetadataIsTheFileBesideTheDocuments) {
    const Dictionary metadata{{"itemId", 123456}, {"genres", Array{"Social", true}}};
    const std::string big((4 << 20) + 1, 'x');  // over the bound, whatever the converter would make of it
    sim().addPropertyList("<plist>metadata</plist>", metadata);
    sim().addPropertyList(big, metadata);
    const std::pair<std::string, Dictionary> files[] = {
        {"<plist>metadata</plist>", metadata}, {"not a property list", {}}, {big, {}}};
    for (const auto& [text, expected] : files) {
        std::ofstream(sim().paths().root() + "/iTunesMetadata.plist", std::ios::binary) << text;
        EXPECT_EQ(ZELIdentifierUtilities().parameters()["ios_metadata"], Value(expected)) << text.size();
    }
}

TEST_F(ZELIdentifierUtilitiesTest, OSVersion) {
    sim().device().setSystemVersion("4.1");
    int major = -1, minor = -1, bugFix = -1;
    ZELIdentifierUtilities::getOSMajor(&major, &minor, &bugFix);
    EXPECT_EQ((std::array{major, minor, bugFix}), (std::array{4, 1, 0}));
    EXPECT_TRUE(ZELIdentifierUtilities::isOSAtLeast(4, 0, 2));
    EXPECT_FALSE(ZELIdentifierUtilities::isOSAtLeast(4, 2, 0));
    sim().device().setSystemVersion("12");
    EXPECT_TRUE(ZELIdentifierUtilities::isOSAtLeast(4, 0, 0)) << "numbers, not text";
    ZELIdentifierUtilities::parseOSVersion("5.0-rc1.99999999999999999999", &major, &minor, &bugFix);
    EXPECT_EQ(major, 5);
    EXPECT_GT(bugFix, 0) << "no overflow";
}
