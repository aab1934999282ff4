// The support script served at /ruma/sdk-core-v40.js: it turns the ad
// request's parameter object into the ad URL and answers through message
// URLs. Kept in its own file so the JavaScript reads as JavaScript.
#pragma once

#include <string_view>

namespace adserver {

std::string_view supportScript();
// What --script-fault appends to it.
std::string_view scriptThatThrows();
std::string_view scriptThatAnswersTwice();

}  // namespace adserver
