#include "AdServer.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "Creative.h"
#include "Hostile.h"
#include "SupportScript.h"

namespace adserver {
namespace {

constexpr std::string_view kScriptPath = "/ruma/sdk-core-v40.js";
// Longer queries are refused before they are parsed or recorded.
constexpr std::size_t kMaxQuery = 32 * 1024;
// "extras" arrives as JSON text; anything bigger or deeper than an honest
// request would send is ignored.
constexpr std::size_t kMaxExtras = 8 * 1024;
constexpr std::size_t kMaxExtrasDepth = 32;
constexpr double kMaxDelaySeconds = 60;
// The "big" scenario's markup: 10 MiB unless "size" asks otherwise, at most 80 MiB.
constexpr std::size_t kBigMarkupBytes = 10u << 20;
constexpr std::size_t kMaxBigMarkupBytes = 80u << 20;
// A GIF of one transparent pixel, for the "slowrender" scenario's image.
constexpr unsigned char kPixel[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80,
                                    0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0x21, 0xf9, 0x04,
                                    0x01, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x01,
                                    0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3b};
constexpr int kMaxHops = 10;
// A visitor cookie, as a real ad server would set, so cookie handling shows in the report.
constexpr const char kVisitorCookie[] = "nimbra_uid";
// The nonweb scenario's chain ends at this path, which sends the client out
// of the web; a client cannot name such a destination itself.
constexpr const char* kNonWebPath = "/nonweb";
constexpr const char* kNonWebDestination = "market://details?id=com.nimbra.demo";
// Recorded request header fields.
constexpr std::array<const char*, 4> kRecordedHeaders{"User-Agent", "If-Modified-Since", "Cookie", "Referer"};

bool isScenario(std::string_view name) {
    static constexpr std::array<std::string_view, 14> kScenarios{
        "nofill", "404",       "500", "slow", "reset",      "redirectloop", "redirect",
        "nonweb", "norefresh", "ok",  "hang", "trackreset", "big",          "slowrender"};
    return std::find(kScenarios.begin(), kScenarios.end(), name) != kScenarios.end() || creativeKind(name);
}

std::string endpointOf(std::string_view path) {
    if (path == kScriptPath) return "script";
    if (path == "/ads") return "ads";
    if (path.starts_with("/im/")) return "imp";
    if (path.starts_with("/ct/")) return "ctrack";
    if (path == "/click") return "click";
    if (path == "/track/hop") return "hop";
    if (path == "/landing") return "landing";
    if (path == "/landing/2") return "landing2";
    if (path == "/webapp") return "webapp";
    if (path == "/webapp/event") return "webapp_event";
    if (path == "/loop/a" || path == "/loop/b") return "loop";
    if (path.starts_with("/hostile/")) return "hostile";
    return "other";
}

std::optional<int> parseInt(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> parseSeconds(std::string_view text) {
    if (!isDecimal(text)) return std::nullopt;
    return g_ascii_strtod(std::string(text).c_str(), nullptr);
}

// Seconds asked for by "delay", within what the server will wait.
double delayOf(const std::optional<std::string>& text) {
    const auto seconds = text ? parseSeconds(*text) : std::nullopt;
    return std::min(seconds.value_or(5.0), kMaxDelaySeconds);
}

// Puts extra markup at the end of a banner's body.
void appendToBody(std::string& html, const std::string& extra) {
    const auto end = html.rfind("</body>");
    html.insert(end == std::string::npos ? html.size() : end, extra);
}

// Each URL of a blank-separated list, with one more query item.
std::string withQueryItem(const std::string& urls, const std::string& item) {
    std::string out;
    for (std::size_t start = 0, blank = 0; blank != std::string::npos; start = blank + 1) {
        blank = urls.find(' ', start);
        if (!out.empty()) out += ' ';
        out += urls.substr(start, blank - start) + item;
    }
    return out;
}

// Scenario controls that may also ride inside the "extras" object, which
// is where an application's additional request parameters end up.
struct ExtrasControls {
    std::optional<std::string> scenario;
    std::optional<std::string> refresh;
    std::optional<std::string> delay;
    std::optional<std::string> size;
};

ExtrasControls extrasControls(const std::optional<std::string>& text) {
    ExtrasControls controls;
    if (!text || text->size() > kMaxExtras || jsonNestingDepth(*text) > kMaxExtrasDepth) return controls;
    const auto extras = nlohmann::json::parse(*text, nullptr, false);
    if (!extras.is_object()) return controls;
    const auto read = [&extras](const char* key) -> std::optional<std::string> {
        const auto it = extras.find(key);
        if (it == extras.end()) return std::nullopt;
        if (it->is_string()) return it->get<std::string>();
        if (it->is_number()) return it->dump();
        return std::nullopt;
    };
    controls.scenario = read("scenario");
    controls.refresh = read("refresh");
    controls.delay = read("delay");
    controls.size = read("size");
    return controls;
}

std::optional<std::string> queryOrExtras(const std::vector<QueryItem>& items, std::string_view key,
                                         const std::optional<std::string>& fromExtras) {
    auto value = queryValue(items, key);
    return value ? value : fromExtras;
}

bool hasVisitorCookie(SoupMessageHeaders* headers) {
    const char* cookies = soup_message_headers_get_one(headers, "Cookie");
    if (!cookies) return false;
    const std::string_view text = cookies;
    const std::string name = std::string(kVisitorCookie) + "=";
    return text.starts_with(name) || text.find("; " + name) != std::string_view::npos;
}

std::string statusLine(unsigned status) {
    return "HTTP/1.1 " + std::to_string(status) + " " + soup_status_get_phrase(status) + "\r\n";
}

// The answer written by hand onto a stolen connection, cut short.
std::string cutResponse(unsigned status, const std::string& contentType,
                        const std::vector<std::pair<std::string, std::string>>& headers, const std::string& body,
                        bool cutInHeaders) {
    std::string head = statusLine(status);
    head += "Content-Type: " + contentType + "\r\n";
    head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    for (const auto& [name, value] : headers) head += name + ": " + value + "\r\n";
    head += "Connection: close\r\n\r\n";
    if (cutInHeaders) return head.substr(0, head.size() / 2);
    return head + body.substr(0, body.size() / 2);
}

struct CutConnection {
    GRef<GIOStream> stream;
    std::string bytes;
};

void onCutWritten(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<CutConnection> cut(static_cast<CutConnection*>(data));
    g_output_stream_write_all_finish(G_OUTPUT_STREAM(source), result, nullptr, nullptr);
    g_io_stream_close(cut->stream.get(), nullptr, nullptr);
}

AdServer::Reply textReply(unsigned status, std::string body) {
    AdServer::Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    reply.body += "\n";
    return reply;
}

}  // namespace

AdServer::AdServer(ServerOptions options)
    : options_(std::move(options)),
      server_(GRef<SoupServer>::adopt(
          SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, "server-header", "nimbra-adserver", nullptr)))),
      lastModified_(g_date_time_new_from_unix_utc(g_get_real_time() / G_USEC_PER_SEC)),
      scriptFaultPending_(!options_.scriptFault.empty()),
      random_(std::random_device{}()) {
    platform::gtk::GCharPtr text(soup_date_time_to_string(lastModified_.get(), SOUP_DATE_HTTP));
    lastModifiedText_ = text ? text.get() : "";
    soup_server_add_handler(server_.get(), nullptr, &AdServer::onRequest, this, nullptr);
}

