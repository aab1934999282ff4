#include "platform/Http.h"

#include <algorithm>

#include "platform/Backend.h"

namespace platform {

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) {
        return lower(static_cast<unsigned char>(x)) < lower(static_cast<unsigned char>(y));
    });
}

std::optional<std::string> URLRequest::valueForHTTPHeaderField(const std::string& name) const {
    auto it = headers.find(name);
    if (it == headers.end()) return std::nullopt;
    return it->second;
}

std::shared_ptr<URLConnection> URLConnection::create(const URLRequest& request,
                                                     std::weak_ptr<URLConnectionDelegate> delegate) {
    return backend().makeConnection(request, std::move(delegate));
}

void URLConnection::prepare() {
    if (hasBackend()) backend().prepareConnections();
}

}  // namespace platform
