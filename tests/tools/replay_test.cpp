// The replay's engine, driven by hand with made-up moments: it answers in
// the recorded order after the recorded pauses, waits for the host, and
// reports a host frame that differs, with both texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rslink/core/capture_format.h"
#include "support/pty_peer.h"
#include "tools/bdusim/replay.h"

namespace cap = rslink::capture;
using namespace std::chrono_literals;
using bdusim::Clock;
using bdusim::TimePoint;
using testsupport::frameOf;

namespace {

cap::Record burst(uint64_t micros, cap::Direction d, std::vector<uint8_t> bytes) {
    cap::Record r;
    r.type = cap::RecordType::Burst;
    r.micros = micros;
    r.direction = d;
    r.bytes = std::move(bytes);
    return r;
}

constexpr auto H = cap::Direction::HostToUnit;
constexpr auto U = cap::Direction::UnitToHost;
const std::vector<uint8_t> kStatus = {0x00, 0x01, 0x1C};
const std::vector<uint8_t> kResponse = {0xE0, 0x01, 0x00};

// A status exchange in which the unit refused the first frame, answered
// after 1500 ms, and stayed silent 2 s before the ACK.
std::vector<cap::Record> recording() {
    auto badResponse = frameOf(kResponse);
    badResponse.back() ^= 0xFF;
    return {
        burst(0, H, {0x10, 0x05}),
        burst(100, U, {0x10, 0x06}),
        burst(200, H, frameOf(kStatus)),
        burst(300, U, {0x10, 0x15}),
        burst(400, H, frameOf(kStatus)),
        burst(2'000'400, U, {0x10, 0x06, 0x10, 0x05}),
        burst(2'000'500, H, {0x10, 0x06}),
        burst(3'500'500, U, badResponse),
    };
}

struct Wire : bdusim::LineOutput {
    std::vector<std::vector<uint8_t>> sent;
    TimePoint send(std::span<const uint8_t> bytes, TimePoint now) override {
        sent.emplace_back(bytes.begin(), bytes.end());
        return now;
    }
};

struct Rig {
    explicit Rig(bdusim::ReplayOptions options = {})
        : replay(bdusim::buildReplayScript(recording()), options, wire,
                 [this](const std::string &t) { reports.push_back(t); }) {
        replay.reset(t0);
    }
    void host(const std::vector<uint8_t> &bytes, TimePoint at) {
        for (uint8_t b : bytes) replay.onByte(b, at);
        replay.onTime(at);
    }
    TimePoint t0 = Clock::now();
    Wire wire;
    std::vector<std::string> reports;
    bdusim::Replay replay;
};

TEST(Replay, AnswersInOrderAfterTheRecordedPausesAndOnlyOnceTheHostHasSpoken) {
    Rig rig;
    rig.replay.onTime(rig.t0 + 10s);
    EXPECT_TRUE(rig.wire.sent.empty()) << "the unit spoke before the host's bid";

    const TimePoint bid = rig.t0 + 1s;
    rig.host({0x10, 0x05}, bid);
    EXPECT_TRUE(rig.wire.sent.empty()) << "answered before the recorded 100 us";
    EXPECT_EQ(rig.replay.nextDeadline(), bid + 100us);
    rig.replay.onTime(bid + 100us);
    ASSERT_EQ(rig.wire.sent.size(), 1u);
    EXPECT_EQ(rig.wire.sent[0], (std::vector<uint8_t>{0x10, 0x06}));

    rig.host(frameOf(kStatus), bid + 1ms);
    rig.replay.onTime(bid + 2ms);
    ASSERT_EQ(rig.wire.sent.size(), 2u);
    EXPECT_EQ(rig.wire.sent[1], (std::vector<uint8_t>{0x10, 0x15})) << "the refusal is replayed";

    const TimePoint again = bid + 3ms;
    rig.host(frameOf(kStatus), again);
    rig.replay.onTime(again + 1999ms);
    EXPECT_EQ(rig.wire.sent.size(), 2u) << "the long silence was cut short";
    rig.replay.onTime(again + 2s);
    EXPECT_EQ(rig.wire.sent.size(), 3u);

    rig.host({0x10, 0x06}, again + 2100ms);
    rig.replay.onTime(again + 2100ms + 1500ms);
    ASSERT_EQ(rig.wire.sent.size(), 4u);
    EXPECT_EQ(rig.wire.sent[3], recording()[7].bytes) << "the bad check code is replayed";
    EXPECT_TRUE(rig.replay.finished());
    EXPECT_EQ(rig.replay.mismatches(), 0u);
    ASSERT_FALSE(rig.reports.empty());
    EXPECT_EQ(rig.reports.back(), "replay: the end of the recording");
}

TEST(Replay, WithoutDelaysAnswersAsSoonAsTheHostHasSpoken) {
    Rig rig({.noDelays = true});
    rig.host({0x10, 0x05}, rig.t0);
    rig.host(frameOf(kStatus), rig.t0);
    rig.host(frameOf(kStatus), rig.t0);
    rig.host({0x10, 0x06}, rig.t0);
    EXPECT_EQ(rig.wire.sent.size(), 4u);
}

TEST(Replay, ADifferentFrameIsReportedWithBothTextsAndTheReplayGoesOnOrStops) {
    const std::vector<uint8_t> cancel = {0x00, 0x10, 0x1C};
    for (bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "stop on mismatch" : "go on");
        Rig rig({.noDelays = true, .stopOnMismatch = stop});
        rig.host({0x10, 0x05}, rig.t0);
        rig.host(frameOf(cancel), rig.t0);
        EXPECT_EQ(rig.replay.mismatches(), 1u);
        ASSERT_FALSE(rig.reports.empty());
        EXPECT_NE(rig.reports[0].find("recorded: 00 01 1C"), std::string::npos) << rig.reports[0];
        EXPECT_NE(rig.reports[0].find("live:     00 10 1C"), std::string::npos) << rig.reports[0];
        EXPECT_EQ(rig.replay.stopped(), stop);
        EXPECT_EQ(rig.wire.sent.size(), stop ? 1u : 2u);
    }
}

