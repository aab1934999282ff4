#pragma once
// What every backend's web view promises the component: each load is offered
// with its type and User-Agent, then starts and ends once; a refused
// navigation neither ends nor fails the page that is loading; scripts answer
// with a value or nothing.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/WebView.h"

namespace nimbra::contract {

class PageRecorder : public platform::WebViewDelegate {
public:
    struct Offer {
        std::string url;
        platform::NavigationType type;
        std::string userAgent;
    };
    bool webViewShouldStartLoadWithRequest(platform::WebView&, const platform::URLRequest& r,
                                           platform::NavigationType type) override {
        offers.push_back({r.url.absoluteString(), type, r.valueForHTTPHeaderField("User-Agent").value_or("")});
        const auto scheme = platform::toLowerASCII(r.url.scheme());
        return scheme == "http" || scheme == "https" || scheme == "about";
    }
    void webViewDidStartLoad(platform::WebView&) override { ++starts; }
    void webViewDidFinishLoad(platform::WebView&) override { ++finishes; }
    void webViewDidFailLoadWithError(platform::WebView&, const platform::Error& e) override { fails.push_back(e); }
    std::vector<Offer> offers;
    int starts = 0, finishes = 0;
    std::vector<platform::Error> fails;
};

template <typename Driver>
class WebViewContract : public ::testing::Test {
protected:
    // Hidden and in no window, as the component's request-building page is.
    void SetUp() override {
        web->setHidden(true);
        web->setDelegate(recorder);
    }
    void load(const std::string& url) { web->loadRequest(platform::URLRequest(*platform::URL::parse(url))); }
    // Exactly one load started and how it ended, once things have settled.
    void expectOneLoad(int finishes, size_t fails) {
        driver.runFor(0.3);
        EXPECT_EQ(recorder->starts, 1);
        EXPECT_EQ(recorder->finishes, finishes);
        EXPECT_EQ(recorder->fails.size(), fails);
        EXPECT_FALSE(web->isLoading());
    }
    std::optional<std::string> evaluate(const std::string& script) {
        std::optional<std::string> result;
        bool done = false;
        web->evaluateJavaScript(script, [&](std::optional<std::string> r) { result = r, done = true; });
        EXPECT_TRUE(driver.runUntil([&] { return done; }));
        return result;
    }
    Driver driver;
    std::shared_ptr<PageRecorder> recorder = std::make_shared<PageRecorder>();
    std::shared_ptr<platform::WebView> web = std::make_shared<platform::WebView>(platform::Rect(0, 0, 1, 1));
};
TYPED_TEST_SUITE_P(WebViewContract);

// Requests and markup alike.
TYPED_TEST_P(WebViewContract, LoadsAreOfferedThenStartAndFinishOnce) {
    auto& d = this->driver;
    const std::string url = d.page("/one");
    this->load(url);
    EXPECT_TRUE(this->recorder->offers.empty()) << "the engine answers on a later turn";
    EXPECT_TRUE(this->web->isLoading()) << "loading from the moment the load is asked for";
    ASSERT_TRUE(d.runUntil([&] { return this->recorder->finishes == 1; }));
    this->expectOneLoad(1, 0);
    ASSERT_EQ(this->recorder->offers.size(), 1u);
    EXPECT_EQ(this->recorder->offers[0].url, url);
    EXPECT_EQ(this->recorder->offers[0].type, platform::NavigationType::Other);
    EXPECT_FALSE(this->recorder->offers[0].userAgent.empty());
    EXPECT_EQ(this->web->request()->url.absoluteString(), url);
    // Markup with a base URL is offered as that URL.
    this->web->loadHTMLString("<html><body>markup</body></html>", platform::URL::parse(d.url("/base/")));
    ASSERT_TRUE(d.runUntil([&] { return this->recorder->finishes == 2; }));
    EXPECT_EQ(this->recorder->offers.back().url, d.url("/base/"));
    EXPECT_EQ(std::pair(this->recorder->starts, this->recorder->fails.size()), std::pair(2, size_t{0}));
}

// With a value or nothing, and never into a view that went.
TYPED_TEST_P(WebViewContract, ScriptsAnswerOnce) {
    auto& d = this->driver;
    EXPECT_EQ(this->evaluate("6 * 7"), "42");
    EXPECT_EQ(this->evaluate("throw new Error('x')"), std::nullopt);
    bool called = false;
    this->web->evaluateJavaScript("6 * 7", [&](std::optional<std::string>) { called = true; });
    this->web.reset();
    d.runFor(0.3);
    EXPECT_FALSE(called);
}

TYPED_TEST_P(WebViewContract, ARefusedNavigationNeitherEndsNorFailsTheLoadingPage) {
    auto& d = this->driver;
    this->load(d.pageSending("/start", "qmsg://x/loadAdURL?url=ad"));
    ASSERT_TRUE(d.runUntil([&] { return this->recorder->finishes == 1 && this->recorder->offers.size() == 2; }));
    this->expectOneLoad(1, 0);
    EXPECT_EQ(this->recorder->offers.back().url, "qmsg://x/loadAdURL?url=ad");
    EXPECT_EQ(this->recorder->offers.back().type, platform::NavigationType::Other);
    EXPECT_EQ(this->web->request()->url.absoluteString(), d.url("/start"));
    // A refused load is never under way.
    this->recorder = std::make_shared<PageRecorder>();
    this->web->setDelegate(this->recorder);
    this->load("qmsg://x/close");
    ASSERT_TRUE(d.runUntil([&] { return !this->recorder->offers.empty(); }));
    d.runFor(0.3);
    EXPECT_EQ(this->recorder->starts + this->recorder->finishes + this->recorder->fails.size(), 0u);
    EXPECT_FALSE(this->web->isLoading());
}

TYPED_TEST_P(WebViewContract, AFailedLoadIsReportedOnce) {
    this->load(this->driver.failingPage());
    ASSERT_TRUE(this->driver.runUntil([&] { return !this->recorder->fails.empty(); }, 20));
    this->expectOneLoad(0, 1);
}

REGISTER_TYPED_TEST_SUITE_P(WebViewContract, LoadsAreOfferedThenStartAndFinishOnce, ScriptsAnswerOnce,
                            ARefusedNavigationNeitherEndsNorFailsTheLoadingPage, AFailedLoadIsReportedOnce);

}  // namespace nimbra::contract