AdServer::~AdServer() {
    deferred_.clear();
    soup_server_remove_handler(server_.get(), nullptr);
    soup_server_disconnect(server_.get());
    server_.reset();
}

std::optional<unsigned> AdServer::listen(std::string& error) {
    platform::gtk::GErrorPtr failure;
    if (!soup_server_listen_local(server_.get(), options_.port, SOUP_SERVER_LISTEN_IPV4_ONLY, failure.out())) {
        error = failure ? failure->message : "cannot listen";
        return std::nullopt;
    }
    const platform::gtk::GSListPtr uris(soup_server_get_uris(server_.get()));
    for (GSList* item = uris.get(); item; item = item->next) {
        const platform::gtk::GUriPtr uri(static_cast<GUri*>(item->data));
        const int port = g_uri_get_port(uri.get());
        if (port > 0) boundPort_ = static_cast<unsigned>(port);
    }
    if (boundPort_ == 0) {
        error = "no listening address";
        return std::nullopt;
    }
    return boundPort_;
}

void AdServer::onRequest(SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer self) {
    static_cast<AdServer*>(self)->handle(message);
}

std::string AdServer::originOf(SoupServerMessage* message) const {
    GUri* uri = soup_server_message_get_uri(message);
    const char* rawHost = uri ? g_uri_get_host(uri) : nullptr;
    std::string host = rawHost ? rawHost : "";
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    if (!isSafeHost(host)) return "http://127.0.0.1:" + std::to_string(boundPort_);
    const int port = g_uri_get_port(uri);
    if (port > 0 && port != 80) host += ":" + std::to_string(port);
    return "http://" + host;
}

