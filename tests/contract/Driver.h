#pragma once
// The contract suites run the same cases on every backend through a driver
// type, made fresh for each case (SimContractTest.cpp, support/GtkDriver.h):
//   loop:   runUntil(done, seconds = 10), runFor(seconds), waitWithoutTurning(seconds)
//   HTTP:   url(path), serve(path, status, body, headers), redirect(path, location, status),
//           serveInPieces(path, pieces, headers) -> URL of a trickling chunked answer,
//           seen() -> requests that reached the server, unreachableURL()
//   pages:  page(path), pageSending(path, message) (navigates there while still loading),
//           failingPage(); scripts "6 * 7" answer "42", a throw nothing
//   chrome: drawn(window) -> what the backend shows

#include <string>
#include <utility>
#include <vector>

#include "platform/Http.h"

namespace nimbra::contract {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct SeenRequest {
    std::string target;  // path and query
    platform::HeaderMap headers;
};

struct DrawnChrome {
    bool statusBar = false;
    bool networkSpinner = false;
};

}  // namespace nimbra::contract
