#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <plist/plist.h>

#include "Utility/ZELIdentifierUtilities.h"
#include "unit/support/SimTest.h"

using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

const char kXMLMetadata[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>itemId</key><integer>123456</integer>
  <key>itemName</key><string>Mensajes</string>
  <key>genres</key><array><string>Social</string><true/></array>
  <key>price</key><real>0.99</real>
</dict>
</plist>
)";

void writeFile(const std::string& path, const std::string& contents) {
    std::ofstream(path, std::ios::binary) << contents;
}

}  // namespace

class ZELIdentifierUtilitiesTest : public SimTest {
protected:
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove(metadataPath(), ec);
        SimTest::TearDown();
    }
    std::string metadataPath() { return sim().paths().root() + "/iTunesMetadata.plist"; }
    std::string tempPath(const char* name) { return sim().paths().cachesDirectory().value() + "/" + name; }
};

TEST_F(ZELIdentifierUtilitiesTest, DeviceIdentifierIsUpperHexMD5OfTheUniqueIdentifier) {
    sim().device().setUniqueIdentifier("abc");
    ZELIdentifierUtilities utilities;
    EXPECT_EQ(utilities.deviceIdentifier(), "900150983CD24FB0D6963F7D28E17F72");
    sim().device().setUniqueIdentifier("");
    ZELIdentifierUtilities empty;
    EXPECT_EQ(empty.deviceIdentifier(), "D41D8CD98F00B204E9800998ECF8427E");
}

TEST_F(ZELIdentifierUtilitiesTest, ParametersOfASimulatedPhone) {
    sim().device().setUniqueIdentifier("abc");
    sim().userDefaults().setObject(Value(Array{Value("ES-mx"), Value("en")}), "AppleLanguages");
    ZELIdentifierUtilities utilities;
    Dictionary p = utilities.parameters();
    EXPECT_EQ(p["isu"], Value("900150983CD24FB0D6963F7D28E17F72"));
    EXPECT_EQ(p["platform"], Value("iPhone"));
    EXPECT_EQ(p["hl"], Value("es-mx"));
    EXPECT_EQ(p["u_sd"], Value("2"));
    // Application frame 320 x 460 under a 20-point status bar.
    EXPECT_EQ(p["u_w"], Value("320"));
    EXPECT_EQ(p["u_h"], Value("480"));
    EXPECT_EQ(p["u_so"], Value("p"));
    EXPECT_EQ(p["u_audio"], Value("1"));
    EXPECT_EQ(p["app_name"], Value("1.0.iphone.org.nimbra.tests"));
    EXPECT_EQ(p["ios_metadata"], Value(Dictionary()));
    ASSERT_TRUE(p["submodel"].isString());
    EXPECT_FALSE(p["submodel"].asString()->empty());
    for (const char* absent : {"ios_ipadc", "ios_jb", "cap_bs"}) {
        EXPECT_EQ(p.count(absent), 0u) << absent;
    }
}

TEST_F(ZELIdentifierUtilitiesTest, ScreenSizeAndOrientationFollowTheStatusBar) {
    ZELIdentifierUtilities utilities;
    sim().mainScreen().setScale(1.5);
    sim().application().setStatusBarOrientation(platform::InterfaceOrientation::LandscapeLeft);
    sim().application().setStatusBarHidden(true, false);
    sim().mainScreen().setBounds(platform::Rect(0, 0, 480, 320));
    Dictionary p = utilities.parameters();
    EXPECT_EQ(p["u_sd"], Value("1.5"));
    EXPECT_EQ(p["u_w"], Value("480"));
    EXPECT_EQ(p["u_h"], Value("320"));
    EXPECT_EQ(p["u_so"], Value("l"));
    sim().application().setStatusBarOrientation(platform::InterfaceOrientation::PortraitUpsideDown);
    EXPECT_FALSE(utilities.isOrientationLandscape());
}

TEST_F(ZELIdentifierUtilitiesTest, ApplicationNameWithAndWithoutVersion) {
    ZELIdentifierUtilities utilities;
    sim().paths().setBundleIdentifier("app.id");
    sim().paths().setBundleVersion(std::string("1.2"));
    EXPECT_EQ(utilities.parameters()["app_name"], Value("1.2.iphone.app.id"));
    sim().paths().setBundleVersion(std::nullopt);
    EXPECT_EQ(utilities.parameters()["app_name"], Value("iphone.app.id"));
    sim().paths().setBundleVersion(std::string(""));
    EXPECT_EQ(utilities.parameters()["app_name"], Value("iphone.app.id"));
}