std::string AdServer::token() {
    static constexpr char kHex[] = "0123456789abcdef";
    std::uint64_t bits = random_();
    std::string text(16, '0');
    for (char& c : text) {
        c = kHex[bits & 0x0F];
        bits >>= 4;
    }
    return text;
}

// Only a client that addressed us as the loopback address we listen on: a
// page whose name was made to resolve here (DNS rebinding) names its own host,
// and must not read the report or reset it.
bool AdServer::isOurHost(const char* host) const {
    if (!host) return false;
    const std::string port = ":" + std::to_string(boundPort_);
    return g_ascii_strcasecmp(host, ("127.0.0.1" + port).c_str()) == 0 ||
           g_ascii_strcasecmp(host, ("localhost" + port).c_str()) == 0;
}

void AdServer::handle(SoupServerMessage* message) {
    if (!isOurHost(soup_message_headers_get_one(soup_server_message_get_request_headers(message), "Host"))) {
        send(message, textReply(403, "unknown host"));
        return;
    }
    GUri* uri = soup_server_message_get_uri(message);
    Request request;
    request.method = soup_server_message_get_method(message);
    request.path = uri && g_uri_get_path(uri) ? g_uri_get_path(uri) : "";
    request.rawQuery = uri && g_uri_get_query(uri) ? g_uri_get_query(uri) : "";
    request.origin = originOf(message);
    request.headers = soup_server_message_get_request_headers(message);

    // The report itself is not recorded, so reading it never changes it.
    if (request.path == "/status" || request.path == "/status/reset") {
        Reply reply;
        reply.headers.emplace_back("Cache-Control", "no-store");
        const bool reset = request.path == "/status/reset";
        // Clearing the report changes state: never from a plain GET, which any
        // page can make a browser send.
        const bool allowed = reset ? request.method == "POST" : request.method == "GET" || request.method == "HEAD";
        if (!allowed) {
            reply = textReply(405, "method not allowed");
            reply.headers.emplace_back("Allow", reset ? "POST" : "GET, HEAD");
        } else if (reset) {
            log_.reset();
            reply.body = "{\"reset\":true}";
            reply.contentType = "application/json";
        } else {
            reply.body = log_.statusJSON();
            reply.contentType = "application/json";
        }
        send(message, std::move(reply));
        return;
    }

    Reply reply;
    std::optional<std::vector<QueryItem>> items;
    if (request.rawQuery.size() > kMaxQuery) {
        reply = textReply(414, "query too long");
    } else if (!(items = parseQuery(request.rawQuery))) {
        reply = textReply(400, "malformed query");
    } else if (request.method != "GET" && request.method != "HEAD") {
        reply = textReply(405, "method not allowed");
        reply.headers.emplace_back("Allow", "GET, HEAD");
    } else {
        request.items = std::move(*items);
        reply = route(request);
    }
    if (reply.endpoint == "other") {
        const std::string byPath = endpointOf(request.path);
        if (byPath != "script") reply.endpoint = byPath;
    }

    RecordedRequest record;
    record.method = request.method;
    record.path = request.path;
    record.query = request.items;
    for (const char* name : kRecordedHeaders) {
        if (const char* value = soup_message_headers_get_one(request.headers, name)) {
            record.headers.emplace_back(name, value);
        }
    }
    record.status = reply.status;
    record.endpoint = reply.endpoint;
    log_.record(std::move(record));

    if (options_.verbose) {
        std::fprintf(stderr, "nimbra-adserver: %s %.200s%s%.200s -> %u%s\n", request.method.c_str(),
                     request.path.c_str(), request.rawQuery.empty() ? "" : "?", request.rawQuery.c_str(), reply.status,
                     reply.cut != Cut::None   ? " (cut)"
                     : reply.delaySeconds > 0 ? " (delayed)"
                                              : "");
    }
    send(message, std::move(reply));
}

