// The receive state machine fed one byte, read error or time-out at a time.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>

#include "rslink/core/receive_path.h"
#include "support/fake_port.h"

using namespace testsupport;
using namespace rslink::core;

namespace {

struct Recorder : ReceiveListener {
    struct Delivery {
        Bytes text;
        uint8_t *buffer;
    };
    bool delivered(uint8_t *buffer, uint32_t length) override {
        deliveries.push_back({Bytes(buffer, buffer + length), buffer});
        return acceptDeliveries;
    }
    void becameIdle() override { ++idles; }
    std::vector<Delivery> deliveries;
    bool acceptDeliveries = true;
    int idles = 0;
};

class ReceivePathTest : public ::testing::Test {
protected:
    void feed(const Bytes &bytes) {
        for (uint8_t b : bytes) path.onByte(b);
    }
    // The unit bids and the path grants.
    void bid() {
        feed(kEnq);
        ASSERT_EQ(lastWrite(), hex(kAck));
    }
    std::string lastWrite() const { return port.writes.empty() ? "" : hex(port.writes.back()); }
    // The last answer written ("" none), the state, and receive-busy.
    ::testing::AssertionResult at(const std::string &written, RxState state, bool busy) const {
        if (lastWrite() == written && path.state() == state && path.busy() == busy)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "wrote \"" << lastWrite() << "\", in " << path.state()
                                             << (path.busy() ? ", busy" : ", not busy");
    }

