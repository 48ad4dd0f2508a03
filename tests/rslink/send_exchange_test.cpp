// The send exchange against a scripted unit: the fake port answers each write
// the way the test's unit would, and when the unit is silent the fake timer
// fires, as time would pass on a real line.
#include <gtest/gtest.h>

#include "fakes.h"
#include "rslink/core/send_exchange.h"

using namespace rslinktest;
using namespace rslink::core;

namespace {

struct HandOverRecorder : InboundHandOver {
    void takeInboundFrame() override {
        ++calls;
        if (during) during();
    }
    int calls = 0;
    std::function<void()> during;
};

class SendExchangeTest : public ::testing::Test {
protected:
    SendExchangeTest() {
        port.onIdle = [this] {
            if (!timer.fire() && ++stuck > 100) exchange.abort();  // a test bug, not a hang
        };
        port.onWrite = [this](const Bytes &written) {
            if (written == kEnq)
                answer(bidAnswers, bids++);
            else
                answer(frameAnswers, frames++);
        };
    }
    // Answer number `n` from the list; past its end the last one repeats.
    void answer(const std::vector<Bytes> &answers, int n) {
        if (answers.empty()) return;
        port.feed(answers[std::min<size_t>(static_cast<size_t>(n), answers.size() - 1)]);
    }
    bool run() { return exchange.run(frame.data(), frame.size()); }