AdServer::Reply AdServer::route(const Request& request) {
    const std::string endpoint = endpointOf(request.path);
    Reply reply;
    if (endpoint == "script") {
        reply = scriptReply(request);
    } else if (endpoint == "ads") {
        reply = adsReply(request);
    } else if (endpoint == "imp") {
        reply = isToken(request.path.substr(4)) ? textReply(200, "ok") : textReply(404, "unknown ticket");
        if (queryValue(request.items, "cut") == "body") reply.cut = Cut::Body;
    } else if (endpoint == "ctrack") {
        reply = clickTrackingReply(request);
    } else if (endpoint == "click") {
        reply = clickReply(request);
    } else if (endpoint == "hop") {
        reply = hopReply(request);
    } else if (endpoint == "landing" || endpoint == "landing2") {
        reply.contentType = "text/html; charset=utf-8";
        reply.body = landingPage(request.origin, queryValue(request.items, "ai").value_or(""),
                                 queryValue(request.items, "seq").value_or(""), endpoint == "landing" ? 1 : 2);
    } else if (endpoint == "webapp") {
        reply.contentType = "text/html; charset=utf-8";
        reply.body = webAppPage(request.origin, queryValue(request.items, "ai").value_or(""),
                                queryValue(request.items, "seq").value_or(""));
    } else if (endpoint == "webapp_event") {
        reply = queryValue(request.items, "name") ? textReply(200, "ok") : textReply(400, "no event name");
    } else if (endpoint == "loop") {
        reply = loopReply(request);
    } else if (request.path == kNonWebPath) {
        reply = textReply(302, "redirect");
        reply.headers.emplace_back("Location", kNonWebDestination);
    } else if (endpoint == "hostile") {
        reply = hostileReply(request);
    } else if (request.path == "/pixel") {
        reply.contentType = "image/gif";
        reply.body.assign(reinterpret_cast<const char*>(kPixel), sizeof kPixel);
        reply.delaySeconds = delayOf(queryValue(request.items, "delay"));
    } else if (request.path == "/") {
        reply = textReply(200,
                          "nimbra-adserver: /ruma/sdk-core-v40.js /ads /click /track/hop /landing /landing/2 "
                          "/webapp /webapp/event /im/<ticket> /ct/<ticket> /pixel /nonweb /status, POST /status/reset");
    } else {
        reply = textReply(404, "not found");
    }
    if (reply.endpoint == "other") reply.endpoint = endpoint;
    return reply;
}

AdServer::Reply AdServer::scriptReply(const Request& request) {
    Reply reply;
    reply.endpoint = "script";
    reply.headers.emplace_back("Last-Modified", lastModifiedText_);
    reply.contentType = "application/javascript; charset=utf-8";
    reply.body = std::string(supportScript());
    if (scriptFaultPending_) {
        // The faulty answer is a whole one whatever the client holds already.
        scriptFaultPending_ = false;
        const std::string& fault = options_.scriptFault;
        if (fault == "reset") reply.cut = Cut::Body;
        if (fault == "hang") reply.hold = true;
        if (fault == "throw") reply.body += scriptThatThrows();
        if (fault == "twice") reply.body += scriptThatAnswersTwice();
        return reply;
    }
    if (const char* since = soup_message_headers_get_one(request.headers, "If-Modified-Since")) {
        if (const GDateTimePtr date{soup_date_time_new_from_http_string(since)}) {
            if (g_date_time_compare(date.get(), lastModified_.get()) >= 0) {
                reply.status = 304;
                reply.endpoint = "script_304";
                reply.contentType.clear();
                reply.body.clear();
                return reply;
            }
        }
    }
    return reply;
}

