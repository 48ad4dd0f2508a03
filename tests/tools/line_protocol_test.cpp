// The simulated unit's line protocol against the driver's own send and
// receive state machines, in one thread and without a pty: every byte one
// side writes is the other side's next byte, and time passes only when both
// sides wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "rslink/core/receive_path.h"
#include "rslink/core/send_exchange.h"
#include "support/fake_port.h"
#include "tools/bdusim/line_protocol.h"
#include "tools/bdusim/unit.h"

using namespace testsupport;
using namespace rslink::core;
using bdusim::LineFaults;
using bdusim::LineProtocol;

namespace {

const Bytes kStatusRead = hex("00 01 1C");

class UnitInProcess : public ::testing::Test,
                      public ReceiveListener,
                      public InboundHandOver,
                      public bdusim::LineOutput {
protected:
    void start(LineFaults faults = {}) {
        line = std::make_unique<LineProtocol>(
            faults, *this,
            bdusim::LineHooks{[this](std::span<const uint8_t> request) { return unit.answer(request); },
                              [this] { return unit.unsolicitedStatus(); },
                              [this](std::span<const uint8_t> text) { taken.emplace_back(text.begin(), text.end()); },
                              [this](const std::string &text) { notes.push_back(text); },
                              {}});
        // What the host writes reaches the unit at once.
        port.onWrite = [this](const Bytes &bytes) {
            for (uint8_t b : bytes) line->onByte(b, now);
        };
        // The host waits for a byte: let the unit's next moment come, or,
        // when it has none, let the host's own wait run out.
        port.onIdle = [this] {
            if (line->nextDeadline() != bdusim::TimePoint::max()) {
                now = std::max(now, line->nextDeadline());
                line->onTime(now);
            } else if (!sendTimer.fire() && ++stuck > 100) {
                exchange.abort();  // a test bug, not a hang
            }
        };
    }

    // The host sends one request frame; how the exchange ended.
    TxResult request(const Bytes &text) {
        const Bytes frame = frameOf(text);
        return exchange.run(frame.data(), frame.size());
    }

    // The unit's moments come and the receive path takes what it sends,
    // until the unit has nothing more to do.
    void settle() {
        for (int round = 0; round < 100; ++round) {
            while (!port.input.empty()) {
                const FakePort::Input in = port.input.front();
                port.input.pop_front();
                path.onByte(in.byte);
            }
            if (line->nextDeadline() == bdusim::TimePoint::max()) return;
            now = std::max(now, line->nextDeadline());
            line->onTime(now);
        }
        ADD_FAILURE() << "the unit never settled, in " << line->state();
    }

    // LineOutput: the unit's bytes are the host's to read.
    bdusim::TimePoint send(std::span<const uint8_t> bytes, bdusim::TimePoint at) override {
        port.feed(Bytes(bytes.begin(), bytes.end()));
        return at;
    }
    // ReceiveListener
    bool delivered(uint8_t *buffer, uint32_t length) override {
        received.emplace_back(buffer, buffer + length);
        pool.release(buffer);
        return true;
    }
    void becameIdle() override {}
    // InboundHandOver: the unit bid against the host, which yields.
    void takeInboundFrame() override {
        ++handOvers;
        path.grantInbound();
        while (path.busy() && !port.input.empty()) {
            const FakePort::Input in = port.input.front();
            port.input.pop_front();
            path.onByte(in.byte);
        }
    }

    FakePort port;
    ManualTimer sendTimer, receiveTimer;
    BufferPool pool;
    SendExchange exchange{port, sendTimer, *this};
    ReceivePath path{port, receiveTimer, pool, *this};
    std::vector<std::string> printed;
    bdusim::Unit unit{{}, false, [this](const std::string &line) { printed.push_back(line); }};
    std::unique_ptr<LineProtocol> line;
    bdusim::TimePoint now{};
    std::vector<Bytes> received;  // texts the receive path lent
    std::vector<Bytes> taken;     // texts the unit saw acknowledged
    std::vector<std::string> notes;
    int handOvers = 0;
    int stuck = 0;
};

TEST_F(UnitInProcess, TheDriversExchangeGetsTheUnitsAnswer) {
    start();
    const TxResult result = request(kStatusRead);
    ASSERT_TRUE(result.acknowledged()) << result;
    EXPECT_EQ(port.writes.front(), kEnq) << "the host bid first";
    settle();
    ASSERT_EQ(received.size(), 1u);
    ASSERT_GE(received[0].size(), 3u);
    EXPECT_EQ(received[0][0], 0xE0) << "a positive answer";
    EXPECT_EQ(received[0][1], kStatusRead[1]) << "to the command sent";
    EXPECT_EQ(taken, received) << "the unit knows the host took it";
    EXPECT_EQ(line->state(), LineProtocol::State::U_IDLE);
    EXPECT_EQ(path.state(), RX_IDLE);
    EXPECT_FALSE(path.busy());
    EXPECT_TRUE(notes.empty()) << notes.front();
}

TEST_F(UnitInProcess, RefusedFramesAndBadCheckCodesAreSentAgainUnderNoise) {
    LineFaults faults;
    faults.nakFrames = 1;
    faults.badCrc = 1;
    faults.noise = 2;
    start(faults);
    const TxResult result = request(kStatusRead);
    ASSERT_TRUE(result.acknowledged()) << result;
    EXPECT_EQ(exchange.budget(BUDGET_TEXT_NAK), kBudgetTries - 1) << "one refusal spent";
    settle();
    ASSERT_EQ(received.size(), 1u) << "the damaged sending was refused, the second taken";
    EXPECT_EQ(received[0][1], kStatusRead[1]);
    EXPECT_EQ(taken, received);
    EXPECT_EQ(std::count(port.writes.begin(), port.writes.end(), kNak), 1) << "the host refused one frame";
}

TEST_F(UnitInProcess, AUnitThatBidsBackIsGrantedAndTheHostBidsAgain) {
    LineFaults faults;
    faults.contend = 1;
    start(faults);
    const TxResult result = request(kStatusRead);
    ASSERT_TRUE(result.acknowledged()) << result;
    EXPECT_EQ(handOvers, 1);
    ASSERT_EQ(received.size(), 1u) << "the unit's own frame, taken while the host yielded";
    settle();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1][1], kStatusRead[1]) << "then the answer to the request";
    EXPECT_EQ(taken, received);
}

}  // namespace