    FakePort port;
    FakeTimer timer;
    HandOverRecorder handOver;
    SendExchange exchange{port, timer, handOver};
    Bytes frame = frameOf(hex("00 01 1C"));
    std::vector<Bytes> bidAnswers{kAck};
    std::vector<Bytes> frameAnswers{kAck};
    int bids = 0;
    int frames = 0;
    int stuck = 0;
};

const Bytes kSilence{};

TEST_F(SendExchangeTest, GrantedAndAcknowledged) {
    EXPECT_TRUE(run());
    ASSERT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(hex(port.writes[0]), "10 05");
    EXPECT_EQ(hex(port.writes[1]), hex(frame));
    EXPECT_EQ(exchange.state(), TX_IDLE);
    EXPECT_FALSE(timer.running);
}

TEST_F(SendExchangeTest, EnqInPlaceOfTheAcknowledgementCounts) {
    frameAnswers = {kEnq};
    EXPECT_TRUE(run());
    EXPECT_EQ(frames, 1);
    EXPECT_TRUE(port.input.empty());  // both bytes taken by the exchange
}

TEST_F(SendExchangeTest, FrameNakedThreeTimesFails) {
    frameAnswers = {kNak};
    EXPECT_FALSE(run());
    EXPECT_EQ(bids, 1);
    EXPECT_EQ(frames, 3);
}

TEST_F(SendExchangeTest, BidNakedThreeTimesFails) {
    bidAnswers = {kNak};
    EXPECT_FALSE(run());
    EXPECT_EQ(bids, 3);
    EXPECT_EQ(frames, 0);
}

TEST_F(SendExchangeTest, SilenceCostsThreeBidsOf4500) {
    bidAnswers = {kSilence};
    EXPECT_FALSE(run());
    EXPECT_EQ(bids, 3);
    EXPECT_EQ(timer.delays, (std::vector<unsigned>{4500, 4500, 4500}));
}

TEST_F(SendExchangeTest, BudgetsOfDifferentKindsDoNotShareACount) {
    // Two frame time-outs, two frame NAKs, then acknowledged: the fifth try.
    frameAnswers = {kSilence, kSilence, kNak, kNak, kAck};
    EXPECT_TRUE(run());
    EXPECT_EQ(frames, 5);
    EXPECT_EQ(exchange.budget(BUDGET_ACK_TIMEOUT) + exchange.budget(BUDGET_TEXT_TIMEOUT), 4);
    EXPECT_EQ(exchange.budget(BUDGET_TEXT_NAK), 1);
    exchange.resetBudgets();
    EXPECT_EQ(exchange.budget(BUDGET_TEXT_NAK), 3);
}

TEST_F(SendExchangeTest, TwoBidTimeOutsAndTwoBidNaksStillSucceed) {
    bidAnswers = {kSilence, kNak, kSilence, kNak, kAck};
    EXPECT_TRUE(run());
    EXPECT_EQ(bids, 5);
}

TEST_F(SendExchangeTest, NoiseBeforeDleRestartsTheWaitAndSpendsNothing) {
    bidAnswers = {hex("41 42 43 10 06")};
    frameAnswers = {hex("00 FF 10 06")};
    EXPECT_TRUE(run());
    EXPECT_EQ(bids, 1);
    EXPECT_EQ(frames, 1);
    for (int b = 0; b < BUDGET_COUNT; ++b) EXPECT_EQ(exchange.budget(Budget(b)), 3);
    // Each noise byte restarted the wait with the state's own time-out.
    EXPECT_EQ(std::count(timer.delays.begin(), timer.delays.end(), 4500u), 4);
}

TEST_F(SendExchangeTest, UnexpectedByteAfterDleGoesBackOneState) {
    bidAnswers = {hex("10 41 10 06")};
    frameAnswers = {hex("10 41 10 06")};
    EXPECT_TRUE(run());
    EXPECT_EQ(bids, 1);
    EXPECT_EQ(frames, 1);
}

TEST_F(SendExchangeTest, ReadErrorsSpendTheirOwnBudgets) {
    port.onWrite = [this](const Bytes &written) {
        if (written == kEnq) {
            ++bids;
            port.feedError();
        }
    };
    EXPECT_FALSE(run());
    EXPECT_EQ(bids, 3);
    EXPECT_EQ(exchange.budget(BUDGET_ENQ_READ_ERROR), 0);
    EXPECT_EQ(exchange.budget(BUDGET_ENQ_TIMEOUT), 3);
}

TEST_F(SendExchangeTest, FailedWriteEndsAtOnce) {
    port.failWrites = 1;
    EXPECT_FALSE(run());
    EXPECT_EQ(port.writes.size(), 1u);

    exchange.resetBudgets();
    port.writes.clear();
    port.onWrite = [this](const Bytes &written) {
        if (written == kEnq) {
            port.feed(kAck);
            port.failWrites = 1;  // the frame's write fails
        }
    };
    EXPECT_FALSE(run());
    EXPECT_EQ(port.writes.size(), 2u);
}

// The unit bids while we bid, then bids again: we grant, the receive path
// takes its frame, and we bid anew.
TEST_F(SendExchangeTest, ContentionYieldsThenBidsAgain) {
    bidAnswers = {hex("10 05 10 05"), kAck};
    EXPECT_TRUE(run());
    EXPECT_EQ(handOver.calls, 1);
    EXPECT_EQ(bids, 2);
    EXPECT_EQ(frames, 1);
    for (int b = 0; b < BUDGET_COUNT; ++b) EXPECT_EQ(exchange.budget(Budget(b)), 3);
}

TEST_F(SendExchangeTest, ContentionPairArrivingInPiecesIsAssembled) {
    int reads = 0;
    bidAnswers = {hex("10 05"), kAck};
    // The second DLE ENQ arrives one byte at a time with empty reads between.
    port.onIdle = [&] {
        if (exchange.state() == TX_WAIT_REPLY && reads < 2) port.feed({static_cast<uint8_t>(reads++ == 0 ? 0x10 : 0x05)});
        else if (!timer.fire() && ++stuck > 100) exchange.abort();
    };
    EXPECT_TRUE(run());
    EXPECT_EQ(handOver.calls, 1);
}

TEST_F(SendExchangeTest, ContentionWithOtherPairWaitsForDle) {
    bidAnswers = {hex("10 05 41 42 10 06")};
    EXPECT_TRUE(run());
    EXPECT_EQ(handOver.calls, 0);
    EXPECT_EQ(bids, 1);
}

TEST_F(SendExchangeTest, ContentionTimeOutBidsAgainWithoutSpending) {
    bidAnswers = {kEnq, kAck};
    EXPECT_TRUE(run());
    EXPECT_EQ(bids, 2);
    EXPECT_EQ(handOver.calls, 0);
    EXPECT_EQ(exchange.budget(BUDGET_REPLY_TIMEOUT), 3);
    EXPECT_EQ(exchange.budget(BUDGET_REPLY_READ_ERROR), 3);
}

TEST_F(SendExchangeTest, ReadErrorDuringContentionSpendsReplyReadError) {
    port.onWrite = [this](const Bytes &written) {
        if (written != kEnq) return port.feed(kAck);
        if (bids++ == 0) {
            port.feed(kEnq);
            port.feedError();
        } else {
            port.feed(kAck);
        }
    };
    EXPECT_TRUE(run());
    EXPECT_EQ(bids, 2);
    EXPECT_EQ(exchange.budget(BUDGET_REPLY_READ_ERROR), 2);
}

// The time-out fires while the driver thread holds a byte it has just read:
// the time-out acts alone, and the byte is the next wait's first.
TEST_F(SendExchangeTest, TimeOutAndByteAtOnceNeitherActsTwiceNorLosesTheByte) {
    bidAnswers = {kAck};
    bool raced = false;
    port.onRead = [&](const FakePort::Input &in) {
        if (!raced && exchange.state() == TX_WAIT_DLE && in.byte == 0x10) {
            raced = true;
            timer.fire();  // state 2 time-out: bid again
        }
    };
    EXPECT_TRUE(run());
    EXPECT_TRUE(raced);
    EXPECT_EQ(bids, 2);
    EXPECT_EQ(exchange.budget(BUDGET_ENQ_TIMEOUT), 2);
    EXPECT_EQ(frames, 1);
}

TEST_F(SendExchangeTest, StaleTimeOutDoesNothing) {
    EXPECT_TRUE(run());
    ASSERT_FALSE(timer.history.empty());
    for (auto &handler : timer.history) handler();
    EXPECT_EQ(exchange.state(), TX_IDLE);
    for (int b = 0; b < BUDGET_COUNT; ++b) EXPECT_EQ(exchange.budget(Budget(b)), 3);
}

TEST_F(SendExchangeTest, AbortEndsTheExchangeAndEveryLaterOne) {
    bidAnswers = {kSilence};
    port.onIdle = [this] { exchange.abort(); };
    EXPECT_FALSE(run());
    EXPECT_EQ(bids, 1);
    EXPECT_FALSE(run());
    EXPECT_EQ(bids, 1);
}

}  // namespace