AdServer::Reply AdServer::adsReply(const Request& request) {
    const auto adUnitID = queryValue(request.items, "slotname").value_or("");
    const ExtrasControls extras = extrasControls(queryValue(request.items, "extras"));

    std::string scenario = queryValue(request.items, "scenario").value_or(extras.scenario.value_or(""));
    if (scenario.empty() && isScenario(adUnitID)) scenario = adUnitID;
    if (scenario == "redirect" && queryValue(request.items, "redirected")) scenario = "ok";

    std::string refresh = options_.refreshRate;
    const auto asked = queryOrExtras(request.items, "refresh", extras.refresh);
    if (asked && isDecimal(*asked)) refresh = *asked;

    Reply reply;
    if (!scenario.empty() && !isScenario(scenario)) {
        reply = textReply(400, "unknown scenario");
    } else if (scenario.empty() && !isAdUnitID(adUnitID)) {
        reply = textReply(400, "unknown ad unit");
    } else if (scenario == "404") {
        reply = textReply(404, "no such ad");
    } else if (scenario == "500") {
        reply = textReply(500, "ad server failure");
    } else if (scenario == "redirectloop") {
        reply = textReply(302, "redirect");
        reply.headers.emplace_back("Location", request.origin + "/loop/a");
    } else if (scenario == "redirect") {
        reply = textReply(302, "redirect");
        reply.headers.emplace_back("Location", request.origin + "/ads?" + request.rawQuery + "&redirected=1");
        reply.headers.emplace_back("X-Ruma-Tracking-Urls", request.origin + "/im/" + token() + "?n=redirect");
    } else if (scenario == "hang") {
        reply = filledAd(request, adUnitID, scenario);
        reply.hold = true;
    } else if (scenario == "nofill") {
        reply = filledAd(request, adUnitID, scenario);
        reply.body = "  \n  ";
    } else {
        reply = filledAd(request, adUnitID, scenario);
        const auto delay = queryOrExtras(request.items, "delay", extras.delay);
        if (scenario == "slow") {
            reply.delaySeconds = delayOf(delay);
        } else if (scenario == "slowrender") {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g", delayOf(delay));
            appendToBody(reply.body, "<img src=\"" + request.origin + "/pixel?delay=" + seconds +
                                         "\" width=\"1\" height=\"1\" alt=\"\">");
        } else if (scenario == "big") {
            const auto asked = parseInt(queryOrExtras(request.items, "size", extras.size).value_or(""));
            const std::size_t size =
                asked && *asked > 0 ? std::min<std::size_t>(*asked, kMaxBigMarkupBytes) : kBigMarkupBytes;
            const std::string end = "<span id=\"end\">end of ad</span>";
            const std::size_t fixed = reply.body.size() + end.size() + 7;  // "<!--" and "-->"
            appendToBody(reply.body, "<!--" + std::string(size > fixed ? size - fixed : 0, 'x') + "-->" + end);
        } else if (scenario == "trackreset") {
            for (auto& [name, value] : reply.headers)
                if (name == "X-Ruma-Tracking-Urls") value = withQueryItem(value, "&cut=body");
        } else if (scenario == "reset") {
            reply.cut = queryValue(request.items, "cut") == "headers" ? Cut::Headers : Cut::Body;
        }
    }
    reply.endpoint = "ads";
    reply.headers.emplace_back("Cache-Control", "no-store");
    if (scenario != "norefresh") reply.headers.emplace_back("X-Ruma-Refresh-Rate", refresh);
    return reply;
}

const CreativeKind& AdServer::creativeFor(const std::string& scenario, std::uint64_t sequence) const {
    if (const CreativeKind* named = creativeKind(scenario)) return *named;
    if (!scenario.empty() || options_.creatives.empty()) return normalCreative();
    const std::string& name = options_.creatives[(sequence - 1) % options_.creatives.size()];
    const CreativeKind* listed = creativeKind(name);
    return listed ? *listed : normalCreative();
}

