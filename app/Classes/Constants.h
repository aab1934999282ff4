#pragma once
// The application's fixed addresses.

#include <optional>
#include <string>

#include "platform/View.h"

namespace mensajes {

// The carrier's message form (TLS) and a messaging service's mobile page.
inline constexpr const char kFirstPageAddress[] = "https://sms.auroramovil.example/enviar";
inline constexpr const char kThirdPageAddress[] = "http://m.mensajeria-libre.example/sms";
// The bundled page: a resource of type "html" named after the carrier.
inline constexpr const char kLocalPageName[] = "auroramovil";
inline constexpr const char kLocalPageType[] = "html";
inline constexpr const char kContactAddress[] = "mailto:autor@mensajes-app.example";

// The banners of the first and fourth screens: one ad unit, one 320 x 50 ad
// flush with the bottom of the content area of the screens' interface files
// (361 + 50 = 480 - 20 - 49). On a larger screen the ad keeps its size,
// stays on the bottom and sits in the middle of the strip: its margins are
// flexible, its size is not.
inline constexpr const char kAdUnitID[] = "a14c9e0d27f3b85";
inline constexpr double kBannerX = 0, kBannerY = 361, kBannerWidth = 320, kBannerHeight = 50;
inline constexpr unsigned kBannerMask = platform::kAutoresizingFlexibleLeftMargin |
                                        platform::kAutoresizingFlexibleRightMargin |
                                        platform::kAutoresizingFlexibleTopMargin;

// Development and test builds may point the two remote screens elsewhere
// (MENSAJES_FIRST_PAGE, MENSAJES_THIRD_PAGE); otherwise the constants above.
std::string firstPageAddress();
std::string thirdPageAddress();

}  // namespace mensajes
