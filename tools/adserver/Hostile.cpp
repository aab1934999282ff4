#include "Hostile.h"

#include "Text.h"

namespace adserver {
namespace {

// What every hostile page starts with. Its data rides in attributes, so
// nothing from a request is ever written into a script. beacon() reports to
// /hostile/event; msg() sends a message (or any navigation) from a frame of
// its own, as ad scripts do; ask() sends "open"; whatever the component says
// to the page is reported as "heard <name> <payload>".
constexpr const char kCommon[] =
    "var h=document.getElementById('hostile').dataset,origin=h.origin,seq=h.seq,click=h.click;"
    "function beacon(name){new Image().src=origin+'/hostile/event?seq='+seq+'&name='+encodeURIComponent(name);}"
    "function msg(u){var f=document.createElement('iframe');f.style.display='none';f.src=u;"
    "(document.body||document.documentElement).appendChild(f);}"
    "function query(o){var s=[];for(var k in o)s.push(k+'='+encodeURIComponent(o[k]));return s.join('&');}"
    "function ask(o){msg('qmsg://nimbra/open?'+query(o));}"
    "function evalInOpener(){msg('qmsg://nimbra/evalInOpener?'+query({js:\"new Image().src='\"+origin+"
    "\"/hostile/event?seq=\"+seq+\"&name=eval%20ran'\"}));}"
    "window.RUMA_ReceiveMessage=function(name,payload){"
    "beacon('heard '+name+' '+JSON.stringify(payload===undefined?null:payload));};";

// Every way out the component has, asked for with no tap; twice, the second
// time after the page has settled.
constexpr const char kOpensByItself[] =
    "function attempt(round){"
    "ask({a:'browser',u:click,o:'p'});ask({a:'app',u:click});ask({a:'webapp',html:'<p>web app</p>'});"
    "ask({a:'call',u:'tel:+34600000000'});ask({a:'app',u:'x-nimbra-test:auto'});"
    "msg('tel:+34600000001');msg('sms:+34600000002');msg('mailto:auto@nimbra.example');"
    "window.open(click);window.open('tel:+34600000003');beacon('tried '+round);}"
    "attempt(1);setTimeout(function(){attempt(2);location.href='tel:+34600000004';},1500);";

// One tap, then more than the one opening it allows: a screen, another
// screen, a call, the composer, a window, the click URL in a frame, another
// application, all while handling the tap.
constexpr const char kAsksAgain[] =
    "document.getElementById('ad').addEventListener('click',function(event){event.preventDefault();"
    "ask({a:'browser',u:click,o:'p'});ask({a:'webapp',html:'<p>second screen</p>'});"
    "ask({a:'call',u:'tel:+34600000000'});msg('mailto:again@nimbra.example');window.open(click);msg(click);"
    "setTimeout(function(){ask({a:'app',u:click});location.href='sms:+34600000002';beacon('tried');},300);});";

// Files: an attachment in a frame, links with "download" (to the server, a
// blob and a data URL), and the page itself going to the attachment.
constexpr const char kDownloads[] =
    "var file=origin+'/hostile/download?seq='+seq+'&via=';"
    "var f=document.createElement('iframe');f.style.display='none';f.src=file+'frame';document.body.appendChild(f);"
    "[file+'link',URL.createObjectURL(new Blob(['payload'],{type:'text/plain'})),'data:application/octet-stream,payload']"
    ".forEach(function(href,i){var a=document.createElement('a');a.href=href;a.download='nimbra-payload-'+i+'.txt';"
    "document.body.appendChild(a);a.click();});"
    "setTimeout(function(){beacon('tried');location.href=file+'page';},500);";

// The engine's own dialogs and prompts: the script must go on at once, with
// every one refused.
constexpr const char kDialogs[] =
    "var got=[];function done(what){got.push(what);beacon('got '+what);"
    "if(got.length===6)beacon('returned '+got.sort().join(' '));}"
    "alert('hostile');done('confirm='+confirm('hostile'));done('prompt='+prompt('hostile','default'));"
    "window.print();done('print=returned');"
    "if(navigator.geolocation)navigator.geolocation.getCurrentPosition(function(){done('location=given');},"
    "function(e){done('location=refused'+e.code);});else done('location=none');"
    "if(window.Notification)Notification.requestPermission().then(function(r){done('notifications='+r);});"
    "else done('notifications=none');"
    "var x=new XMLHttpRequest();x.onloadend=function(){done('password='+x.status);};"
    "x.open('GET',origin+'/hostile/auth?seq='+seq);x.send();";

// The frame of another origin inside the banner.
constexpr const char kFrame[] =
    "ask({a:'browser',u:click,o:'p'});ask({a:'call',u:'tel:+34600000000'});evalInOpener();"
    "msg('qmsg://nimbra/canOpenURLs?'+query({urls:'tel:+34600000000,market://details?id=x,x-nimbra-test:probe'}));"
    "msg('qmsg://nimbra/ZELViewControllerWillPresentFullScreen');"
    "msg('qmsg://nimbra/UIApplicationDidEnterBackgroundNotification');beacon('tried');";

// A landing page in the in-app browser: it asks for everything, speaks for
// the platform and the screens, then goes on to page 2 by itself, which a
// page in a screen the user opened may do.
constexpr const char kLanding[] =
    "msg('qmsg://nimbra/close');ask({a:'browser',u:origin+'/landing?seq='+seq});"
    "ask({a:'call',u:'tel:+34600000000'});evalInOpener();msg('qmsg://nimbra/canOpenURLs?urls=tel:1');"
    "msg('qmsg://nimbra/UIApplicationWillEnterForegroundNotification');"
    "msg('qmsg://nimbra/ZELViewControllerDidRelinquishFullScreen');"
    "msg('tel:+34600000001');msg('mailto:landing@nimbra.example');window.open(click);"
    "setTimeout(function(){beacon('tried');location.href=origin+'/landing/2?ai=hostile&seq='+seq;},300);";

// The same origin seen under its other loopback name: "localhost" for
// "127.0.0.1" and back, another origin to the page.
std::string otherOrigin(std::string_view origin) {
    std::string other(origin);
    const std::string numeric = "127.0.0.1", named = "localhost";
    if (auto at = other.find(numeric); at != std::string::npos) return other.replace(at, numeric.size(), named);
    if (auto at = other.find(named); at != std::string::npos) return other.replace(at, named.size(), numeric);
    return other;
}

std::string scriptBlock(std::string_view origin, std::string_view clickURL, std::string_view sequence,
                        std::string_view attack) {
    std::string html = "<div id=\"hostile\" hidden data-origin=\"" + htmlEscape(origin) + "\" data-seq=\"" +
                       htmlEscape(sequence) + "\" data-click=\"" + htmlEscape(clickURL) +
                       "\"></div><script>(function(){";
    html += kCommon;
    html += attack;
    html += "})();</script>";
    return html;
}

AdServer::Reply page(std::string title, std::string body) {
    AdServer::Reply reply;
    reply.contentType = "text/html; charset=utf-8";
    reply.body =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\"><title>" +
        htmlEscape(title) + "</title></head><body>" + body + "</body></html>\n";
    return reply;
}

}  // namespace

std::string attackMarkup(Attack attack, std::string_view origin, std::string_view clickURL, std::string_view sequence) {
    switch (attack) {
    case Attack::None: return {};
    case Attack::OpensByItself: return scriptBlock(origin, clickURL, sequence, kOpensByItself);
    case Attack::AsksAgain: return scriptBlock(origin, clickURL, sequence, kAsksAgain);
    case Attack::Downloads: return scriptBlock(origin, clickURL, sequence, kDownloads);
    case Attack::Dialogs: return scriptBlock(origin, clickURL, sequence, kDialogs);
    case Attack::FrameSpeaks:
        return scriptBlock(origin, clickURL, sequence, "") + "<iframe hidden src=\"" +
               htmlEscape(otherOrigin(origin) + "/hostile/frame?seq=" + percentEncode(sequence) +
                          "&click=" + percentEncode(clickURL)) +
               "\"></iframe>";
    }
    return {};
}

AdServer::Reply hostileReply(const AdServer::Request& request) {
    const std::string seq = queryValue(request.items, "seq").value_or("");
    const std::string click = queryValue(request.items, "click").value_or(request.origin + "/landing?seq=" + seq);
    AdServer::Reply reply;
    if (request.path == "/hostile/event") {
        reply.body = queryValue(request.items, "name") ? "ok\n" : "no event name\n";
        reply.status = queryValue(request.items, "name") ? 200 : 400;
    } else if (request.path == "/hostile/landing") {
        reply = page("Hostile landing page", "<p>Ad #" + htmlEscape(seq) + ": a landing page that tries things.</p>" +
                                                 scriptBlock(request.origin, click, seq, kLanding));
    } else if (request.path == "/hostile/frame") {
        reply = page("Hostile frame", scriptBlock(request.origin, click, seq, kFrame));
    } else if (request.path == "/hostile/download") {
        reply.body = "payload\n";
        reply.headers.emplace_back("Content-Disposition", "attachment; filename=\"nimbra-payload.txt\"");
    } else if (request.path == "/hostile/auth") {
        reply.status = 401;
        reply.body = "a password is asked for\n";
        reply.headers.emplace_back("WWW-Authenticate", "Basic realm=\"nimbra\"");
    } else {
        reply.status = 404;
        reply.body = "not found\n";
    }
    reply.endpoint = "hostile";
    reply.headers.emplace_back("Cache-Control", "no-store");
    return reply;
}

}  // namespace adserver