AdServer::Reply AdServer::filledAd(const Request& request, const std::string& adUnitID, const std::string& scenario) {
    const std::uint64_t sequence = ++adSerial_;
    const CreativeKind& kind = creativeFor(scenario, sequence);
    const std::string seq = std::to_string(sequence);
    const std::string ticket = token();
    const std::string clickToken = token();
    const std::string& origin = request.origin;
    const std::string page = kind.destination == Destination::WebApp           ? "/webapp"
                             : kind.destination == Destination::HostileLanding ? "/hostile/landing"
                                                                               : "/landing";
    const std::string destination =
        scenario == "nonweb" ? origin + kNonWebPath : origin + page + "?ai=" + clickToken + "&seq=" + seq;

    Creative creative;
    creative.adUnitID = truncateUtf8(adUnitID, 40);
    creative.sequence = sequence;
    creative.clickURL = kind.destination == Destination::Mail ? mailLink(seq)
                                                              : origin + "/click?ai=" + clickToken + "&seq=" + seq +
                                                                    "&hops=2&dest=" + percentEncode(destination);
    creative.note = kind.note;
    creative.script = attackMarkup(kind.attack, origin, creative.clickURL, seq);
    // A message that leads to a web page opens the click chain, so the server
    // counts the click as for a link.
    if (!kind.openAction.empty()) {
        creative.openMessage = "qmsg://nimbra/open?a=" + percentEncode(kind.openAction);
        if (kind.destination == Destination::WebAppHTML) {
            creative.openMessage += "&html=" + percentEncode(webAppPage(origin, clickToken, seq));
        } else {
            const std::string url = kind.destination == Destination::Call ? std::string(kCallURL) : creative.clickURL;
            creative.openMessage += "&u=" + percentEncode(url);
        }
        creative.openMessage += "&o=p";
    }

    Reply reply;
    reply.contentType = "text/html; charset=utf-8";
    reply.body = bannerMarkup(creative);
    reply.headers.emplace_back("X-Ruma-Tracking-Urls", origin + "/im/" + ticket + "?seq=" + seq + "&n=1 " + origin +
                                                           "/im/" + ticket + "?seq=" + seq + "&n=2");
    if (kind.clickTracking) {
        reply.headers.emplace_back("X-Ruma-Click-Tracking-Urls", origin + "/ct/" + ticket + "?seq=" + seq + "&n=1 " +
                                                                     origin + "/ct/" + ticket + "?seq=" + seq +
                                                                     "&n=2&hops=1");
    }
    const auto orientation = queryValue(request.items, "orientation");
    const bool plainWord =
        orientation && !orientation->empty() && orientation->size() <= 16 &&
        std::all_of(orientation->begin(), orientation->end(), [](char c) { return c >= 'a' && c <= 'z'; });
    reply.headers.emplace_back("X-Ruma-Orientation", plainWord ? *orientation : "portrait");
    reply.headers.emplace_back("X-Ruma-Interstitial-Timeout", "5");
    if (!hasVisitorCookie(request.headers)) {
        reply.headers.emplace_back("Set-Cookie", std::string(kVisitorCookie) + "=" + token() + "; Path=/");
    }
    return reply;
}

AdServer::Reply AdServer::clickReply(const Request& request) {
    const std::string clickToken = queryValue(request.items, "ai").value_or("");
    const std::string seq = queryValue(request.items, "seq").value_or("");
    std::string destination = queryValue(request.items, "dest").value_or("");
    if (destination.empty()) destination = "/landing?ai=" + percentEncode(clickToken) + "&seq=" + percentEncode(seq);
    if (!isSafeRedirectTarget(destination)) return textReply(400, "bad destination");
    const auto hops = parseInt(queryValue(request.items, "hops").value_or("2"));
    if (!hops) return textReply(400, "bad hop count");

    Reply reply = textReply(302, "redirect");
    reply.headers.emplace_back("Location", request.origin + "/track/hop?ai=" + percentEncode(clickToken) +
                                               "&left=" + std::to_string(std::clamp(*hops, 1, kMaxHops)) +
                                               "&dest=" + percentEncode(destination));
    return reply;
}

AdServer::Reply AdServer::hopReply(const Request& request) const {
    const auto left = parseInt(queryValue(request.items, "left").value_or("1"));
    if (!left) return textReply(400, "bad hop count");
    const auto destination = queryValue(request.items, "dest");
    if (destination && !isSafeRedirectTarget(*destination)) return textReply(400, "bad destination");
    const std::string clickToken = queryValue(request.items, "ai").value_or("");

    if (*left > 1) {
        Reply reply = textReply(302, "redirect");
        std::string next = request.origin + "/track/hop?ai=" + percentEncode(clickToken) +
                           "&left=" + std::to_string(std::min(*left, kMaxHops) - 1);
        if (destination) next += "&dest=" + percentEncode(*destination);
        reply.headers.emplace_back("Location", next);
        return reply;
    }
    if (!destination) return textReply(200, "tracked");
    Reply reply = textReply(302, "redirect");
    reply.headers.emplace_back("Location", destination->front() == '/' ? request.origin + *destination : *destination);
    return reply;
}

