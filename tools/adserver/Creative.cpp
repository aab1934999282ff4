#include "Creative.h"

#include <array>

#include "Text.h"

namespace adserver {
namespace {

struct Theme {
    const char* from;
    const char* to;
    const char* headline;
    const char* action;
};

// A few colourways and lines, picked by sequence number, so one reload is
// easy to tell from the next.
constexpr std::array<Theme, 4> kThemes{{
    {"#1d4ed8", "#7c3aed", "Nimbra Cloud: 50 GB free", "Get it"},
    {"#047857", "#0ea5e9", "Fresh coffee, delivered", "Order"},
    {"#b45309", "#dc2626", "Weekend trips from 49", "Explore"},
    {"#be185d", "#6d28d9", "Learn a language daily", "Start"},
}};

// One line per kind of creative.
constexpr std::array<CreativeKind, 14> kCreativeKinds{{
    {"normal", true, "", Destination::Landing, ""},
    {"browser", false, "", Destination::Landing, "browser link"},
    {"open-browser", true, "browser", Destination::Landing, "open message"},
    {"webapp", true, "", Destination::WebApp, "web app link"},
    {"webapp-html", true, "webapp", Destination::WebAppHTML, "web app markup"},
    {"app", true, "app", Destination::Landing, "leaves the app"},
    {"call", true, "call", Destination::Call, "phone call"},
    {"mail", true, "", Destination::Mail, "mail link"},
    {"hostile-auto", true, "", Destination::Landing, "opens by itself", Attack::OpensByItself},
    {"hostile-taps", true, "", Destination::Landing, "asks again", Attack::AsksAgain},
    {"hostile-download", true, "", Destination::Landing, "downloads", Attack::Downloads},
    {"hostile-dialogs", true, "", Destination::Landing, "dialogs", Attack::Dialogs},
    {"hostile-frame", true, "", Destination::Landing, "speaks from a frame", Attack::FrameSpeaks},
    {"hostile-landing", false, "", Destination::HostileLanding, "hostile landing page"},
}};

// Sends the ad's message on a tap only: the component opens nothing a
// person did not touch.
constexpr const char kOpenOnTap[] =
    "<script>document.getElementById('ad').addEventListener('click',function(event){"
    "event.preventDefault();location.href=this.dataset.message;});</script>";

}  // namespace

const CreativeKind* creativeKind(std::string_view name) {
    for (const CreativeKind& kind : kCreativeKinds) {
        if (kind.name == name) return &kind;
    }
    return nullptr;
}

const CreativeKind& normalCreative() { return kCreativeKinds.front(); }

std::string bannerMarkup(const Creative& creative) {
    const Theme& theme = kThemes[creative.sequence % kThemes.size()];
    const std::string sequence = std::to_string(creative.sequence);
    std::string html;
    html.reserve(2048);
    html +=
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=320,initial-scale=1,user-scalable=no\">"
        "<title>Ad ";
    html += sequence;
    html +=
        "</title><style>"
        "html,body{margin:0;padding:0;width:320px;height:50px;overflow:hidden;"
        "font-family:sans-serif;-webkit-user-select:none}"
        "a.ad{display:flex;align-items:center;box-sizing:border-box;width:320px;height:50px;"
        "padding:0 8px;text-decoration:none;color:#fff;background:linear-gradient(90deg,";
    html += theme.from;
    html += ",";
    html += theme.to;
    html +=
        ")}"
        ".mark{flex:none;width:34px;height:34px;border-radius:8px;background:rgba(255,255,255,.22);"
        "font-weight:bold;font-size:18px;line-height:34px;text-align:center}"
        ".text{flex:1;min-width:0;padding:0 8px}"
        ".headline{display:block;font-size:14px;font-weight:bold;white-space:nowrap;overflow:hidden;"
        "text-overflow:ellipsis}"
        ".sub{display:block;font-size:10px;opacity:.85;white-space:nowrap;overflow:hidden;text-overflow:ellipsis}"
        ".cta{flex:none;padding:6px 10px;border-radius:14px;background:#fff;color:";
    html += theme.from;
    html +=
        ";font-size:12px;font-weight:bold}"
        "</style></head><body>"
        "<a class=\"ad\" id=\"ad\" href=\"";
    if (creative.openMessage.empty()) {
        html += htmlEscape(creative.clickURL);
    } else {
        html += "#\" data-message=\"";
        html += htmlEscape(creative.openMessage);
    }
    html += "\"><span class=\"mark\">N</span><span class=\"text\"><span class=\"headline\">";
    html += htmlEscape(theme.headline);
    html += "</span><span class=\"sub\">Ad #";
    html += sequence;
    if (!creative.note.empty()) {
        html += " &middot; ";
        html += htmlEscape(creative.note);
    }
    html += " &middot; unit ";
    html += htmlEscape(creative.adUnitID);
    html += "</span></span><span class=\"cta\">";
    html += htmlEscape(theme.action);
    html += "</span></a>";
    if (!creative.openMessage.empty()) html += kOpenOnTap;
    html += creative.script;
    html += "</body></html>\n";
    return html;
}

std::string landingPage(std::string_view origin, std::string_view clickToken, std::string_view sequence, int page) {
    const bool first = page == 1;
    const std::string query = "?ai=" + percentEncode(clickToken) + "&seq=" + percentEncode(sequence);
    const std::string pageText = first ? "1" : "2";
    std::string html;
    html +=
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
        "<title>Nimbra landing page ";
    html += pageText;
    html +=
        "</title><style>"
        "body{margin:0;font-family:sans-serif;background:linear-gradient(180deg,";
    html += first ? "#1d4ed8,#7c3aed" : "#047857,#0ea5e9";
    html +=
        ");color:#fff;min-height:100vh;display:flex;flex-direction:column;align-items:center;"
        "justify-content:center;text-align:center;box-sizing:border-box;padding:24px 16px}"
        "h1{font-size:22px;margin:0 0 12px}p{margin:4px 0;opacity:.9}#ai{overflow-wrap:anywhere}"
        ".page{font-size:13px;letter-spacing:1px;text-transform:uppercase;opacity:.75}"
        "a{display:inline-block;margin-top:20px;padding:10px 18px;border-radius:20px;background:#fff;"
        "color:#1d4ed8;font-weight:bold;text-decoration:none}"
        "</style></head><body><p class=\"page\" id=\"page\">Page ";
    html += pageText;
    html += " of 2</p><h1>";
    html += first ? "Thanks for your interest" : "More about the offer";
    html += "</h1><p>";
    html += first ? "This is the advertiser's landing page." : "The advertiser's second page.";
    html += "</p><p id=\"seq\">Ad #";
    html += htmlEscape(sequence.empty() ? std::string_view{"?"} : sequence);
    html += "</p><p id=\"ai\">Click ";
    html += htmlEscape(clickToken.empty() ? std::string_view{"(none)"} : clickToken);
    html += "</p><a id=\"page-link\" href=\"";
    html += htmlEscape(std::string(origin) + (first ? "/landing/2" : "/landing") + query);
    html += first ? "\">Next page &rarr;</a>" : "\">&larr; Back to page 1</a>";
    html += "</body></html>\n";
    return html;
}

std::string mailLink(std::string_view sequence) {
    return "mailto:ventas@nimbra.example?cc=info@nimbra.example,soporte@nimbra.example&subject=" +
           percentEncode("Ad #" + std::string(sequence));
}

std::string webAppPage(std::string_view origin, std::string_view clickToken, std::string_view sequence) {
    // The beacon rides in an attribute, so nothing from the request is ever
    // written into the script.
    const std::string beacon =
        std::string(origin) + "/webapp/event?ai=" + percentEncode(clickToken) + "&seq=" + percentEncode(sequence);
    std::string html;
    html +=
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=320,initial-scale=1,user-scalable=no\">"
        "<title>Nimbra web app</title><style>"
        // The top 48 points stay clear: the component draws its close button there.
        "body{margin:0;min-height:100vh;box-sizing:border-box;padding:48px 16px 16px;font-family:sans-serif;"
        "background:linear-gradient(180deg,#0f766e,#1d4ed8);color:#fff}"
        "h1{font-size:28px;margin:0 0 16px}ol{margin:0 0 24px;padding-left:20px;line-height:1.6}"
        "a{display:block;padding:12px;border-radius:22px;background:#fff;color:#0f766e;font-weight:bold;"
        "text-align:center;text-decoration:none}"
        "</style></head><body data-beacon=\"";
    html += htmlEscape(beacon);
    html += "\"><h1 id=\"title\">Web app &middot; Ad #";
    html += htmlEscape(sequence.empty() ? std::string_view{"?"} : sequence);
    html +=
        "</h1><p>What the screen said:</p><ol id=\"log\"></ol>"
        "<a id=\"close\" href=\"qmsg://nimbra/close\">Close</a>"
        "<script>window.nimbraWebApp={onshow:0,onhide:0,log:[]};"
        "window.RUMA_ReceiveMessage=function(name,payload){"
        "var app=window.nimbraWebApp,line=String(name),p=payload||{};"
        "if(name==='onshow'||name==='onhide')app[name]++;"
        "if(name==='onshow')line+=' \\u00b7 version '+p.version+' \\u00b7 device '+p.device;"
        "app.log.push(line);var item=document.createElement('li');item.textContent=line;"
        "document.getElementById('log').appendChild(item);"
        "new Image().src=document.body.dataset.beacon+'&name='+encodeURIComponent(name);};"
        "</script></body></html>\n";
    return html;
}

}  // namespace adserver
