#include <gtest/gtest.h>

#include "signals/Signals.h"

namespace {

class AnsweringProvider : public SignalsProvider {
public:
    int lastType = -1;
    std::string lastVersion, lastClick;
    int touches = 0;
    void gig(int type, const std::string& version) override {
        lastType = type;
        lastVersion = version;
    }
    bool gmrs(std::string& output) override {
        output = "sig=abc";
        return true;
    }
    bool gmcs(const std::string& click, std::string& output) override {
        lastClick = click;
        output = "cs" + click;
        return true;
    }
    void htg(int, int, int) override { ++touches; }
};

}  // namespace

TEST(SignalsTest, BuiltInAnswersFalseAndLeavesOutputEmpty) {
    zel_signals_set_provider(nullptr);
    std::string out;
    EXPECT_FALSE(zel_gmrs(out));
    EXPECT_FALSE(zel_gmcs("ai-value", out));
    EXPECT_TRUE(out.empty());
    zel_gig(1, "4.0");
    zel_htg(1, 2, 3);
}

TEST(SignalsTest, InstalledProviderAnswersUntilRemoved) {
    AnsweringProvider provider;
    zel_signals_set_provider(&provider);
    std::string request, click;
    EXPECT_TRUE(zel_gmrs(request));
    EXPECT_EQ(request, "sig=abc");
    EXPECT_TRUE(zel_gmcs("xyz", click));
    EXPECT_EQ(click, "csxyz");
    zel_gig(3, "4.0.1");
    EXPECT_EQ(provider.lastType, 3);
    EXPECT_EQ(provider.lastVersion, "4.0.1");
    zel_htg(10, 20, 30);
    EXPECT_EQ(provider.touches, 1);

    zel_signals_set_provider(nullptr);
    std::string after;
    EXPECT_FALSE(zel_gmrs(after));
    EXPECT_EQ(provider.touches, 1);
}
