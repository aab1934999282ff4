// The device's parameters on every request, and the system version as the
// platform gives it (os-release's VERSION_ID or the kernel's release).
#include "Utility/ZELIdentifierUtilities.h"
#include "unit/support/SimTest.h"

using platform::Array;
using platform::Dictionary;
using platform::Value;

using ZELIdentifierUtilitiesTest = SimTest;

// (Store metadata goes: no such file exists beside a desktop application.)
TEST_F(ZELIdentifierUtilitiesTest, ParametersOfASimulatedPhone) {
    sim().device().setUniqueIdentifier("abc");
    sim().userDefaults().setObject(Value(Array{Value("ES-mx")}), "AppleLanguages");
    sim().paths().setBundleIdentifier("app.id");
    sim().paths().setBundleVersion(std::string("1.2"));
    ZELIdentifierUtilities utilities;
    Dictionary p = utilities.parameters();
    // "isu" is the MD5 of "abc"; "u_h" the whole screen, not the 460-point frame under the status bar.
    const Dictionary expected{{"isu", "900150983CD24FB0D6963F7D28E17F72"}, {"platform", "iPhone"}, {"hl", "es-mx"},
                              {"u_sd", "2"}, {"u_w", "320"}, {"u_h", "480"}, {"u_so", "p"}, {"u_audio", "1"},
                              {"app_name", "1.2.iphone.app.id"}};
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
