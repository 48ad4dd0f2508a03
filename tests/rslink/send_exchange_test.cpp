// The send exchange against a scripted unit: the fake port answers each write
// the way the test's unit would, and when the unit is silent the fake timer
// fires, as time would pass on a real line.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "rslink/core/send_exchange.h"
#include "support/fake_port.h"

using namespace testsupport;
using namespace rslink::core;

namespace {

struct HandOverRecorder : InboundHandOver {
    void takeInboundFrame() override { ++calls; }
    int calls = 0;
};

// A port whose line can hang up, as an unplugged adapter's does.
struct HangingPort : FakePort {
    bool gone() const override { return hungUp; }
    bool hungUp = false;
};

class SendExchangeTest : public ::testing::Test {
public:  // the failure table below arranges its cases through these
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
    bool run() {
        result = exchange.run(frame.data(), frame.size());
        return result.acknowledged();
    }

    HangingPort port;
    testsupport::ManualTimer timer;
    HandOverRecorder handOver;
    SendExchange exchange{port, timer, handOver};
    Bytes frame = frameOf(hex("00 01 1C"));
    std::vector<Bytes> bidAnswers{kAck};
    std::vector<Bytes> frameAnswers{kAck};
    int bids = 0;
    int frames = 0;
    int stuck = 0;
    TxResult result;
};

const Bytes kSilence{};

// One exchange against a unit that answers each bid and each frame from a
// list, and what must come of it.  Budgets not named are untouched (3).
struct Script {
    const char *name;
    std::vector<Bytes> bidAnswers, frameAnswers;
    bool acknowledged;
    int bids, frames, handOvers;
    std::vector<std::pair<Budget, int>> budgetsLeft;
    int bidWaits = -1;  // times the 4500 ms wait was (re)started; -1: not counted
};

const Script kScripts[] = {
    {"GrantedAndAcknowledged", {kAck}, {kAck}, true, 1, 1, 0, {}},
    {"EnqInPlaceOfTheAcknowledgement", {kAck}, {kEnq}, true, 1, 1, 0, {}},
    {"FrameNakedThreeTimes", {kAck}, {kNak}, false, 1, 3, 0, {{BUDGET_TEXT_NAK, 0}}},
    {"BidNakedThreeTimes", {kNak}, {}, false, 3, 0, 0, {{BUDGET_REPLY_NAK, 0}}},
    {"SilenceCostsThreeBidsOf4500", {kSilence}, {}, false, 3, 0, 0, {{BUDGET_ENQ_TIMEOUT, 0}}, 3},
    // Budgets of different kinds do not share a count: the fifth try passes.
    {"TwoFrameTimeOutsAndTwoFrameNaks", {kAck}, {kSilence, kSilence, kNak, kNak, kAck}, true, 1, 5, 0,
     {{BUDGET_TEXT_TIMEOUT, 1}, {BUDGET_TEXT_NAK, 1}}},
    {"TwoBidTimeOutsAndTwoBidNaks", {kSilence, kNak, kSilence, kNak, kAck}, {kAck}, true, 5, 1, 0,
     {{BUDGET_ENQ_TIMEOUT, 1}, {BUDGET_REPLY_NAK, 1}}},
    // Each noise byte restarts the wait with the state's own time-out.
    {"NoiseBeforeDleSpendsNothing", {hex("41 42 43 10 06")}, {hex("00 FF 10 06")}, true, 1, 1, 0, {}, 4},
    {"UnexpectedByteAfterDleGoesBackOneState", {hex("10 41 10 06")}, {hex("10 41 10 06")}, true, 1, 1, 0, {}},
    // The unit bids while we bid, then bids again: we grant, the receive
    // path takes its frame, and we bid anew.
    {"ContentionYieldsThenBidsAgain", {hex("10 05 10 05"), kAck}, {kAck}, true, 2, 1, 1, {}},
    {"ContentionWithOtherPairWaitsForDle", {hex("10 05 10 41 10 06")}, {kAck}, true, 1, 1, 0, {}},
    // Noise before the pair is skipped: the DLE and the byte after it decide.
    {"ContentionSkipsNoiseBeforeTheBid", {hex("10 05 41 42 10 05"), kAck}, {kAck}, true, 2, 1, 1, {}},
    {"ContentionSkipsNoiseBeforeOtherPair", {hex("10 05 41 10 41 10 06")}, {kAck}, true, 1, 1, 0, {}},
    {"ContentionTimeOutBidsAgainWithoutSpending", {kEnq, kAck}, {kAck}, true, 2, 1, 0, {}},
};

void PrintTo(const Script &s, std::ostream *out) { *out << s.name; }

class Scripted : public SendExchangeTest, public ::testing::WithParamInterface<Script> {};

TEST_P(Scripted, EndsAsTheUnitDecides) {
    const Script &s = GetParam();
    bidAnswers = s.bidAnswers;
    frameAnswers = s.frameAnswers;
    EXPECT_EQ(run(), s.acknowledged) << result;
    EXPECT_EQ(bids, s.bids);
    EXPECT_EQ(frames, s.frames);
    EXPECT_EQ(handOver.calls, s.handOvers);
    for (const Bytes &written : port.writes) EXPECT_TRUE(written == kEnq || written == frame) << hex(written);
    EXPECT_TRUE(port.input.empty()) << "every answer byte is the exchange's";
    EXPECT_EQ(exchange.state(), TX_IDLE);
    EXPECT_FALSE(timer.running);
    for (int b = 0; b < BUDGET_COUNT; ++b) {
        int left = kBudgetTries;
        for (auto [which, n] : s.budgetsLeft)
            if (which == b) left = n;
        EXPECT_EQ(exchange.budget(Budget(b)), left) << "budget " << b;
    }
    if (s.bidWaits >= 0) {
        EXPECT_EQ(std::count(timer.delays.begin(), timer.delays.end(), 4500u), s.bidWaits);
    }
    exchange.resetBudgets();
    for (int b = 0; b < BUDGET_COUNT; ++b) EXPECT_EQ(exchange.budget(Budget(b)), kBudgetTries);
}

INSTANTIATE_TEST_SUITE_P(Units, Scripted, ::testing::ValuesIn(kScripts),
                         [](const auto &info) { return std::string(info.param.name); });

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

// Every way an exchange fails, and the reason run() gives for it: the
// outcome, the budget that ran out and the state the exchange was in.
struct Failure {
    const char *name;
    std::function<void(SendExchangeTest &)> arrange;
    TxOutcome outcome;
    Budget budget;
    TxState state;
};

// Feeds a read error after every write of the given kind.
void readErrorAfter(SendExchangeTest &t, bool afterBid) {
    auto &probe = t;
    probe.port.onWrite = [&probe, afterBid](const Bytes &written) {
        const bool bid = written == kEnq;
        if (bid && !afterBid) return probe.port.feed(kAck);
        if (bid == afterBid) probe.port.feedError();
    };
}

const Failure kFailures[] = {
    {"SilenceAfterTheBid", [](SendExchangeTest &t) { t.bidAnswers = {kSilence}; },
     TxOutcome::BUDGET_SPENT, BUDGET_ENQ_TIMEOUT, TX_WAIT_DLE},
    {"DleAloneAfterTheBid", [](SendExchangeTest &t) { t.bidAnswers = {hex("10")}; },
     TxOutcome::BUDGET_SPENT, BUDGET_REPLY_TIMEOUT, TX_WAIT_REPLY},
    {"BidNaked", [](SendExchangeTest &t) { t.bidAnswers = {kNak}; },
     TxOutcome::BUDGET_SPENT, BUDGET_REPLY_NAK, TX_WAIT_REPLY},
    {"SilenceAfterTheFrame", [](SendExchangeTest &t) { t.frameAnswers = {kSilence}; },
     TxOutcome::BUDGET_SPENT, BUDGET_TEXT_TIMEOUT, TX_WAIT_TEXT_DLE},
    {"DleAloneAfterTheFrame", [](SendExchangeTest &t) { t.frameAnswers = {hex("10")}; },
     TxOutcome::BUDGET_SPENT, BUDGET_ACK_TIMEOUT, TX_WAIT_TEXT_REPLY},
    {"FrameNaked", [](SendExchangeTest &t) { t.frameAnswers = {kNak}; },
     TxOutcome::BUDGET_SPENT, BUDGET_TEXT_NAK, TX_WAIT_TEXT_REPLY},
    {"ReadErrorAfterTheBid", [](SendExchangeTest &t) { readErrorAfter(t, true); },
     TxOutcome::BUDGET_SPENT, BUDGET_ENQ_READ_ERROR, TX_WAIT_DLE},
    {"ReadErrorAfterTheFrame", [](SendExchangeTest &t) { readErrorAfter(t, false); },
     TxOutcome::BUDGET_SPENT, BUDGET_TEXT_READ_ERROR, TX_WAIT_TEXT_DLE},
    {"BidNotWritten", [](SendExchangeTest &t) { t.port.failWrites = 1; },
     TxOutcome::WRITE_FAILED, BUDGET_NONE, TX_SEND_ENQ},
    {"FrameNotWritten",
     [](SendExchangeTest &t) {
         auto &probe = t;
         probe.port.onWrite = [&probe](const Bytes &written) {
             if (written != kEnq) return;
             probe.port.feed(kAck);
             probe.port.failWrites = 1;
         };
     },
     TxOutcome::WRITE_FAILED, BUDGET_NONE, TX_SEND_TEXT},
    {"AbortedWhileWaitingForTheGrant",
     [](SendExchangeTest &t) {
         auto &probe = t;
         probe.bidAnswers = {kSilence};
         probe.port.onIdle = [&probe] { probe.exchange.abort(); };
     },
     TxOutcome::ABORTED, BUDGET_NONE, TX_WAIT_DLE},
    {"AbortedBeforeItBegan", [](SendExchangeTest &t) { t.exchange.abort(); },
     TxOutcome::ABORTED, BUDGET_NONE, TX_IDLE},
    // The line hangs up after the bid: each read fails, and it is the hang-up
    // that is named, not the read-error budget it spent.
    {"LineGoneAfterTheBid",
     [](SendExchangeTest &t) {
         auto &probe = t;
         probe.port.onWrite = [&probe](const Bytes &) {
             probe.port.hungUp = true;
             probe.port.feedError();
         };
     },
     TxOutcome::LINE_GONE, BUDGET_NONE, TX_WAIT_DLE},
    {"LineGoneUnderTheFrameWrite",
     [](SendExchangeTest &t) {
         auto &probe = t;
         probe.port.onWrite = [&probe](const Bytes &written) {
             if (written != kEnq) return;
             probe.port.feed(kAck);
             probe.port.hungUp = true;
             probe.port.failWrites = 1;
         };
     },
     TxOutcome::LINE_GONE, BUDGET_NONE, TX_SEND_TEXT},
};

void PrintTo(const Failure &f, std::ostream *out) { *out << f.name; }

class Fails : public SendExchangeTest, public ::testing::WithParamInterface<Failure> {};

TEST_P(Fails, AndSaysWhy) {
    const Failure &f = GetParam();
    f.arrange(*this);
    EXPECT_FALSE(run());
    EXPECT_EQ(result.outcome, f.outcome) << result;
    EXPECT_EQ(result.budget, f.budget) << result;
    EXPECT_EQ(result.state, f.state) << result;
    // The budget named is the one spent; the others are untouched.
    for (int b = 0; b < BUDGET_COUNT && f.budget != BUDGET_NONE; ++b)
        EXPECT_EQ(exchange.budget(Budget(b)), b == f.budget ? 0 : kBudgetTries) << budgetName(Budget(b));
    EXPECT_EQ(exchange.state(), TX_IDLE);

    // The reason belongs to the exchange it ended: the next one starts afresh.
    if (f.outcome == TxOutcome::ABORTED) return;  // an abort ends every later one too
    exchange.resetBudgets();
    port.hungUp = false;
    port.failWrites = 0;
    port.input.clear();
    port.onRead = nullptr;
    port.onIdle = [this] {
        if (!timer.fire() && ++stuck > 100) exchange.abort();
    };
    port.onWrite = [this](const Bytes &) { port.feed(kAck); };
    EXPECT_TRUE(run()) << result;
    EXPECT_EQ(result.outcome, TxOutcome::ACKNOWLEDGED);
    EXPECT_EQ(result.budget, BUDGET_NONE);
}

INSTANTIATE_TEST_SUITE_P(Ways, Fails, ::testing::ValuesIn(kFailures),
                         [](const auto &info) { return std::string(info.param.name); });

// Diagnostics name states and budgets, never bare numbers.
TEST(SendExchangeNames, EveryStateAndBudgetHasItsOwnName) {
    std::set<std::string> names;
    for (int s = 0; s < TX_STATE_COUNT; ++s) {
        std::ostringstream out;
        out << TxState(s);
        EXPECT_EQ(out.str().rfind("TX_", 0), 0u) << out.str();
        names.insert(out.str());
    }
    for (int b = 0; b < BUDGET_COUNT; ++b) names.insert(budgetName(Budget(b)));
    EXPECT_EQ(names.size(), size_t(TX_STATE_COUNT) + size_t(BUDGET_COUNT));
    std::ostringstream out;
    out << TxResult{TxOutcome::BUDGET_SPENT, BUDGET_TEXT_NAK, TX_WAIT_TEXT_REPLY};
    EXPECT_EQ(out.str(), std::string("budget spent (") + budgetName(BUDGET_TEXT_NAK) + ") in " +
                             stateName(TX_WAIT_TEXT_REPLY));
}

}  // namespace
