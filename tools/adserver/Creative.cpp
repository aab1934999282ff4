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

}  // namespace

std::string bannerMarkup(const Creative& creative) {
  const Theme& theme = kThemes[creative.sequence % kThemes.size()];
  const std::string sequence = std::to_string(creative.sequence);
  std::string html;
  html.reserve(2048);
  html += "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
          "<meta name=\"viewport\" content=\"width=320,initial-scale=1,user-scalable=no\">"
          "<title>Ad ";
  html += sequence;
  html += "</title><style>"
          "html,body{margin:0;padding:0;width:320px;height:50px;overflow:hidden;"
          "font-family:sans-serif;-webkit-user-select:none}"
          "a.ad{display:flex;align-items:center;box-sizing:border-box;width:320px;height:50px;"
          "padding:0 8px;text-decoration:none;color:#fff;background:linear-gradient(90deg,";
  html += theme.from;
  html += ",";
  html += theme.to;
  html += ")}"
          ".mark{flex:none;width:34px;height:34px;border-radius:8px;background:rgba(255,255,255,.22);"
          "font-weight:bold;font-size:18px;line-height:34px;text-align:center}"
          ".text{flex:1;min-width:0;padding:0 8px}"
          ".headline{display:block;font-size:14px;font-weight:bold;white-space:nowrap;overflow:hidden;"
          "text-overflow:ellipsis}"
          ".sub{display:block;font-size:10px;opacity:.85}"
          ".cta{flex:none;padding:6px 10px;border-radius:14px;background:#fff;color:";
  html += theme.from;
  html += ";font-size:12px;font-weight:bold}"
          "</style></head><body>"
          "<a class=\"ad\" id=\"ad\" href=\"";
  html += htmlEscape(creative.clickURL);
  html += "\"><span class=\"mark\">N</span><span class=\"text\"><span class=\"headline\">";
  html += htmlEscape(theme.headline);
  html += "</span><span class=\"sub\">Ad #";
  html += sequence;
  html += " &middot; unit ";
  html += htmlEscape(creative.adUnitID);
  html += "</span></span><span class=\"cta\">";
  html += htmlEscape(theme.action);
  html += "</span></a></body></html>\n";
  return html;
}

std::string landingPage(std::string_view clickToken, std::string_view sequence) {
  std::string html;
  html += "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
          "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
          "<title>Nimbra landing page</title><style>"
          "body{margin:0;font-family:sans-serif;background:linear-gradient(180deg,#1d4ed8,#7c3aed);"
          "color:#fff;min-height:100vh;display:flex;flex-direction:column;align-items:center;"
          "justify-content:center;text-align:center}"
          "h1{font-size:24px;margin:0 16px 8px}p{margin:4px 16px;opacity:.9}"
          "</style></head><body><h1>Thanks for your interest</h1>"
          "<p>This is the advertiser's landing page.</p><p id=\"ai\">Click ";
  html += htmlEscape(clickToken.empty() ? std::string_view{"(none)"} : clickToken);
  html += "</p><p id=\"seq\">Ad #";
  html += htmlEscape(sequence.empty() ? std::string_view{"?"} : sequence);
  html += "</p></body></html>\n";
  return html;
}

}  // namespace adserver