AdServer::Reply AdServer::clickTrackingReply(const Request& request) const {
    if (!isToken(std::string_view(request.path).substr(4))) return textReply(404, "unknown ticket");
    const auto hops = queryValue(request.items, "hops");
    if (!hops) return textReply(200, "ok");
    const auto count = parseInt(*hops);
    if (!count) return textReply(400, "bad hop count");
    Reply reply = textReply(302, "redirect");
    reply.headers.emplace_back("Location",
                               request.origin + "/track/hop?left=" + std::to_string(std::clamp(*count, 1, kMaxHops)));
    return reply;
}

AdServer::Reply AdServer::loopReply(const Request& request) const {
    Reply reply = textReply(302, "redirect");
    const std::string next = request.path == "/loop/a" ? "/loop/b" : "/loop/a";
    reply.headers.emplace_back("Location", request.origin + next);
    return reply;
}

void AdServer::send(SoupServerMessage* message, Reply reply) {
    if (reply.cut == Cut::None && reply.delaySeconds <= 0 && !reply.hold) {
        soup_server_message_set_status(message, reply.status, nullptr);
        SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
        for (const auto& [name, value] : reply.headers)
            soup_message_headers_replace(headers, name.c_str(), value.c_str());
        if (reply.status != 304) {
            soup_server_message_set_response(message, reply.contentType.c_str(), SOUP_MEMORY_COPY, reply.body.data(),
                                             reply.body.size());
        }
        return;
    }

    // Paused until the main loop comes back to it; the other connections go on.
    Deferred& deferred = deferred_.emplace_back();
    deferred.server = this;
    deferred.message = GRef<SoupServerMessage>::retain(message);
    deferred.finishedHandler =
        GSignalHandler(message, "finished", G_CALLBACK(&AdServer::onDeferredFinished), &deferred);
    const auto delayMs = static_cast<guint>(reply.delaySeconds * 1000);
    const bool hold = reply.hold;
    deferred.reply = std::move(reply);
    soup_server_message_pause(message);
    if (!hold)
        deferred.due = platform::gtk::attachSource(g_timeout_source_new(delayMs), &AdServer::onDeferredDue, &deferred);
}

void AdServer::onDeferredFinished(SoupServerMessage*, gpointer data) { static_cast<Deferred*>(data)->finished = true; }

gboolean AdServer::onDeferredDue(gpointer data) {
    auto* deferred = static_cast<Deferred*>(data);
    deferred->server->complete(deferred);
    return G_SOURCE_REMOVE;
}

void AdServer::complete(Deferred* deferred) {
    SoupServerMessage* message = deferred->message.get();
    if (deferred->finished) {
        drop(deferred);
        return;
    }
    Reply& reply = deferred->reply;
    if (reply.cut == Cut::None) {
        reply.delaySeconds = 0;
        send(message, std::move(reply));
        soup_server_message_unpause(message);
        drop(deferred);
        return;
    }
    std::string bytes =
        cutResponse(reply.status, reply.contentType, reply.headers, reply.body, reply.cut == Cut::Headers);
    deferred->finishedHandler.reset();
    GIOStream* stream = soup_server_message_steal_connection(message);
    drop(deferred);
    if (!stream) return;
    auto* cut = new CutConnection{GRef<GIOStream>::adopt(stream), std::move(bytes)};
    g_output_stream_write_all_async(g_io_stream_get_output_stream(stream), cut->bytes.data(), cut->bytes.size(),
                                    G_PRIORITY_DEFAULT, nullptr, &onCutWritten, cut);
}

void AdServer::drop(Deferred* deferred) {
    deferred_.remove_if([deferred](const Deferred& item) { return &item == deferred; });
}

}  // namespace adserver
