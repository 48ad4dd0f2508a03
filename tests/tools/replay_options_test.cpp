// bdusim's replay options: the two switches only make sense with a capture.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/bdusim/options.h"

namespace {

struct Line {
    const char *name;
    std::vector<std::string> args;
    const char *error;  // nullptr: accepted
};

class ReplayOptions : public ::testing::TestWithParam<Line> {};

TEST_P(ReplayOptions, AreTakenOrRefusedWithAReason) {
    const auto o = bdusim::parseOptions(GetParam().args);
    if (!GetParam().error) {
        ASSERT_TRUE(o) << o.failure().why;
        return;
    }
    ASSERT_FALSE(o);
    EXPECT_EQ(o.failure().error, 0);
    EXPECT_NE(o.failure().why.find(GetParam().error), std::string::npos) << o.failure().why;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReplayOptions,
    ::testing::Values(Line{"all", {"--replay", "a.rslcap", "--replay-no-delays", "--replay-stop-on-mismatch"}, nullptr},
                      Line{"inline", {"--replay=a.rslcap", "--replay-no-delays"}, nullptr},
                      Line{"no_file", {"--replay"}, "--replay needs CAPTURE"},
                      Line{"empty_file", {"--replay="}, "not a valid CAPTURE"},
                      Line{"fast_alone", {"--replay-no-delays"}, "--replay-no-delays needs --replay CAPTURE"},
                      Line{"stop_alone", {"--replay-stop-on-mismatch"}, "needs --replay CAPTURE"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ReplayOptions, FillTheOptions) {
    const auto o = bdusim::parseOptions({"--replay-stop-on-mismatch", "--replay", "f.rslcap"});
    ASSERT_TRUE(o) << o.failure().why;
    EXPECT_EQ(o->replayPath, "f.rslcap");
    EXPECT_TRUE(o->replayStopOnMismatch);
    EXPECT_FALSE(o->replayNoDelays);
}

}  // namespace
