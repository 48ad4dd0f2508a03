// The sending half of the line protocol: bid with DLE ENQ, send the frame
// once granted, take the acknowledgement; ten retry budgets; yield the line
// when the device bids at the same moment.  Runs on the driver thread against
// a LinePort and a Timer; the time-out handler runs on the timer thread and
// the two exclude each other through the exchange's mutex and GuardedTimer.
//
// Recovery: trouble before the grant (a time-out, a read error or DLE NAK
// after the bid) bids again, trouble after it sends the frame again, each
// kind spending its own budget of three; a spent budget, a failed write, an
// abort or a line that is gone ends the exchange failed.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <mutex>

#include "rslink/core/guarded_timer.h"
#include "rslink/core/line_port.h"

namespace rslink::core {

enum TxState : int {
    TX_IDLE,
    TX_SEND_ENQ,
    TX_WAIT_DLE,
    TX_WAIT_REPLY,
    TX_SEND_TEXT,
    TX_WAIT_TEXT_DLE,
    TX_WAIT_TEXT_REPLY,
    TX_STATE_COUNT
};

// The DLE that answers a bid, and the contention wait.
inline constexpr unsigned kBidAnswerWaitMs = 4500;
// Every other wait of the send exchange.
inline constexpr unsigned kTxReplyWaitMs = 5000;

enum Budget : int {
    BUDGET_ENQ_TIMEOUT,
    BUDGET_ENQ_READ_ERROR,
    BUDGET_REPLY_TIMEOUT,
    BUDGET_REPLY_READ_ERROR,
    BUDGET_REPLY_NAK,
    BUDGET_TEXT_TIMEOUT,
    BUDGET_TEXT_READ_ERROR,
    BUDGET_ACK_TIMEOUT,
    BUDGET_ACK_READ_ERROR,
    BUDGET_TEXT_NAK,
    BUDGET_COUNT,
    BUDGET_NONE = -1
};

inline constexpr int kBudgetTries = 3;

// The state's and the budget's own names, for diagnostics and test output.
const char *stateName(TxState state);
const char *budgetName(Budget budget);
std::ostream &operator<<(std::ostream &out, TxState state);
std::ostream &operator<<(std::ostream &out, Budget budget);

// Why an exchange ended.
enum class TxOutcome : int {
    ACKNOWLEDGED,  // the device took the frame
    BUDGET_SPENT,  // `budget` tells which
    WRITE_FAILED,  // the bid or the frame could not be written (`state` tells which)
    ABORTED,       // abort(): the port is closing
    LINE_GONE,     // the line hung up under the exchange
};
const char *outcomeName(TxOutcome outcome);
std::ostream &operator<<(std::ostream &out, TxOutcome outcome);

struct TxResult {
    TxOutcome outcome = TxOutcome::ACKNOWLEDGED;
    Budget budget = BUDGET_NONE;  // the spent one, with BUDGET_SPENT
    TxState state = TX_IDLE;      // where the exchange failed; TX_IDLE when acknowledged
    bool acknowledged() const { return outcome == TxOutcome::ACKNOWLEDGED; }
};
// "budget spent (BUDGET_TEXT_NAK) in TX_WAIT_TEXT_REPLY" and the like.
std::ostream &operator<<(std::ostream &out, const TxResult &result);

// How the exchange lets the receive path take the device's frame during a
// contention.
class InboundHandOver {
public:
    virtual ~InboundHandOver() = default;
    // The device bid again while we yielded: answer it (DLE ACK), let the
    // receive path take its frame, and return once the receive path is idle.
    virtual void takeInboundFrame() = 0;
};

class SendExchange {
public:
    SendExchange(LinePort &port, Timer &timer, InboundHandOver &handOver);
    SendExchange(const SendExchange &) = delete;
    SendExchange &operator=(const SendExchange &) = delete;

    // Runs one exchange for the frame to its end, and says how it ended.
    TxResult run(const uint8_t *frame, size_t length);

    // All ten budgets back to 3 (at open and after every exchange).
    void resetBudgets();

    // Ends a running exchange (and every later one) with failure.
    void abort();

    TxState state() const { return state_.load(); }
    int budget(Budget which) const;

private:
    using Handler = void (SendExchange::*)();
    using ByteHandler = void (SendExchange::*)(uint8_t);
    // One row per state, in the enum's order (checked where the table is).
    struct Row {
        TxState state;
        const char *name;
        Handler run;             // what the driver thread does in the state
        ByteHandler onByte;      // a byte read in the state (waiting states only)
        Budget onTimeout;        // spent when the state's wait runs out
        Budget onReadError;      // spent when a read fails in the state
    };
    struct BudgetRule {
        Budget budget;
        const char *name;
        TxState retryIn;
    };
    static const std::array<Row, TX_STATE_COUNT> kRows;
    static const std::array<BudgetRule, BUDGET_COUNT> kBudgetRules;
    static constexpr bool rowsInOrder();
    friend const char *stateName(TxState state);
    friend const char *budgetName(Budget budget);

    // State handlers.
    void idle() {}
    void sendEnq();
    void sendText();
    void waitForByte();
    void waitReply();
    void contend();

    // Byte handlers of the waiting states.
    void onWaitDle(uint8_t byte);
    void onWaitReply(uint8_t byte);
    void onWaitTextDle(uint8_t byte);
    void onWaitTextReply(uint8_t byte);

    void onTimer(uint64_t arming);
    void sendAndWait(const uint8_t *data, size_t size, TxState from, TxState next,
                     unsigned wait_ms);
    ReadResult readByte(uint8_t &byte);
    void keep(uint8_t byte);
    void spend(Budget which);
    void fail(TxOutcome why, Budget which = BUDGET_NONE);
    void moveTo(TxState next) { state_.store(next); }
    void wait(TxState next, unsigned wait_ms);

    LinePort &port_;
    GuardedTimer timer_;
    InboundHandOver &handOver_;

    mutable std::mutex mutex_;  // the driver thread and the timer thread
    std::atomic<TxState> state_{TX_SEND_ENQ};
    bool failed_ = false;
    TxResult result_;  // how the exchange under way ended (the first cause)
    bool collision_ = false;
    bool aborted_ = false;
    std::array<int, BUDGET_COUNT> budgets_{};
    const uint8_t *frame_ = nullptr;
    size_t frameLength_ = 0;

    // A byte read for a wait that a time-out ended first; it is the next
    // wait's first byte, so nothing read from the line is lost.
    bool kept_ = false;
    uint8_t keptByte_ = 0;

    // The pair taken during a contention, assembled across reads.
    std::array<uint8_t, 2> pair_{};
    size_t pairLength_ = 0;
};

}  // namespace rslink::core
