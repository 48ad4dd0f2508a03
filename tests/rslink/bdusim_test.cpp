// End to end against the simulated unit: the driver as the console uses it,
// and the unit's fault options.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <sstream>

#include "driver_client.h"
#include "support/bdusim_process.h"

using namespace rslinktest;
using namespace std::chrono_literals;
using testsupport::Bdusim;

namespace {

constexpr int kUnitCom = 4;
const Bytes kStatusRead = hex("00 01 1C");

class WithUnit : public ::testing::Test {
protected:
    void start(std::vector<std::string> options) {
        options.push_back("--trace-requests");
        options.push_back("--trace-responses");
        unit = std::make_unique<Bdusim>(options);
        unit->mapCom(kUnitCom);
        ASSERT_EQ(RSOpen(client.id, kUnitCom, 9600, 8, 2, 0), 0);
    }
    void TearDown() override {
        EXPECT_EQ(RSClose(), 0);
        if (unit) unit->stop();
    }

    // Sends a text and returns the result code (0: none arrived).  Received
    // texts that arrive first are collected.
    int send(Bytes &text, milliseconds timeout = 20s) {
        MSG_BLK block = sendBlock(text);
        if (RSSend(&block) != 0) return -1;
        for (;;) {
            auto n = client.next(timeout);
            if (!n || !n->block) return 0;
            if (n->copy.code == BLK_RECEIVED) {
                takeText(*n);
                continue;
            }
            EXPECT_EQ(n->copy.data, text.data());
            EXPECT_EQ(n->copy.length, text.size());
            return n->copy.code;
        }
    }
    // The next received text (empty: none within the time-out).
    Bytes receive(milliseconds timeout = 10s) {
        if (received.empty()) {
            auto n = client.next(timeout);
            if (!n || !n->block) return {};
            EXPECT_EQ(n->copy.code, BLK_RECEIVED);
            takeText(*n);
        }
        Bytes first = received.front();
        received.erase(received.begin());
        return first;
    }
    void takeText(const Notice &n) {
        received.push_back(n.text);
        client.release(n);
    }
    bool unitPrinted(const std::string &line) {
        return unit->waitForLine([&](const std::string &l) { return l == line; }, 5s);
    }

    Client client;
    std::unique_ptr<Bdusim> unit;
    std::vector<Bytes> received;
};

// The unit's options against Status Reads: the result of each send in turn,
// and every request taken is answered once with its own response.
struct Fault {
    const char *name;
    std::vector<std::string> options;
    std::vector<int> results;
    bool unitFrameFirst = false;  // the unit's own frame arrives before the result
};

const Fault kFaults[] = {
    {"None", {}, {BLK_SEND_OK}},
    {"FramesNakedThreeTimesThenTwice", {"--nak-frames", "5"}, {BLK_SEND_FAILED, BLK_SEND_OK}},
    {"BidsRefused", {"--nak-bids"}, {BLK_SEND_FAILED}},
    {"EnqAsAcknowledgement", {"--enq-ack"}, {BLK_SEND_OK}},
    {"Contention", {"--contend", "1"}, {BLK_SEND_OK}, true},
    // Noise before each DLE must not be taken for the unit's second bid.
    {"ContentionWithNoise", {"--contend", "1", "--noise", "2"}, {BLK_SEND_OK, BLK_SEND_OK}, true},
    {"BadCheckCodeRejectedAndResent", {"--bad-crc", "1"}, {BLK_SEND_OK}},
    {"PacedLineWithNoise", {"--noise", "3", "--baud", "9600"}, {BLK_SEND_OK, BLK_SEND_OK, BLK_SEND_OK}},
};

void PrintTo(const Fault &f, std::ostream *out) { *out << f.name; }

class FaultOption : public WithUnit, public ::testing::WithParamInterface<Fault> {};

TEST_P(FaultOption, ResultsAndResponses) {
    const Fault &f = GetParam();
    start(f.options);
    for (size_t i = 0; i < f.results.size(); ++i) {
        const int expected = f.results[i];
        Bytes request = kStatusRead;
        ASSERT_EQ(send(request), expected);
        if (expected != BLK_SEND_OK) continue;
        EXPECT_TRUE(unitPrinted("REQ 00 01 1C"));
        if (f.unitFrameFirst && i == 0) {
            ASSERT_EQ(received.size(), 1u) << "the unit's own frame came before the result";
            EXPECT_EQ(received[0][0], 0xE0);
            received.clear();
        }
        const Bytes response = receive();
        ASSERT_GE(response.size(), 2u);
        EXPECT_EQ(response[0], 0xE0);
        EXPECT_EQ(response[1], 0x01);
        EXPECT_TRUE(unitPrinted("RSP " + hex(response)));
    }
    EXPECT_TRUE(received.empty());
    EXPECT_TRUE(waitUntil([] { return RSBuffersLent() == 0; }));
    // The unit got every frame it sent through: none given up for want of a grant.
    const auto ok = std::count(f.results.begin(), f.results.end(), int(BLK_SEND_OK));
    const size_t expected = static_cast<size_t>(ok) + (f.unitFrameFirst ? 1 : 0);
    size_t delivered = 0;
    waitUntil([&] {
        const auto lines = unit->lines();
        delivered = static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [](const std::string &l) {
            return l.rfind("RSP ", 0) == 0;
        }));
        return delivered >= expected;
    }, 3000ms);
    EXPECT_EQ(delivered, expected);
}

