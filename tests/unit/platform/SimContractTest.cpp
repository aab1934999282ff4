// The platform contract on the sim backend: virtual time, scripted routes and
// scripted pages stand in for the real loop, servers and engine.

#include "contract/ChromeContract.h"
#include "contract/DefaultsContract.h"
#include "contract/HttpContract.h"
#include "contract/RunLoopContract.h"
#include "contract/WebViewContract.h"
#include "unit/support/SimTest.h"

namespace {

using namespace nimbra::contract;
using platform::sim::SimResponse;
using platform::sim::SimWebLoad;
using platform::sim::SimWebViewPeer;

class SimDriver {
public:
    SimDriver() {
        platform::setLogSink(nullptr);
        sim().reset();
        // The pages of the contract, as a real engine would run them.
        sim().web().setPageBehaviour([this](SimWebViewPeer& page, const SimWebLoad& load) {
            const std::string url = load.request.url.absoluteString();
            if (url == failingPage()) {
                page.failLoad(platform::Error{platform::kURLErrorDomain, platform::kURLErrorCannotFindHost, "no host"});
                return;
            }
            if (auto message = messages_.find(url); message != messages_.end())
                page.navigate(message->second, platform::NavigationType::Other);
            page.finishLoad();
        });
        sim().web().setScriptResponder([](const std::string& script) -> std::optional<std::string> {
            if (script.starts_with("throw")) return std::nullopt;
            return script == "6 * 7" ? "42" : "";
        });
    }
    ~SimDriver() { sim().reset(); }
    bool runUntil(const std::function<bool()>& done, double seconds = 10) { return sim().runUntil(done, seconds); }
    void runFor(double seconds) { sim().advance(seconds); }
    void waitWithoutTurning(double) {}
    std::string url(const std::string& pathAndQuery) const { return "http://contract.test" + pathAndQuery; }
    void serve(const std::string& path, int status, const std::string& body, const Headers& headers = {}) {
        route(path, SimResponse::withStatus(status, body, headerMap(headers)));
    }
    std::string serveInPieces(const std::string& path, const std::vector<std::string>& pieces,
                              const Headers& headers = {}) {
        std::string body;
        for (const auto& piece : pieces) body += piece;
        route(path, SimResponse::ok(body, headerMap(headers)).inChunks(pieces.front().size()));
        return url(path);
    }
    void redirect(const std::string& path, const std::string& location, int status = 302) {
        route(path, SimResponse::redirect(location, status));
    }
    std::vector<SeenRequest> seen() const {
        std::vector<SeenRequest> out;
        for (const auto& r : sim().http().requestsTo(url("/")))
            out.push_back({r.url.absoluteString().substr(url("").size()), r.headers});
        return out;
    }
    std::string unreachableURL() const { return "http://unreachable.test/"; }
    std::string page(const std::string& path) const { return url(path); }
    std::string pageSending(const std::string& path, const std::string& message) {
        messages_[url(path)] = message;
        return url(path);
    }
    std::string failingPage() const { return "http://nowhere.invalid/nothing"; }
    DrawnChrome drawn(const platform::Window&) const {
        const auto& drawn = sim().application().drawnChrome();
        const platform::Chrome last = drawn.empty() ? platform::Chrome() : drawn.back();
        return {!last.statusBarHidden, last.networkActivityIndicatorVisible};
    }

private:
    static platform::sim::SimBackend& sim() { return nimbra::test::simBackend(); }
    // By path, whatever the query, as a server routes.
    void route(const std::string& path, const SimResponse& response) {
        sim().http().route(url(path), response);
        sim().http().routePrefix(url(path) + "?", response);
    }
    static platform::HeaderMap headerMap(const Headers& headers) { return {headers.begin(), headers.end()}; }
    std::map<std::string, std::string> messages_;
};

}  // namespace

namespace nimbra::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, RunLoopContract, SimDriver);
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, HttpContract, SimDriver);
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, WebViewContract, SimDriver);
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, ChromeContract, SimDriver);
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, DefaultsContract, SimDriver);
}  // namespace nimbra::contract
