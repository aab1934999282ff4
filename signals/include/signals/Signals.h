#pragma once
// The device-signals library as the ad component reaches it: four plain
// functions, all called on the main thread. The built-in implementation
// gathers nothing (both text producers answer false), which every caller
// treats as "no signal to attach". A provider can be installed to answer
// instead, so the callers' paths with signals can be exercised.

#include <string>

// Tells the library an ad load is about to go out (request type, SDK version).
void zel_gig(int requestType, const std::string& sdkVersion);
// Request signals: on true, output holds one "key=value" text.
bool zel_gmrs(std::string& output);
// Click signals for the click's "ai" value: on true, output holds a text that
// the caller appends to the click URL as a bare query item.
bool zel_gmcs(const std::string& clickString, std::string& output);
// A touch on the ad page (coordinates and duration as the page reports them).
void zel_htg(int x, int y, int d);

// What answers the four entry points. The defaults answer false and ignore.
class SignalsProvider {
public:
    virtual ~SignalsProvider() = default;
    virtual void gig(int requestType, const std::string& sdkVersion);
    virtual bool gmrs(std::string& output);
    virtual bool gmcs(const std::string& clickString, std::string& output);
    virtual void htg(int x, int y, int d);
};

// Installs the provider that answers from now on (not owned; the caller keeps
// it alive until it installs another). nullptr restores the built-in one.
void zel_signals_set_provider(SignalsProvider* provider);
