// The monitor's reading of a line: what each pair means, frames and their
// verdicts, the protocol's events, and the order of two directions that
// arrive together.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/pty_peer.h"
#include "valdor/monitor/line_monitor.h"
#include "valdor/monitor/monitor_run.h"

namespace {

using valdor::monitor::Direction;
using valdor::monitor::LineMonitor;
using valdor::monitor::MonitorEvent;
using namespace testsupport;  // the wire helpers

constexpr Direction H = Direction::HostToUnit;
constexpr Direction U = Direction::UnitToHost;

const Bytes kStatusRead = {0x00, 0x01, 0x1C};
const Bytes kStatusAnswer = {0xE0, 0x01, 0x00, 0x00, 0x00, 0x2A, 0x3C};

Bytes frame(const Bytes &text, bool spoil = false) {
    Bytes out = frameOf(text);
    if (spoil) out.back() ^= 0x5A;
    return out;
}

struct Step {
    Direction direction;
    Bytes bytes;
};

// "host>unit DLE ENQ bid": an event without its time.
std::string untimed(const MonitorEvent &e) {
    return std::string(e.direction == H ? "host>unit " : "unit>host ") + e.text;
}

// With `bytes`, also what the monitor passes on for a capture, as
// "bytes host>unit 10 05".
LineMonitor::BytesSink bytesInto(std::vector<std::string> &out) {
    return [&out](uint64_t, Direction d, std::span<const uint8_t> raw) {
        out.push_back(std::string(d == H ? "bytes host>unit " : "bytes unit>host ") +
                      hex(Bytes(raw.begin(), raw.end())));
    };
}

std::vector<std::string> feedEach(const std::vector<Step> &steps, bool bytes = false) {
    std::vector<std::string> out;
    LineMonitor monitor([&](const MonitorEvent &e) { out.push_back(untimed(e)); },
                        bytes ? bytesInto(out) : LineMonitor::BytesSink{});
    uint64_t t = 0;
    for (const Step &s : steps) monitor.feed(t += 100, s.direction, s.bytes);
    monitor.finish(t);
    return out;
}

// What each event starts with, in order.
void expectEvents(const std::vector<std::string> &got, const std::vector<std::string> &starts) {
    ASSERT_EQ(got.size(), starts.size()) << ::testing::PrintToString(got);
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i].rfind(starts[i], 0), 0u) << "event " << i << ": " << got[i];
}

// ---- Sessions, one step a burst, in their true order ----------------------------

struct Session {
    const char *name;
    std::vector<Step> steps;
    std::vector<std::string> events;  // what each event starts with
};

