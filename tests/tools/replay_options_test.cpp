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
    bdusim::Options o;
    std::string error;
    const bool ok = bdusim::parseOptions(GetParam().args, o, error);
    if (!GetParam().error) {
        ASSERT_TRUE(ok) << error;
        return;
    }
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
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
    bdusim::Options o;
    std::string error;
    ASSERT_TRUE(bdusim::parseOptions({"--replay-stop-on-mismatch", "--replay", "f.rslcap"}, o, error)) << error;
    EXPECT_EQ(o.replayPath, "f.rslcap");
    EXPECT_TRUE(o.replayStopOnMismatch);
    EXPECT_FALSE(o.replayNoDelays);
}

}  // namespace
