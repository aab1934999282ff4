// The pages the server writes: the 320 x 50 banner creative and the
// landing page at the end of a click chain.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace adserver {

struct Creative {
  std::string adUnitID;
  std::uint64_t sequence = 0;  // the server's ad counter, shown so reloads are visible
  std::string clickURL;        // absolute URL the banner links to
};

std::string bannerMarkup(const Creative& creative);

std::string landingPage(std::string_view clickToken, std::string_view sequence);

}  // namespace adserver