INSTANTIATE_TEST_SUITE_P(Bdusim, FaultOption, ::testing::ValuesIn(kFaults),
                         [](const auto &info) { return std::string(info.param.name); });

// The unit hangs up at a chosen point, as an unplugged adapter vanishes.
struct HangUp {
    const char *name;
    std::vector<std::string> options;
    int firstResult;  // of the Status Read sent before the hang-up
};

const HangUp kHangUps[] = {
    {"AtTheBid", {"--hang-up", "bid:1"}, BLK_SEND_FAILED},
    {"WhileTheAnswerIsAwaited", {"--hang-up", "request:1"}, BLK_SEND_OK},
    {"InsideTheAnswerFrame", {"--hang-up", "response:1"}, BLK_SEND_OK},
    {"KilledWhileTheAnswerIsAwaited", {"--delay", "3000"}, BLK_SEND_OK},
};

void PrintTo(const HangUp &h, std::ostream *out) { *out << h.name; }

class UnitHangsUp : public WithUnit, public ::testing::WithParamInterface<HangUp> {};

// The block in progress gets its outcome first, then one driver error with
// EIO; later blocks fail without another; nothing is delivered; close is
// prompt.
TEST_P(UnitHangsUp, OutcomeThenOneDriverErrorThenFailuresOnly) {
    const HangUp &h = GetParam();
    start(h.options);
    Bytes request = kStatusRead;
    EXPECT_EQ(send(request), h.firstResult);
    if (h.options[0] == "--delay") unit->stop(SIGKILL);
    else EXPECT_TRUE(unit->ended(10s)) << "bdusim did not end at its hang-up point";

    auto n = client.next(10s);
    ASSERT_TRUE(n && n->block) << "the hang-up was never reported";
    EXPECT_EQ(n->copy.code, BLK_API_ERROR);
    EXPECT_EQ(n->copy.error, static_cast<uint32_t>(EIO));

    for (int i = 0; i < 2; ++i) {
        Bytes again = kStatusRead;
        EXPECT_EQ(send(again, 6s), BLK_SEND_FAILED);
    }
    EXPECT_FALSE(client.next(500ms)) << "a second report";
    EXPECT_TRUE(received.empty());
    const auto closing = std::chrono::steady_clock::now();
    EXPECT_EQ(RSClose(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - closing, 3s);
}

INSTANTIATE_TEST_SUITE_P(Bdusim, UnitHangsUp, ::testing::ValuesIn(kHangUps),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
