#include "platform/sim/SimBackend.h"

#include <cstdio>
#include <cstdlib>

namespace platform::sim {

SimBackend::SimBackend() {
    // NIMBRA_SIM_LOG=1 shows the captured lines while debugging a test.
    echoLog_ = std::getenv("NIMBRA_SIM_LOG") != nullptr;
}

SimBackend::~SimBackend() {
    if (hasBackend() && &backend() == this) installBackend(nullptr);
    // Nothing pending may run against services that are going away.
    http_.reset();
    loop_.reset();
}

void SimBackend::install() { installBackend(this); }

void SimBackend::reset() {
    // Connections first, so none of their pending steps survive the loop's reset.
    http_.reset();
    loop_.reset();
    clock_.reset();
    defaults_.reset();
    paths_.reset();
    network_.reset();
    application_.reset();
    device_.reset();
    screen_.reset();
    web_.reset();
    display_.reset();
    clearLog();
    audioRoute_.reset();
    sounds_.clear();
    propertyLists_.clear();
}

std::optional<Dictionary> SimBackend::dictionaryFromPropertyList(std::string_view data) {
    auto it = propertyLists_.find(data);
    if (it == propertyLists_.end()) return std::nullopt;
    return it->second;
}

void SimBackend::writeLogLine(std::string_view line) {
    log_.emplace_back(line);
    if (echoLog_) {
        std::string out(line);
        out += '\n';
        std::fwrite(out.data(), 1, out.size(), stderr);
    }
}

std::vector<std::string> SimBackend::logLines() const { return log_; }

bool SimBackend::logContains(const std::string& fragment) const {
    for (const auto& line : log_)
        if (line.find(fragment) != std::string::npos) return true;
    return false;
}

void SimBackend::clearLog() { log_.clear(); }

std::shared_ptr<URLConnection> SimBackend::makeConnection(const URLRequest& request,
                                                          std::weak_ptr<URLConnectionDelegate> delegate) {
    return http_.makeConnection(request, std::move(delegate));
}

std::unique_ptr<Reachability> SimBackend::makeReachability(const std::string& host) {
    return network_.makeReachability(host);
}

std::unique_ptr<ViewPeer> SimBackend::makeViewPeer(View& view) { return std::make_unique<SimViewPeer>(view, display_); }

std::unique_ptr<WebViewPeer> SimBackend::makeWebViewPeer(WebView& view) {
    return std::make_unique<SimWebViewPeer>(view, web_);
}

}  // namespace platform::sim
