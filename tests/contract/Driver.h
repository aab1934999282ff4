#pragma once
// The contract suites run the same cases on every backend. Each backend's test
// executable supplies a driver type, made fresh for every case, that knows
// how to turn its loop, serve HTTP, script pages and show the chrome:
//
//   bool runUntil(std::function<bool()> done, double seconds = 10);
//   void runFor(double seconds);             // turns the loop that long
//   void waitWithoutTurning(double seconds); // time passes, nothing runs
//
//   std::string url(std::string pathAndQuery);
//   void serve(std::string path, int status, std::string body, Headers headers = {});
//   // A chunked answer that trickles in; returns the URL to fetch it from.
//   std::string serveInPieces(std::string path, std::vector<std::string> pieces, Headers headers = {});
//   void redirect(std::string path, std::string location, int status = 302);
//   std::vector<SeenRequest> seen();         // every request that reached a server
//   std::string unreachableURL();            // nobody listens there
//
//   std::string page(std::string path);      // a page that loads and finishes
//   // A page that navigates to `message` while its own content still loads.
//   std::string pageSending(std::string path, std::string message);
//   std::string failingPage();               // a load that fails
//   // Scripts "6 * 7" answers "42"; a script that throws answers nothing.
//   void endWebProcess(platform::WebView&);
//
//   DrawnChrome drawn(const platform::Window&);  // what the backend shows

#include <functional>
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
