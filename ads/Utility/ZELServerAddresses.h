#pragma once
// Where the component finds its servers: compiled-in loopback addresses of
// the development ad server, overridden by NIMBRA_STATIC_SERVER and
// NIMBRA_AD_SERVER.

#include "platform/URL.h"

inline constexpr const char kZELDefaultStaticServer[] = "http://127.0.0.1:8090";
inline constexpr const char kZELDefaultAdServer[] = "http://127.0.0.1:8090/";
inline constexpr const char kZELSupportScriptPath[] = "/ruma/sdk-core-v40.js";

class ZELServerAddresses {
public:
    // The support script on the static content server.
    static platform::URL supportScriptURL();
    // The ad server's root, base of the hidden request-building page.
    static platform::URL adServerRootURL();
};
