#include "Request/ZELRequest.h"

#include <cstdio>

#include "Request/ZELRequestPrivate.h"

std::shared_ptr<ZELRequest> ZELRequest::request() { return std::make_shared<ZELRequestPrivate>(); }

const std::string& ZELRequest::sdkVersion() {
    static const std::string version = [] {
        char text[64];
        std::snprintf(text, sizeof text, "ruma-sdk-i-v%d.%d.%d", 4, 1, 1);
        return std::string(text);
    }();
    return version;
}

std::shared_ptr<ZELRequest> ZELRequest::copy() const { return std::make_shared<ZELRequestPrivate>(*this); }

void ZELRequest::setBirthdayWithMonth(int, int, int) {}
void ZELRequest::setLocationWithLatitude(double, double, double) {}
void ZELRequest::setLocationWithDescription(const std::string&) {}
void ZELRequest::addKeyword(const std::string&) {}

std::string ZELRequest::description() const {
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return std::string("ZELRequest<") + address + ">: ";
}
