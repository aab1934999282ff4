// The hostile creatives: banners, landing pages and frames that try what
// outside code could try on the component (open things by themselves, ask
// again after one tap, download, raise dialogs and permission prompts, speak
// from a frame of another origin or from a landing page), each reporting
// what it tried and what it heard to /hostile/event, so a test sees it from
// outside. Nothing here is served unless a test asks for these creatives.
#pragma once

#include <string>
#include <string_view>

#include "AdServer.h"
#include "Creative.h"

namespace adserver {

// The markup a banner of this kind carries after its link (empty for none).
std::string attackMarkup(Attack attack, std::string_view origin, std::string_view clickURL, std::string_view sequence);

// The answers under /hostile/: the event beacon, the landing page, the
// frame page, a download and a page behind a password.
AdServer::Reply hostileReply(const AdServer::Request& request);

}  // namespace adserver
