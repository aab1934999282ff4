#include "signals/Signals.h"

namespace {

SignalsProvider& builtInProvider() {
    static SignalsProvider provider;
    return provider;
}

SignalsProvider* gProvider = nullptr;

SignalsProvider& provider() { return gProvider ? *gProvider : builtInProvider(); }

}  // namespace

void SignalsProvider::gig(int, const std::string&) {}
bool SignalsProvider::gmrs(std::string&) { return false; }
bool SignalsProvider::gmcs(const std::string&, std::string&) { return false; }
void SignalsProvider::htg(int, int, int) {}

void zel_gig(int requestType, const std::string& sdkVersion) { provider().gig(requestType, sdkVersion); }

bool zel_gmrs(std::string& output) { return provider().gmrs(output); }

bool zel_gmcs(const std::string& clickString, std::string& output) { return provider().gmcs(clickString, output); }

void zel_htg(int x, int y, int d) { provider().htg(x, y, d); }

void zel_signals_set_provider(SignalsProvider* provider) { gProvider = provider; }
