// The pages the server writes: the 320 x 50 banner creatives, the two
// landing pages at the end of a click chain and the web-app page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace adserver {

// Where a tap on the banner leads.
enum class Destination {
    Landing,         // the click chain, ending at landing page 1
    WebApp,          // the click chain, ending at the web-app page
    WebAppHTML,      // the web-app page's markup itself, sent as the message's "html"
    Call,            // kCallURL
    Mail,            // mailLink(): a mailto: URL with a cc list and a subject
    HostileLanding,  // the click chain, ending at a landing page that tries things (Hostile.h)
};

// What a hostile creative tries on the component (Hostile.h).
enum class Attack {
    None,
    OpensByItself,  // asks to open every kind of thing, with no tap
    AsksAgain,      // a tap, then asks for more than the one opening
    Downloads,      // attachments, download links, a page navigating to a file
    Dialogs,        // alert, confirm, prompt, print, location, notifications, a password
    FrameSpeaks,    // a frame of another origin sends the ad's messages
};

// A fixed number, so a test or a person can tell the call was asked for.
inline constexpr std::string_view kCallURL = "tel:+34600000000";

// What a filled ad does when tapped, and which headers come with it. Each
// kind is also a scenario of the same name, and a name for --creatives.
struct CreativeKind {
    std::string_view name;
    bool clickTracking;           // sends X-Ruma-Click-Tracking-Urls
    std::string_view openAction;  // empty: the banner is a plain link; else a tap sends "open" with this "a"
    Destination destination;
    std::string_view note;  // shown on the banner, so a demo tells the kinds apart
    Attack attack = Attack::None;
};

// The kind called `name`, or nullptr.
const CreativeKind* creativeKind(std::string_view name);
// The plain ad: a link to the click URL, all headers.
const CreativeKind& normalCreative();

struct Creative {
    std::string adUnitID;
    std::uint64_t sequence = 0;  // the server's ad counter, shown so reloads are visible
    std::string clickURL;        // absolute URL the banner links to (a mailto: URL for mail)
    std::string openMessage;     // when set, a tap navigates the page here instead
    std::string_view note;
    std::string script;  // markup after the link (a hostile creative's attack)
};

std::string bannerMarkup(const Creative& creative);

// The mail creative's link; the subject names the ad.
std::string mailLink(std::string_view sequence);

// Page 1 links to page 2 and page 2 back to page 1, so the in-app browser's
// history has somewhere to go. `origin` makes the links absolute.
std::string landingPage(std::string_view origin, std::string_view clickToken, std::string_view sequence, int page);

// A full-screen page for the web-app screen. It logs the component's
// "onshow" and "onhide" on the page and in window.nimbraWebApp, reports each
// to <origin>/webapp/event, and closes its screen with qmsg://nimbra/close.
// `origin` is explicit because the page may be shown without a base URL.
std::string webAppPage(std::string_view origin, std::string_view clickToken, std::string_view sequence);

}  // namespace adserver
