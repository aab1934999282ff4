// The pages the server writes: the 320 x 50 banner creatives and the two
// landing pages at the end of a click chain.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace adserver {

// What a filled ad does when tapped, and which headers come with it. Each
// kind is also a scenario of the same name, and a name for --creatives.
struct CreativeKind {
  std::string_view name;
  bool clickTracking;           // sends X-Ruma-Click-Tracking-Urls
  std::string_view openAction;  // empty: the banner links to the click URL; else a tap sends "open" with this "a"
  std::string_view note;        // shown on the banner, so a demo tells the kinds apart
};

// The kind called `name`, or nullptr.
const CreativeKind* creativeKind(std::string_view name);
// The plain ad: a link to the click URL, all headers.
const CreativeKind& normalCreative();

struct Creative {
  std::string adUnitID;
  std::uint64_t sequence = 0;  // the server's ad counter, shown so reloads are visible
  std::string clickURL;        // absolute URL the banner links to
  std::string openMessage;     // when set, a tap navigates the page here instead
  std::string_view note;
};

std::string bannerMarkup(const Creative& creative);

// Page 1 links to page 2 and page 2 back to page 1, so the in-app browser's
// history has somewhere to go. `origin` makes the links absolute.
std::string landingPage(std::string_view origin, std::string_view clickToken, std::string_view sequence, int page);

}  // namespace adserver