TEST_F(ZELIdentifierUtilitiesTest, AudioRouteCodes) {
    ZELIdentifierUtilities utilities;
    const std::pair<std::optional<std::string>, int> cases[] = {
        {std::nullopt, 1},  {std::string(""), 3},          {std::string("Headphone"), 2},
        {std::string("Headset"), 2}, {std::string("Speaker"), 1}, {std::string("HeadsetInOut"), 5},
        {std::string("headset"), 5}, {std::string("ReceiverAndMicrophone"), 5},
    };
    for (const auto& [route, code] : cases) {
        sim().setAudioRoute(route);
        EXPECT_EQ(utilities.audioRoute(), code) << route.value_or("<none>");
    }
    sim().setAudioRoute(std::string("HeadsetInOut"));
    EXPECT_EQ(utilities.parameters()["u_audio"], Value("5"));
}

TEST_F(ZELIdentifierUtilitiesTest, BookstoreCapabilities) {
    ZELIdentifierUtilities utilities;
    EXPECT_EQ(utilities.parameters().count("cap_bs"), 0u);
    sim().application().setOpenableSchemes({"kindle"});
    EXPECT_EQ(utilities.parameters()["cap_bs"], Value(2));
    sim().application().setOpenableSchemes({"kindle", "itms-books"});
    EXPECT_EQ(utilities.parameters()["cap_bs"], Value(3));
    sim().application().setOpenableSchemes({"itms-books"});
    EXPECT_EQ(utilities.parameters()["cap_bs"], Value(1));
}

TEST_F(ZELIdentifierUtilitiesTest, CanOpenURLsAnswersEveryString) {
    ZELIdentifierUtilities utilities;
    Dictionary answer = utilities.canOpenURLs({"http://x.test/", "tel:123", "not a url", ""});
    EXPECT_EQ(answer, (Dictionary{{"http://x.test/", Value(true)},
                                  {"tel:123", Value(false)},
                                  {"not a url", Value(false)},
                                  {"", Value(false)}}));
}

TEST_F(ZELIdentifierUtilitiesTest, TabletCompatibilityModeNeedsPhoneIdiomOnAnIPad) {
    sim().device().setModel("iPad");
    ZELIdentifierUtilities phoneApp;
    EXPECT_EQ(phoneApp.parameters()["ios_ipadc"], Value("1"));
    sim().device().setUserInterfaceIdiom(platform::UserInterfaceIdiom::Pad);
    ZELIdentifierUtilities tabletApp;
    EXPECT_FALSE(tabletApp.isPhoneIdiom());
    EXPECT_EQ(tabletApp.parameters().count("ios_ipadc"), 0u);
}

TEST_F(ZELIdentifierUtilitiesTest, LocaleIsRetriedWhileAbsent) {
    ZELIdentifierUtilities utilities;
    EXPECT_EQ(utilities.locale(), std::nullopt);
    sim().userDefaults().setObject(Value(Array()), "AppleLanguages");
    EXPECT_EQ(utilities.locale(), std::nullopt);
    sim().userDefaults().setObject(Value("en"), "AppleLanguages");
    EXPECT_EQ(utilities.locale(), std::nullopt);
    sim().userDefaults().setObject(Value(Array{Value("FR")}), "AppleLanguages");
    EXPECT_EQ(utilities.locale(), std::optional<std::string>("fr"));
    // Cached once found.
    sim().userDefaults().removeObject("AppleLanguages");
    EXPECT_EQ(utilities.locale(), std::optional<std::string>("fr"));
}

TEST_F(ZELIdentifierUtilitiesTest, MetadataBesideTheDocumentsFolderIsReadOnce) {
    writeFile(metadataPath(), kXMLMetadata);
    ZELIdentifierUtilities utilities;
    const Dictionary expected{{"itemId", Value(123456)},
                              {"itemName", Value("Mensajes")},
                              {"genres", Value(Array{Value("Social"), Value(true)})},
                              {"price", Value(0.99)}};
    EXPECT_EQ(utilities.parameters()["ios_metadata"], Value(expected));
    std::filesystem::remove(metadataPath());
    EXPECT_EQ(utilities.iTunesMetadata(), expected);
}

TEST_F(ZELIdentifierUtilitiesTest, MetadataFileInBinaryForm) {
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "itemName", plist_new_string("Mensajes"));
    plist_dict_set_item(root, "itemId", plist_new_uint(7));
    plist_dict_set_item(root, "artwork", plist_new_data("\x01\x02", 2));
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bin, &length);
    plist_free(root);
    ASSERT_NE(bin, nullptr);
    const std::string path = tempPath("binary.plist");
    writeFile(path, std::string(bin, length));
    free(bin);
    EXPECT_EQ(ZELIdentifierUtilities::readITunesMetadataFileAt(path),
              (Dictionary{{"itemName", Value("Mensajes")},
                          {"itemId", Value(7)},
                          {"artwork", Value(platform::Bytes{"\x01\x02"})}}));
}