    FakePort port;
    testsupport::ManualTimer timer;
    BufferPool pool;
    Recorder listener;
    ReceivePath path{port, timer, pool, listener};
};

TEST_F(ReceivePathTest, GoodFrameIsAcknowledgedAndLent) {
    feed({0x10});
    EXPECT_TRUE(path.busy());
    EXPECT_EQ(path.state(), RX_WAIT_ENQ);
    feed({0x05});
    EXPECT_TRUE(at("10 06", RX_WAIT_DLE, true));
    EXPECT_EQ(timer.delay, 5000u);
    feed(hex("10 02 00 03 61 62 63 10 03 3B 4B"));
    EXPECT_TRUE(at("10 06", RX_IDLE, false));
    ASSERT_EQ(listener.deliveries.size(), 1u);
    EXPECT_EQ(hex(listener.deliveries[0].text), "61 62 63");
    EXPECT_EQ(listener.deliveries[0].buffer, pool.buffer(0));
    EXPECT_EQ(pool.lent(), 1);
    EXPECT_FALSE(timer.running);
    EXPECT_EQ(listener.idles, 1);
}

TEST_F(ReceivePathTest, BadCheckCodeIsRejectedAndTheResentFrameTaken) {
    bid();
    feed(hex("10 02 00 03 61 62 63 10 03 3B 4C"));
    EXPECT_TRUE(at("10 15", RX_WAIT_DLE, true));
    EXPECT_TRUE(timer.running);
    EXPECT_TRUE(listener.deliveries.empty());
    feed(frameOf(hex("61 62 63")));
    EXPECT_EQ(lastWrite(), "10 06");
    ASSERT_EQ(listener.deliveries.size(), 1u);
    EXPECT_EQ(hex(listener.deliveries[0].text), "61 62 63");
}

// A text fills at most one buffer.  Length 0 and lengths beyond a buffer are
// counted through and rejected at the end of the frame; nothing is stored
// (ASan would see a write past the buffer).
TEST_F(ReceivePathTest, LengthFieldDecidesWhetherTheTextIsTaken) {
    const std::pair<size_t, bool> cases[] = {
        {0, false}, {BufferPool::kSize, true}, {BufferPool::kSize + 1, false}, {0xFFFF, false}};
    for (auto [length, taken] : cases) {
        SCOPED_TRACE(length);
        listener.deliveries.clear();
        bid();
        Bytes text(length);
        for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>(i * 7);
        feed(frameOf(text));
        EXPECT_EQ(lastWrite(), taken ? "10 06" : "10 15");
        if (taken) {
            ASSERT_EQ(listener.deliveries.size(), 1u);
            EXPECT_EQ(listener.deliveries[0].text, text);
            EXPECT_TRUE(pool.release(listener.deliveries[0].buffer));
            continue;
        }
        EXPECT_EQ(path.state(), RX_WAIT_DLE);
        EXPECT_TRUE(listener.deliveries.empty());
        timer.fire();  // the unit gives up: idle again
        EXPECT_EQ(path.state(), RX_IDLE);
    }
    EXPECT_EQ(pool.lent(), 0);
}

TEST_F(ReceivePathTest, MissingDleOrEtxAfterTheTextIsRejected) {
    bid();
    feed(hex("10 02 00 01 41 11"));
    EXPECT_TRUE(at("10 15", RX_WAIT_DLE, true));
    feed(hex("10 02 00 01 41 10 04"));
    EXPECT_TRUE(at("10 15", RX_WAIT_DLE, true));
    EXPECT_TRUE(listener.deliveries.empty());
}

TEST_F(ReceivePathTest, DleFollowedByOtherThanEnqInIdleReturnsToIdle) {
    feed(hex("10 41"));
    EXPECT_TRUE(at("", RX_IDLE, false)) << "nothing written";
    feed(hex("41 06 15"));  // idle ignores anything but DLE
    EXPECT_TRUE(at("", RX_IDLE, false));
}

TEST_F(ReceivePathTest, ControlAfterDleInWaitControl) {
    bid();
    feed(hex("10 05"));  // the unit bids again
    EXPECT_TRUE(at("10 06", RX_WAIT_DLE, true));
    for (uint8_t control : {0x03, 0x06, 0x15}) {
        feed({0x10, control});
        EXPECT_TRUE(at("10 15", RX_IDLE, false));
        bid();
    }
    feed(hex("10 41"));  // anything else: wait for DLE again
    EXPECT_EQ(path.state(), RX_WAIT_DLE);
}

TEST_F(ReceivePathTest, TimeOutsByState) {
    feed({0x10});
    ASSERT_TRUE(timer.fire());  // waiting for ENQ
    EXPECT_TRUE(at("10 15", RX_IDLE, false));

    bid();
    const size_t written = port.writes.size();
    ASSERT_TRUE(timer.fire());  // granted, and the unit says nothing: no NAK
    EXPECT_EQ(port.writes.size(), written);
    EXPECT_TRUE(at("10 06", RX_IDLE, false));

    // Inside a frame: NAK and wait for the unit to begin again.
    const Bytes frame = frameOf(hex("61 62 63"));
    for (size_t cut = 1; cut < frame.size(); ++cut) {
        SCOPED_TRACE(cut);
        bid();
        feed(Bytes(frame.begin(), frame.begin() + static_cast<long>(cut)));
        ASSERT_TRUE(timer.fire());
        EXPECT_TRUE(at("10 15", RX_WAIT_DLE, true));
        EXPECT_TRUE(timer.running);
        ASSERT_TRUE(timer.fire());
        EXPECT_EQ(path.state(), RX_IDLE);
    }
}

TEST_F(ReceivePathTest, ReadErrorsByState) {
    path.onReadError();  // idle: NAK, stays idle
    EXPECT_TRUE(at("10 15", RX_IDLE, false));

    bid();
    path.onReadError();
    EXPECT_TRUE(at("10 15", RX_IDLE, false));

    bid();
    feed(hex("10 02 00"));
    path.onReadError();
    EXPECT_TRUE(at("10 15", RX_WAIT_DLE, true));
    EXPECT_TRUE(timer.running);
    // The resent frame is taken.
    feed(frameOf(hex("41")));
    ASSERT_EQ(listener.deliveries.size(), 1u);
}

// A failed answer: one more NAK, idle, and receive-busy cleared so that no
// send exchange or close waits for ever.
TEST_F(ReceivePathTest, FailedAnswerWriteEndsInIdleAndNotBusy) {
    feed({0x10});
    port.failWrites = 1;
    feed({0x05});
    ASSERT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(hex(port.writes[0]), "10 06");
    EXPECT_TRUE(at("10 15", RX_IDLE, false));

    bid();
    port.failWrites = 1;  // the acknowledgement of a good frame fails
    feed(frameOf(hex("61")));
    EXPECT_TRUE(at("10 15", RX_IDLE, false));
    EXPECT_TRUE(listener.deliveries.empty());

    bid();
    port.failWrites = 1;  // the rejection of a bad one fails
    feed(hex("10 02 00 01 41 10 03 00 00"));
    EXPECT_TRUE(at("10 15", RX_IDLE, false));
}

TEST_F(ReceivePathTest, GrantDuringContentionWaitsForTheFrame) {
    path.grantInbound();
    EXPECT_TRUE(at("10 06", RX_WAIT_DLE, true));
    EXPECT_TRUE(timer.running);
    EXPECT_EQ(timer.delay, 5000u);
    feed(frameOf(hex("E0 01")));
    ASSERT_EQ(listener.deliveries.size(), 1u);
    EXPECT_FALSE(path.busy());
}

// A handler that fired just before a byte cancelled the timer finds its
// arming stale and does nothing.
TEST_F(ReceivePathTest, StaleTimeOutDoesNothing) {
    bid();
    feed(hex("10 02"));
    ASSERT_GE(timer.history.size(), 2u);
    auto stale = timer.history[timer.history.size() - 2];
    const size_t written = port.writes.size();
    stale();
    EXPECT_EQ(path.state(), RX_LEN_HIGH);
    EXPECT_EQ(port.writes.size(), written);
    feed(hex("00 01 41 10 03"));
    const Bytes frame = frameOf(hex("41"));
    feed(Bytes(frame.end() - 2, frame.end()));
    EXPECT_EQ(listener.deliveries.size(), 1u);
}

// Diagnostics and test failures name the state, never a bare number.
TEST(ReceivePathNames, EveryStateHasItsOwnName) {
    std::set<std::string> names;
    for (int s = 0; s < RX_STATE_COUNT; ++s) {
        std::ostringstream out;
        out << RxState(s);
        EXPECT_EQ(out.str().rfind("RX_", 0), 0u) << out.str();
        names.insert(out.str());
    }
    EXPECT_EQ(names.size(), size_t(RX_STATE_COUNT));
}

}  // namespace
