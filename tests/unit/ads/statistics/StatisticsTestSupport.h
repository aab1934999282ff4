#pragma once
// A fresh statistics object on a freshly reset sim for every test, and a
// signals provider the tests can script.

#include "Statistics/ZELStatistics.h"
#include "signals/Signals.h"
#include "unit/support/SimTest.h"

class ScriptedSignals : public SignalsProvider {
public:
    bool gmrs(std::string& output) override {
        if (!requestSignals) return false;
        output = *requestSignals;
        return true;
    }
    bool gmcs(const std::string& clickString, std::string& output) override {
        clickStrings.push_back(clickString);
        if (!clickSignals) return false;
        output = *clickSignals;
        return true;
    }
    std::optional<std::string> requestSignals;
    std::optional<std::string> clickSignals;
    std::vector<std::string> clickStrings;
};

class StatisticsFixture : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        // The previous test's instance saves itself as it goes; start clean.
        ZELStatistics::releaseSharedStatistics();
        sim().userDefaults().reset();
        ZELStatistics::setAdNetworkDomainSuffixForTesting("127.0.0.1");
        zel_signals_set_provider(&signals);
    }
    void TearDown() override {
        zel_signals_set_provider(nullptr);
        ZELStatistics::setAdNetworkDomainSuffixForTesting("");
        ZELStatistics::releaseSharedStatistics();
        SimTest::TearDown();
    }
    std::shared_ptr<ZELStatistics> stats() { return ZELStatistics::sharedStatistics(); }
    static platform::URL url(const std::string& text) { return *platform::URL::parse(text); }
    ScriptedSignals signals;
};
