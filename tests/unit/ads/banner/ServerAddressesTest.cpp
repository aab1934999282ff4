// Where the component finds its servers, and what it takes from that.

#include <cstdlib>

#include "Statistics/ZELStatistics.h"
#include "Utility/ZELServerAddresses.h"
#include "unit/support/SimTest.h"

namespace {
class ServerAddressesTest : public SimTest {
protected:
    void TearDown() override {
        unsetenv("NIMBRA_STATIC_SERVER");
        unsetenv("NIMBRA_AD_SERVER");
        ZELStatistics::setAdNetworkDomainSuffixForTesting("");
        SimTest::TearDown();
    }
};
}  // namespace

TEST_F(ServerAddressesTest, CompiledInAddressesPointAtTheLoopbackServer) {
    EXPECT_EQ(ZELServerAddresses::supportScriptURL().absoluteString(), "http://127.0.0.1:8090/ruma/sdk-core-v40.js");
    EXPECT_EQ(ZELServerAddresses::adServerRootURL().absoluteString(), "http://127.0.0.1:8090/");
    EXPECT_EQ(ZELStatistics::adNetworkDomainSuffix(), "127.0.0.1");
}

TEST_F(ServerAddressesTest, EnvironmentOverridesAndBadValuesAreIgnored) {
    setenv("NIMBRA_STATIC_SERVER", "http://static.example:81/", 1);
    setenv("NIMBRA_AD_SERVER", "https://ads.example.net:8443/some/path?q=1", 1);
    EXPECT_EQ(ZELServerAddresses::supportScriptURL().absoluteString(), "http://static.example:81/ruma/sdk-core-v40.js");
    // Scheme and host only, for the hidden page's base.
    EXPECT_EQ(ZELServerAddresses::adServerRootURL().absoluteString(), "https://ads.example.net:8443/");
    ZELStatistics::setAdNetworkDomainSuffixForTesting("");
    EXPECT_EQ(ZELStatistics::adNetworkDomainSuffix(), "ads.example.net");

    setenv("NIMBRA_AD_SERVER", "ftp://nope", 1);
    setenv("NIMBRA_STATIC_SERVER", "not a url", 1);
    EXPECT_EQ(ZELServerAddresses::adServerRootURL().absoluteString(), "http://127.0.0.1:8090/");
    EXPECT_EQ(ZELServerAddresses::supportScriptURL().absoluteString(), "http://127.0.0.1:8090/ruma/sdk-core-v40.js");
    EXPECT_TRUE(sim().logContains("Ignoring NIMBRA_AD_SERVER"));
}
