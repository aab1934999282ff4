#include "SupportScript.h"

namespace adserver {
namespace {

// How answers leave the page: a navigation to qmsg://nimbra/<name>?<query>,
// which the host refuses, reading the message from the URL. A lone message
// from a page that has finished loading and sent nothing yet navigates the
// page itself, the quickest way out (a page made ready ahead answers its one
// call this way). Anything else gets a fresh hidden iframe per message, in
// posting order: two assignments to location.href in a row would lose the
// first (a new navigation cancels the pending one), frames do not interfere.
// A frame is removed ten seconds later, long after its navigation has been
// decided; removing it sooner could cancel a decision still in flight.
constexpr std::string_view kScript = R"JS(/* nimbra support script: builds the ad URL for the hidden request page. */
(function (global) {
  'use strict';

  var MESSAGE_ROOT = 'qmsg://nimbra/';
  var FRAME_LIFETIME_MS = 10000;
  var FALLBACK_ORIGIN = 'http://127.0.0.1:8090';
  var pending = [];
  var waitingForDocument = false;
  var sendQueued = false;
  var pageNavigated = false;

  function attachFrame(url) {
    var doc = global.document;
    var parent = doc && (doc.body || doc.documentElement);
    if (!parent) return false;
    var frame = doc.createElement('iframe');
    frame.style.display = 'none';
    frame.setAttribute('aria-hidden', 'true');
    frame.src = url;
    parent.appendChild(frame);
    global.setTimeout(function () {
      if (frame.parentNode) frame.parentNode.removeChild(frame);
    }, FRAME_LIFETIME_MS);
    return true;
  }

  function flush() {
    waitingForDocument = false;
    while (pending.length > 0 && attachFrame(pending[0])) pending.shift();
    if (pending.length > 0 && !waitingForDocument && global.document) {
      waitingForDocument = true;
      global.document.addEventListener('DOMContentLoaded', flush);
    }
  }

  // Sends what was posted during this task.
  function send() {
    sendQueued = false;
    var doc = global.document;
    if (!pageNavigated && pending.length === 1 && doc && doc.readyState === 'complete') {
      pageNavigated = true;
      global.location.href = pending.shift();
      return;
    }
    flush();
  }

  function queryString(items) {
    var parts = [];
    for (var i = 0; i < items.length; i++) {
      parts.push(encodeURIComponent(items[i][0]) + '=' + encodeURIComponent(items[i][1]));
    }
    return parts.join('&');
  }

  // Queues one message; items is a list of [key, value] pairs.
  function post(name, items) {
    var url = MESSAGE_ROOT + name;
    if (items && items.length > 0) url += '?' + queryString(items);
    pending.push(url);
    if (!sendQueued) {
      sendQueued = true;
      Promise.resolve().then(send);
    }
  }

  function origin() {
    var loc = global.location;
    if (loc && (loc.protocol === 'http:' || loc.protocol === 'https:') && loc.host) {
      return loc.protocol + '//' + loc.host;
    }
    return FALLBACK_ORIGIN;
  }

  function textOf(value) {
    if (value === null || value === undefined) return '';
    if (typeof value === 'object') return JSON.stringify(value);
    return String(value);
  }

  function isPlainObject(value) {
    return value !== null && typeof value === 'object' && !Array.isArray(value);
  }

  // Scenario names let tests and demos steer the answer: the "scenario"
  // parameter, then "scenario" inside "extras", then the ad unit itself.
  function scenarioOf(params) {
    if (typeof params.scenario === 'string') return params.scenario;
    if (isPlainObject(params.extras) && typeof params.extras.scenario === 'string') {
      return params.extras.scenario;
    }
    return typeof params.slotname === 'string' ? params.slotname : '';
  }

  function adTypeOf(params) {
    var type = isPlainObject(params.extras) ? params.extras.type : undefined;
    return (typeof type === 'string' && /^[a-z]{1,16}$/.test(type)) ? type : 'pexmark';
  }

  function adURL(params) {
    var items = [];
    for (var key in params) {
      if (!Object.prototype.hasOwnProperty.call(params, key)) continue;
      var value = params[key];
      if (value === undefined || typeof value === 'function') continue;
      items.push([key, textOf(value)]);
    }
    return origin() + '/ads?' + queryString(items);
  }

  function buildAdURL(params) {
    try {
      if (!isPlainObject(params)) {
        post('loadAdURL', [['errors', 'parameters are not an object']]);
        return;
      }
      if (typeof params.slotname !== 'string' || params.slotname.length === 0) {
        post('loadAdURL', [['errors', 'missing slotname']]);
        return;
      }
      var scenario = scenarioOf(params);
      if (scenario === 'invalid') {
        post('invalidRequest', [['reason', 'the ad unit asked for an invalid request']]);
      } else if (scenario === 'unable') {
        post('unableToServe', [['reason', 'the ad unit asked not to be served']]);
      } else if (scenario === 'errors') {
        post('loadAdURL', [['errors', 'the ad unit asked for an error answer']]);
      } else if (scenario === 'silent') {
        // No answer at all: the component's own time limit has to end the load.
      } else {
        post('loadAdURL', [['url', adURL(params)], ['type', adTypeOf(params)]]);
      }
    } catch (e) {
      post('loadAdURL', [['errors', 'script failure: ' + String(e)]]);
    }
  }

  global.RUMA_buildAdURL = buildAdURL;
  // Pages receive the component's messages here; this page needs none.
  global.RUMA_ReceiveMessage = function (name, payload) {};
})(this);
)JS";

// Appended to the script by --script-fault: the entry point throws before it
// answers, or answers every request twice in the same task.
constexpr std::string_view kThrows = R"JS(
this.RUMA_buildAdURL = function () { throw new Error('nimbra-adserver: script fault'); };
)JS";
constexpr std::string_view kTwice = R"JS(
(function (global) {
  var build = global.RUMA_buildAdURL;
  global.RUMA_buildAdURL = function (params) { build(params); build(params); };
})(this);
)JS";

}  // namespace

std::string_view supportScript() { return kScript; }
std::string_view scriptThatThrows() { return kThrows; }
std::string_view scriptThatAnswersTwice() { return kTwice; }

}  // namespace adserver