TEST_F(ZELIdentifierUtilitiesTest, UnreadableMetadataGivesAnEmptyDictionary) {
    EXPECT_TRUE(ZELIdentifierUtilities::readITunesMetadataFileAt(tempPath("missing.plist")).empty());
    EXPECT_TRUE(ZELIdentifierUtilities::readITunesMetadataFileAt(sim().paths().root()).empty());

    const std::string garbage = tempPath("garbage.plist");
    writeFile(garbage, "<plist><dict><key>a</key>");
    EXPECT_TRUE(ZELIdentifierUtilities::readITunesMetadataFileAt(garbage).empty());
    writeFile(garbage, std::string("bplist00\xFF\xFF\xFF", 11));
    EXPECT_TRUE(ZELIdentifierUtilities::readITunesMetadataFileAt(garbage).empty());

    const std::string array = tempPath("array.plist");
    writeFile(array, R"(<?xml version="1.0"?><plist version="1.0"><array><string>x</string></array></plist>)");
    EXPECT_TRUE(ZELIdentifierUtilities::readITunesMetadataFileAt(array).empty());

    sim().paths().setDocumentsAvailable(false);
    ZELIdentifierUtilities utilities;
    EXPECT_TRUE(utilities.iTunesMetadata().empty());
}

TEST_F(ZELIdentifierUtilitiesTest, OSVersionComponentsAndComparison) {
    sim().device().setSystemVersion("4.1");
    int major = -1, minor = -1, bugFix = -1;
    ZELIdentifierUtilities::getOSMajor(&major, &minor, &bugFix);
    EXPECT_EQ(major, 4);
    EXPECT_EQ(minor, 1);
    EXPECT_EQ(bugFix, 0);
    ZELIdentifierUtilities::getOSMajor(nullptr, &minor, nullptr);
    EXPECT_TRUE(ZELIdentifierUtilities::isOSAtLeast(4, 0, 2));
    EXPECT_FALSE(ZELIdentifierUtilities::isOSAtLeast(4, 2, 0));
    EXPECT_TRUE(ZELIdentifierUtilities::isOSAtLeast(4, 1, 0));
    EXPECT_FALSE(ZELIdentifierUtilities::isOSAtLeast(4, 1, 1));
    EXPECT_TRUE(ZELIdentifierUtilities::isOSAtLeast(3, 9, 9));
    EXPECT_FALSE(ZELIdentifierUtilities::isOSAtLeast(10, 0, 0));

    sim().device().setSystemVersion("12");
    EXPECT_TRUE(ZELIdentifierUtilities::isOSAtLeast(4, 0, 0)) << "compared as numbers, not text";
}

TEST_F(ZELIdentifierUtilitiesTest, OSVersionTextsThatAreNotPlainNumbers) {
    int v[3];
    ZELIdentifierUtilities::parseOSVersion("", &v[0], &v[1], &v[2]);
    EXPECT_EQ((std::array{v[0], v[1], v[2]}), (std::array{0, 0, 0}));
    ZELIdentifierUtilities::parseOSVersion("6.1.4.9", &v[0], &v[1], &v[2]);
    EXPECT_EQ((std::array{v[0], v[1], v[2]}), (std::array{6, 1, 4}));
    ZELIdentifierUtilities::parseOSVersion("5.0-rc1.x", &v[0], &v[1], &v[2]);
    EXPECT_EQ((std::array{v[0], v[1], v[2]}), (std::array{5, 0, 0}));
    ZELIdentifierUtilities::parseOSVersion("99999999999999999999.1", &v[0], &v[1], &v[2]);
    EXPECT_GT(v[0], 0) << "no overflow";
    EXPECT_EQ(v[1], 1);
}

TEST_F(ZELIdentifierUtilitiesTest, JailbreakIndicatorIsAFileExistenceTest) {
    EXPECT_TRUE(ZELIdentifierUtilities::jailbreakIndicator(sim().paths().root()));
    EXPECT_FALSE(ZELIdentifierUtilities::jailbreakIndicator(tempPath("absent.app")));
    EXPECT_FALSE(ZELIdentifierUtilities::jailbreakIndicator(""));
    EXPECT_FALSE(ZELIdentifierUtilities().isJailbroken());
}
