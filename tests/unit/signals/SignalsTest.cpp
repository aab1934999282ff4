#include <gtest/gtest.h>

#include "signals/Signals.h"

namespace {

struct AnsweringProvider : SignalsProvider {
    std::string click;
    bool gmrs(std::string& output) override {
        output = "sig=abc";
        return true;
    }
    bool gmcs(const std::string& clickString, std::string& output) override {
        click = clickString;
        output = "cs";
        return true;
    }
};

}  // namespace

TEST(SignalsTest, BuiltInAnswersFalseUntilAProviderIsInstalled) {
    std::string out;
    EXPECT_FALSE(zel_gmrs(out));
    EXPECT_FALSE(zel_gmcs("ai", out));
    EXPECT_TRUE(out.empty());
    AnsweringProvider provider;
    zel_signals_set_provider(&provider);
    EXPECT_TRUE(zel_gmrs(out));
    EXPECT_EQ(out, "sig=abc");
    EXPECT_TRUE(zel_gmcs("ai-value", out));
    EXPECT_EQ(provider.click, "ai-value");
    EXPECT_EQ(out, "cs");
    zel_signals_set_provider(nullptr);
    EXPECT_FALSE(zel_gmrs(out));
}