// "Log All Clear" texts of both layouts and the download's time frame:
// only the date and time bytes may differ.
std::vector<uint8_t> logAllClear(bool enhanced, const char *when) {
    std::vector<uint8_t> t = enhanced ? std::vector<uint8_t>{0x60, 0x12, 0xFF, 0x00, 0x00, 0x29}
                                      : std::vector<uint8_t>{0x60, 0x12, 0x29};
    t.push_back(0x03);
    for (const char *c = "Log clear date : "; *c; ++c) t.push_back(static_cast<uint8_t>(*c));
    for (const char *c = when; *c; ++c) t.push_back(static_cast<uint8_t>(*c));
    t.resize(t.size() + 4, 0x00);
    t.push_back(0x1C);
    return t;
}

std::vector<uint8_t> timeFrame(const char *when) {
    std::vector<uint8_t> t = {0x60, 0xD4, 0xFF, 0x00, 0x00, 0x1A};
    for (const char *c = "01RT00I2000E"; *c; ++c) t.push_back(static_cast<uint8_t>(*c));
    for (const char *c = when; *c; ++c) t.push_back(static_cast<uint8_t>(*c));
    t.push_back(0x1C);
    return t;
}

TEST(SameRequest, LeavesOutOnlyTheDateAndTimeBytes) {
    for (bool enhanced : {false, true}) {
        const auto a = logAllClear(enhanced, "2026.12.08 14:03:07");
        const auto b = logAllClear(enhanced, "2027.01.31 09:59:00");
        ASSERT_EQ(a.size(), enhanced ? 48u : 45u);
        EXPECT_TRUE(bdusim::sameRequest(a, b));
        auto c = b;
        c[enhanced ? 7 : 4] = 'X';  // the fixed text
        EXPECT_FALSE(bdusim::sameRequest(a, c));
        auto d = b;
        d[enhanced ? 6 : 3] = 0x01;  // the mode: a plain log read is compared whole
        auto e = a;
        e[enhanced ? 6 : 3] = 0x01;
        EXPECT_FALSE(bdusim::sameRequest(e, d));
    }
    const auto t1 = timeFrame("20261208140307");
    const auto t2 = timeFrame("20270131095900");
    ASSERT_EQ(t1.size(), 33u);
    EXPECT_TRUE(bdusim::sameRequest(t1, t2));
    auto t3 = t2;
    t3[8] = 'X';
    EXPECT_FALSE(bdusim::sameRequest(t1, t3));
    EXPECT_FALSE(bdusim::sameRequest(kStatus, std::vector<uint8_t>{0x00, 0x01}));
}

}  // namespace
