// The SEND/RECV trace lines: their exact shape, reading them back from a
// saved message box, and what a damaged one says.
#include <gtest/gtest.h>

#include <string>

#include "valdor/engine/request_builder.h"
#include "valdor/engine/trace_line.h"

using valdor::LocalTime;
using valdor::parseTrace;
using valdor::traceLine;

namespace {

LocalTime at(int hour, int minute, int second, int millisecond) {
    LocalTime t;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    t.millisecond = millisecond;
    return t;
}

TEST(Trace, LineShapeIsExact) {
    const LocalTime t = at(9, 5, 7, 42);
    const uint8_t bytes[] = {0x60, 0x01, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x1C};
    EXPECT_EQ(traceLine("SEND[", t, bytes), "SEND[09:05:07:042]>60 01 FF 00 00 01 00 1C ");
    EXPECT_EQ(traceLine("RECV[", t, {}), "RECV[09:05:07:042]>");
}

// What the worker writes, the decoder reads back as it was.
TEST(TraceText, WrittenLinesReadBackAsTheyWere) {
    const std::vector<uint8_t> sent{0x60, 0x13, 0x02, 0x01, 0x0A, 0x1C}, received{0xE0, 0x13, 0xFF, 0x10, 0x03};
    const std::string text = "COM OPEN Completed.\r\n" + traceLine("SEND[", at(23, 59, 59, 999), sent) + "\r\n" +
                             "Send Normal End\r\n" + traceLine("RECV[", at(0, 0, 0, 5), received) + "\r\n";
    const auto p = parseTrace(text);
    ASSERT_TRUE(p.ok()) << p.error;
    ASSERT_EQ(p.lines.size(), 2u);
    EXPECT_TRUE(p.lines[0].sent);
    EXPECT_EQ(p.lines[0].time, "23:59:59:999");
    EXPECT_EQ(p.lines[0].text, sent);
    EXPECT_FALSE(p.lines[1].sent);
    EXPECT_EQ(p.lines[1].time, "00:00:00:005");
    EXPECT_EQ(p.lines[1].text, received);
    EXPECT_EQ(p.lines[1].line, 4u);
}

TEST(TraceText, TakesTraceLinesAndPassesOverMessages) {
    const std::string text =
        "COM OPEN Completed.\r\n"
        "SEND[09:05:01:007]>00 01 1C \r\n"
        "Send Normal End\r\n"
        "RECV[09:05:01:120]>E0 01 ff \r\n"
        "SEND[23:59:59:999]>\n";
    const auto p = parseTrace(text);
    ASSERT_TRUE(p.ok()) << p.error;
    ASSERT_EQ(p.lines.size(), 3u);
    EXPECT_TRUE(p.lines[0].sent);
    EXPECT_EQ(p.lines[0].time, "09:05:01:007");
    EXPECT_EQ(p.lines[0].text, (std::vector<uint8_t>{0x00, 0x01, 0x1C}));
    EXPECT_EQ(p.lines[0].line, 2u);
    EXPECT_FALSE(p.lines[1].sent);
    EXPECT_EQ(p.lines[1].text, (std::vector<uint8_t>{0xE0, 0x01, 0xFF}));
    EXPECT_TRUE(p.lines[2].text.empty());
}

struct Bad {
    const char *name;
    const char *text;
    size_t offset;
    size_t line;
    const char *says;
};

class BadTrace : public ::testing::TestWithParam<Bad> {};

TEST_P(BadTrace, NamesTheLineAndOffset) {
    const auto p = parseTrace(GetParam().text);
    EXPECT_FALSE(p.ok());
    EXPECT_EQ(p.errorOffset, GetParam().offset);
    EXPECT_EQ(p.errorLine, GetParam().line);
    EXPECT_NE(p.error.find(GetParam().says), std::string::npos) << p.error;
    EXPECT_EQ(p.lines.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BadTrace,
    ::testing::Values(
        Bad{"not_hex", "SEND[00:00:00:000]>00\nRECV[00:00:00:001]>E0 0G\n", 22 + 22, 2, "0G"},
        Bad{"odd_digit", "SEND[00:00:00:000]>00\nRECV[00:00:00:001]>E0 1\n", 22 + 22, 2, "hexadecimal"},
        Bad{"run_together", "SEND[00:00:00:000]>00\nRECV[00:00:00:001]>E001\n", 22 + 19, 2, "hexadecimal"},
        Bad{"no_time", "SEND[00:00:00:000]>00\nRECV[0:00]>E0\n", 22, 2, "time"},
        Bad{"no_arrow", "SEND[00:00:00:000]>00\nSEND[00:00:00:000] 00\n", 22, 2, "time"}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
