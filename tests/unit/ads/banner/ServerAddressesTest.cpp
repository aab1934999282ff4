// Where the component finds its servers, and what it takes from that.

#include "Statistics/ZELStatistics.h"
#include "Utility/ZELServerAddresses.h"
#include "unit/support/SimTest.h"

TEST_F(SimTest, ServerAddressesComeFromTheEnvironmentElseTheLoopbackServer) {
    const auto expect = [](const char* script, const char* root, const char* network) {
        EXPECT_EQ(ZELServerAddresses::supportScriptURL().absoluteString(), script);
        EXPECT_EQ(ZELServerAddresses::adServerRootURL().absoluteString(), root);
        ZELStatistics::setAdNetworkDomainSuffixForTesting("");
        EXPECT_EQ(ZELStatistics::adNetworkDomainSuffix(), network);
    };
    expect("http://127.0.0.1:8090/ruma/sdk-core-v40.js", "http://127.0.0.1:8090/", "127.0.0.1");
    setenv("NIMBRA_STATIC_SERVER", "http://static.example:81/", 1);
    setenv("NIMBRA_AD_SERVER", "https://ads.example.net:8443/some/path?q=1", 1);
    // Scheme and host only, for the hidden page's base.
    expect("http://static.example:81/ruma/sdk-core-v40.js", "https://ads.example.net:8443/", "ads.example.net");
    setenv("NIMBRA_AD_SERVER", "ftp://nope", 1);
    setenv("NIMBRA_STATIC_SERVER", "not a url", 1);
    expect("http://127.0.0.1:8090/ruma/sdk-core-v40.js", "http://127.0.0.1:8090/", "127.0.0.1");
    EXPECT_TRUE(sim().logContains("Ignoring NIMBRA_AD_SERVER"));
    unsetenv("NIMBRA_STATIC_SERVER");
    unsetenv("NIMBRA_AD_SERVER");
    ZELStatistics::setAdNetworkDomainSuffixForTesting("");
}