std::vector<Session> sessions() {
    return {
        {"plain",
         {{H, kEnq}, {U, kAck}, {H, frame(kStatusRead)}, {U, kAck}, {U, kEnq}, {H, kAck},
          {U, frame(kStatusAnswer)}, {H, kAck}},
         {"host>unit DLE ENQ bid", "unit>host DLE ACK grant",
          "host>unit frame 00 01 1C (check code", "unit>host DLE ACK acknowledgement",
          "unit>host DLE ENQ bid", "host>unit DLE ACK grant",
          "unit>host frame E0 01 00 00 00 2A 3C (check code", "host>unit DLE ACK acknowledgement"}},
        {"refused_frame",
         {{H, kEnq}, {U, kAck}, {H, frame(kStatusRead)}, {U, kNak}, {H, frame(kStatusRead)}, {U, kNak},
          {H, frame(kStatusRead)}, {U, kAck}},
         {"host>unit DLE ENQ bid", "unit>host DLE ACK grant", "host>unit frame 00 01 1C",
          "unit>host DLE NAK refusal of the frame", "host>unit frame 00 01 1C",
          "host>unit event frame sent again after a refusal (try 2)", "unit>host DLE NAK refusal of the frame",
          "host>unit frame 00 01 1C", "host>unit event frame sent again after a refusal (try 3)",
          "unit>host DLE ACK acknowledgement"}},
        {"bad_check_code",
         {{U, kEnq}, {H, kAck}, {U, frame(kStatusAnswer, true)}, {H, kNak}, {U, frame(kStatusAnswer)},
          {H, kAck}},
         {"unit>host DLE ENQ bid", "host>unit DLE ACK grant", "unit>host frame E0 01", "host>unit DLE NAK refusal of the frame",
          "unit>host frame E0 01", "unit>host event frame sent again after a refusal (try 2)",
          "host>unit DLE ACK acknowledgement"}},
        {"enquiry_as_acknowledgement",
         {{H, kEnq}, {U, kAck}, {H, frame(kStatusRead)}, {U, kEnq}, {U, kEnq}, {H, kAck}},
         {"host>unit DLE ENQ bid", "unit>host DLE ACK grant", "host>unit frame",
          "unit>host DLE ENQ acknowledgement", "unit>host DLE ENQ bid", "host>unit DLE ACK grant"}},
        {"noise_before_pairs",
         {{H, kEnq}, {U, joined({{0x41, 0x42}, kAck})}, {H, frame(kStatusRead)}, {U, joined({{0x7F}, kAck})}},
         {"host>unit DLE ENQ bid", "unit>host noise 2 bytes: 41 42", "unit>host DLE ACK grant",
          "host>unit frame", "unit>host noise 1 byte: 7F", "unit>host DLE ACK acknowledgement"}},
        {"refused_bid",
         {{H, kEnq}, {U, kNak}, {H, kEnq}, {U, kAck}},
         {"host>unit DLE ENQ bid", "unit>host DLE NAK refusal of the bid", "host>unit DLE ENQ bid",
          "unit>host DLE ACK grant"}},
        {"contention",
         {{H, kEnq}, {U, kEnq}, {U, kEnq}, {H, kAck}, {U, frame(kStatusAnswer)}, {H, kAck}, {H, kEnq},
          {U, kAck}},
         {"host>unit DLE ENQ bid", "unit>host DLE ENQ bid", "unit>host event contention",
          "unit>host DLE ENQ bid", "host>unit DLE ACK grant", "unit>host frame E0 01",
          "host>unit DLE ACK acknowledgement", "host>unit DLE ENQ bid", "unit>host DLE ACK grant"}},
    };
}

class Sessions : public ::testing::TestWithParam<Session> {};

TEST_P(Sessions, EveryPairFrameAndEventIsNamedOnceInOrder) {
    expectEvents(feedEach(GetParam().steps), GetParam().events);
}

// A frame and its pairs split anywhere across reads read the same.
TEST_P(Sessions, ReadsSplitAnywhereReadTheSame) {
    const auto whole = feedEach(GetParam().steps);
    std::vector<Step> bytewise;
    for (const Step &s : GetParam().steps)
        for (uint8_t b : s.bytes) bytewise.push_back({s.direction, {b}});
    EXPECT_EQ(feedEach(bytewise), whole);
}

