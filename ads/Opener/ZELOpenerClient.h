#pragma once
// What the opener asks of whoever it opens for: whether the user's own
// activation allows an opening now, and, once an opening took place, to use
// the activation up and report the ad's click-tracking URLs. A web view's
// delegate answers for its page; a control of the component's own that the
// user tapped answers for itself.

#include <vector>

#include "platform/URL.h"

class ZELOpenerClient {
public:
    virtual ~ZELOpenerClient() = default;
    virtual bool mayOpen() = 0;
    virtual void useActivation() = 0;
    // Whether to log a refused opening: once, not at every try of a page.
    virtual bool shouldLogRefusal() = 0;
    virtual std::vector<platform::URL> pendingClickURLs() const { return {}; }
    virtual void trackURLs(const std::vector<platform::URL>&) {}
};

// The user tapped one of the component's own controls (not a page): it may
// open what it is for, and there is no ad click to report.
class ZELControlTap final : public ZELOpenerClient {
public:
    bool mayOpen() override { return true; }
    void useActivation() override {}
    bool shouldLogRefusal() override { return true; }
};