// Up to four consecutive bursts arriving at one wake-up, each direction's
// bytes in one piece, come out in the order they went, events and the
// bytes passed on for a capture alike; a contention has no order to
// restore and is left out.
TEST_P(Sessions, DirectionsReadTogetherComeOutInTheLineOrder) {
    const auto &steps = GetParam().steps;
    const auto expected = feedEach(steps, true);
    const bool contention = std::string(GetParam().name) == "contention";
    for (size_t first = 0; first < steps.size(); ++first) {
        for (size_t last = first + 2; last <= std::min(steps.size(), first + 4); ++last) {
            if (contention && first <= 1 && last > 1) continue;
            std::vector<std::string> got;
            LineMonitor monitor([&](const MonitorEvent &e) { got.push_back(untimed(e)); }, bytesInto(got));
            uint64_t t = 0;
            for (size_t i = 0; i < first; ++i) monitor.feed(t += 100, steps[i].direction, steps[i].bytes);
            Bytes host, unit;
            for (size_t i = first; i < last; ++i) {
                Bytes &side = steps[i].direction == H ? host : unit;
                side = joined({side, steps[i].bytes});
            }
            monitor.feedTogether(t += 100, host, unit);
            for (size_t i = last; i < steps.size(); ++i)
                monitor.feed(t += 100, steps[i].direction, steps[i].bytes);
            monitor.finish(t);
            EXPECT_EQ(got, expected) << "bursts " << first << " to " << last - 1 << " together";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Line, Sessions, ::testing::ValuesIn(sessions()),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Frames --------------------------------------------------------------------

TEST(Frames, ABadCheckCodeIsShownWithTheExpectedOneAndNotDecoded) {
    const auto events = feedEach({{U, kEnq}, {H, kAck}, {U, frame(kStatusAnswer, true)}});
    ASSERT_EQ(events.size(), 3u);
    const Bytes good = frame(kStatusAnswer);
    char expected[8];
    std::snprintf(expected, sizeof expected, "%02X%02X", good[good.size() - 1], good[good.size() - 2]);
    EXPECT_NE(events[2].find(std::string("bad, ") + expected + " expected); not taken"), std::string::npos)
        << events[2];
    EXPECT_EQ(events[2].find("@1200"), std::string::npos) << events[2];
}

TEST(Frames, RequestsByNameWithTheirParametersAndResponsesFieldByField) {
    const Bytes enhancedCount = {0x60, 0x03, 0xFF, 0x00, 0x00, 0x02, 0x31, 0xB2, 0x1C};
    const Bytes basicDiagnosis = {0x60, 0x0F, 0x01, 0x07, 0x1C};
    const auto events = feedEach({{H, kEnq}, {U, kAck}, {H, frame(enhancedCount)}, {U, kAck}, {H, kEnq},
                                  {U, kAck}, {H, frame(basicDiagnosis)}, {U, kAck}, {U, kEnq}, {H, kAck},
                                  {U, frame(kStatusAnswer)}});
    ASSERT_EQ(events.size(), 11u);
    EXPECT_NE(events[2].find("; request Bill count, parameters 31 B2"), std::string::npos) << events[2];
    EXPECT_NE(events[6].find("; request Bill diagnosis, parameters 07"), std::string::npos) << events[6];
    EXPECT_NE(events[10].find("; response @1200 E001 | "), std::string::npos) << events[10];
    EXPECT_NE(events[10].find("@1207 Normal end"), std::string::npos) << events[10];
}

TEST(Frames, AFrameOverManyReadsKeepsTheTimeOfItsFirstByte) {
    std::vector<MonitorEvent> got;
    LineMonitor monitor([&](const MonitorEvent &e) { got.push_back(e); });
    const Bytes f = frame(kStatusAnswer);
    monitor.feed(1000, U, {f.data(), 4});
    monitor.feed(5000, U, {f.data() + 4, f.size() - 4});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].micros, 1000u);
    EXPECT_EQ(valdor::monitor::formatEvent(got[0]).substr(0, 23), "        1000 unit>host ");
}

// ---- A bid nobody answers --------------------------------------------------------

TEST(UnansweredBid, ReportedOnceAtItsDeadlineAndNotWhenAnsweredInTime) {
    std::vector<MonitorEvent> got;
    LineMonitor monitor([&](const MonitorEvent &e) { got.push_back(e); });
    monitor.feed(2000000, H, kEnq);
    ASSERT_TRUE(monitor.nextDeadline().has_value());
    EXPECT_EQ(*monitor.nextDeadline(), 6500000u);
    monitor.tick(6499999);
    EXPECT_EQ(got.size(), 1u);
    monitor.tick(9000000);
    monitor.tick(9500000);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].text, "event bid unanswered for 4.5 s");
    EXPECT_EQ(got[1].micros, 6500000u);
    EXPECT_EQ(got[1].direction, H);
    EXPECT_FALSE(monitor.nextDeadline().has_value());

    monitor.feed(10000000, U, kEnq);
    monitor.feed(14400000, H, kAck);
    monitor.tick(20000000);
    EXPECT_EQ(got.size(), 4u) << "a grant in time is no fault";
}

// The bidder's clock ran out first: its next bid, read a little before our
// deadline, still closes the last one as unanswered, in order.
TEST(UnansweredBid, ABidAgainBeforeOurDeadlineReportsTheLastOne) {
    std::vector<MonitorEvent> got;
    LineMonitor monitor([&](const MonitorEvent &e) { got.push_back(e); });
    monitor.feed(1000, H, kEnq);
    monitor.feed(4500800, H, kEnq);
    monitor.tick(9000000);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[1].text, "event bid unanswered for 4.5 s");
    EXPECT_EQ(got[1].micros, 4500800u) << "not later than the bid that followed it";
    EXPECT_EQ(got[2].text, "DLE ENQ bid");
    ASSERT_TRUE(monitor.nextDeadline().has_value());
    EXPECT_EQ(*monitor.nextDeadline(), 9000800u) << "the new bid has its own deadline";
}

TEST(UnansweredBid, ALateAnswerComesAfterTheReport) {
    const auto events = [] {
        std::vector<std::string> out;
        LineMonitor monitor([&](const MonitorEvent &e) { out.push_back(untimed(e)); });
        monitor.feed(0, H, kEnq);
        monitor.feed(4600000, U, kAck);  // no tick came between
        return out;
    }();
    expectEvents(events, {"host>unit DLE ENQ bid", "host>unit event bid unanswered for 4.5 s",
                          "unit>host DLE ACK (answers nothing)"});
}

// ---- Command line ------------------------------------------------------------------

struct OptionCase {
    std::vector<std::string> words;
    bool ok;
};

class MonitorOptions : public ::testing::TestWithParam<OptionCase> {};

TEST_P(MonitorOptions, AreTakenOrRefusedWithAReason) {
    const auto options = valdor::monitor::parseMonitorOptions(GetParam().words);
    ASSERT_EQ(options.ok(), GetParam().ok) << (options ? "" : options.failure().why);
    if (!options) {
        EXPECT_FALSE(options.failure().why.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, MonitorOptions,
    ::testing::Values(OptionCase{{"--tap", "/dev/ttyUSB0", "/dev/ttyUSB1"}, true},
                      OptionCase{{"--relay", "-", "/dev/ttyUSB1", "--capture", "x.rslcap"}, true},
                      OptionCase{{"--capture", "x.rslcap", "--relay", "/dev/a", "/dev/b"}, true},
                      OptionCase{{}, false}, OptionCase{{"--tap", "/dev/a"}, false},
                      OptionCase{{"--tap", "-", "/dev/b"}, false},
                      OptionCase{{"--relay", "/dev/a", "-"}, false},
                      OptionCase{{"--relay", "/dev/a", "/dev/a"}, false},
                      OptionCase{{"--tap", "/dev/a", "/dev/b", "--relay", "/dev/c", "/dev/d"}, false},
                      OptionCase{{"--tap", "/dev/a", "/dev/b", "--capture"}, false},
                      OptionCase{{"--tap", "/dev/a", "/dev/b", "--speed"}, false}));

TEST(MonitorOptionsRead, TheDevicesGoWhereTheyBelong) {
    const auto options = valdor::monitor::parseMonitorOptions({"--relay", "-", "/dev/ttyUSB1", "--capture", "c"});
    ASSERT_TRUE(options) << options.failure().why;
    EXPECT_EQ(options->mode, valdor::monitor::MonitorOptions::Mode::Relay);
    EXPECT_EQ(options->first, "-");
    EXPECT_EQ(options->second, "/dev/ttyUSB1");
    EXPECT_EQ(options->capture, "c");
}

}  // namespace
