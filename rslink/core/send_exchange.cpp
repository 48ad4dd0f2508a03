#include "rslink/core/send_exchange.h"

#include "rslink/core/frame.h"

#include <ostream>

namespace rslink::core {

using S = SendExchange;

// The waiting states read one byte at a time; a time-out or a read error
// spends the state's budget and goes where that budget's rule says.
// TX_WAIT_REPLY's time-out during a contention spends nothing (onTimer), nor
// does its read error go by this table then (contend).
constexpr std::array<S::Row, TX_STATE_COUNT> S::kRows = {{
    // state               name                  run             on byte
    //                     time-out               read error
    {TX_IDLE,            "TX_IDLE",            &S::idle,        nullptr,
                         BUDGET_NONE,           BUDGET_NONE},
    {TX_SEND_ENQ,        "TX_SEND_ENQ",        &S::sendEnq,     nullptr,
                         BUDGET_NONE,           BUDGET_NONE},
    {TX_WAIT_DLE,        "TX_WAIT_DLE",        &S::waitForByte, &S::onWaitDle,
                         BUDGET_ENQ_TIMEOUT,    BUDGET_ENQ_READ_ERROR},
    {TX_WAIT_REPLY,      "TX_WAIT_REPLY",      &S::waitReply,   &S::onWaitReply,
                         BUDGET_REPLY_TIMEOUT,  BUDGET_REPLY_READ_ERROR},
    {TX_SEND_TEXT,       "TX_SEND_TEXT",       &S::sendText,    nullptr,
                         BUDGET_NONE,           BUDGET_NONE},
    {TX_WAIT_TEXT_DLE,   "TX_WAIT_TEXT_DLE",   &S::waitForByte, &S::onWaitTextDle,
                         BUDGET_TEXT_TIMEOUT,   BUDGET_TEXT_READ_ERROR},
    {TX_WAIT_TEXT_REPLY, "TX_WAIT_TEXT_REPLY", &S::waitForByte, &S::onWaitTextReply,
                         BUDGET_ACK_TIMEOUT,    BUDGET_ACK_READ_ERROR},
}};

// Trouble before the grant bids again; trouble after it sends the frame again.
constexpr std::array<S::BudgetRule, BUDGET_COUNT> S::kBudgetRules = {{
    {BUDGET_ENQ_TIMEOUT,      "BUDGET_ENQ_TIMEOUT",      TX_SEND_ENQ},
    {BUDGET_ENQ_READ_ERROR,   "BUDGET_ENQ_READ_ERROR",   TX_SEND_ENQ},
    {BUDGET_REPLY_TIMEOUT,    "BUDGET_REPLY_TIMEOUT",    TX_SEND_ENQ},
    {BUDGET_REPLY_READ_ERROR, "BUDGET_REPLY_READ_ERROR", TX_SEND_ENQ},
    {BUDGET_REPLY_NAK,        "BUDGET_REPLY_NAK",        TX_SEND_ENQ},
    {BUDGET_TEXT_TIMEOUT,     "BUDGET_TEXT_TIMEOUT",     TX_SEND_TEXT},
    {BUDGET_TEXT_READ_ERROR,  "BUDGET_TEXT_READ_ERROR",  TX_SEND_TEXT},
    {BUDGET_ACK_TIMEOUT,      "BUDGET_ACK_TIMEOUT",      TX_SEND_TEXT},
    {BUDGET_ACK_READ_ERROR,   "BUDGET_ACK_READ_ERROR",   TX_SEND_TEXT},
    {BUDGET_TEXT_NAK,         "BUDGET_TEXT_NAK",         TX_SEND_TEXT},
}};

// Row i describes state i, every waiting state has its byte handler and
// both budgets, and budget rule i describes budget i.
constexpr bool S::rowsInOrder() {
    for (size_t i = 0; i < kRows.size(); ++i) {
        const Row &row = kRows[i];
        if (row.state != static_cast<TxState>(i) || row.name == nullptr || row.run == nullptr)
            return false;
        const bool waits = row.onByte != nullptr;
        if (waits != (row.onTimeout != BUDGET_NONE) || waits != (row.onReadError != BUDGET_NONE))
            return false;
    }
    for (size_t i = 0; i < kBudgetRules.size(); ++i)
        if (kBudgetRules[i].budget != static_cast<Budget>(i) || kBudgetRules[i].name == nullptr)
            return false;
    return true;
}

const char *stateName(TxState state) {
#ifndef VALDOR_NO_CONSTEXPR_TABLE_CHECKS
    static_assert(SendExchange::rowsInOrder(), "one row per state and per budget, in order");
#endif
    if (state < 0 || state >= TX_STATE_COUNT) return "TX_?";
    return SendExchange::kRows[state].name;
}

const char *budgetName(Budget budget) {
    if (budget < 0 || budget >= BUDGET_COUNT) return "BUDGET_NONE";
    return SendExchange::kBudgetRules[budget].name;
}

const char *outcomeName(TxOutcome outcome) {
    switch (outcome) {
    case TxOutcome::ACKNOWLEDGED: return "acknowledged";
    case TxOutcome::BUDGET_SPENT: return "budget spent";
    case TxOutcome::WRITE_FAILED: return "write failed";
    case TxOutcome::ABORTED: return "aborted by the close";
    case TxOutcome::LINE_GONE: return "line gone";
    }
    return "?";
}

std::ostream &operator<<(std::ostream &out, TxState state) { return out << stateName(state); }
std::ostream &operator<<(std::ostream &out, Budget budget) { return out << budgetName(budget); }
std::ostream &operator<<(std::ostream &out, TxOutcome outcome) { return out << outcomeName(outcome); }

std::ostream &operator<<(std::ostream &out, const TxResult &result) {
    out << result.outcome;
    if (result.outcome == TxOutcome::BUDGET_SPENT) out << " (" << result.budget << ")";
    if (!result.acknowledged()) out << " in " << result.state;
    return out;
}

SendExchange::SendExchange(LinePort &port, Timer &timer, InboundHandOver &handOver)
    : port_(port), timer_(timer), handOver_(handOver) {
    budgets_.fill(kBudgetTries);
}

TxResult SendExchange::run(const uint8_t *frame, size_t length) {
    {
        std::lock_guard lock(mutex_);
        if (aborted_) return {TxOutcome::ABORTED, BUDGET_NONE, state_.load()};
        frame_ = frame;
        frameLength_ = length;
        failed_ = false;
        result_ = {};
        collision_ = false;
        pairLength_ = 0;
        moveTo(TX_SEND_ENQ);
    }
    for (TxState s = state(); s != TX_IDLE; s = state()) (this->*kRows[s].run)();
    std::lock_guard lock(mutex_);
    timer_.cancel();
    kept_ = false;  // a byte left over belongs to no exchange
    return failed_ ? result_ : TxResult{};
}

void SendExchange::resetBudgets() {
    std::lock_guard lock(mutex_);
    budgets_.fill(kBudgetTries);
}

void SendExchange::abort() {
    {
        std::lock_guard lock(mutex_);
        aborted_ = true;
        timer_.cancel();
        collision_ = false;
        fail(TxOutcome::ABORTED);
    }
    port_.wake();
}

int SendExchange::budget(Budget which) const {
    std::lock_guard lock(mutex_);
    return budgets_[which];
}

// ---- state handlers ------------------------------------------------------

void SendExchange::sendEnq() {
    const uint8_t bid[2] = {DLE, ENQ};
    sendAndWait(bid, sizeof bid, TX_SEND_ENQ, TX_WAIT_DLE, kBidAnswerWaitMs);
}

void SendExchange::sendText() {
    sendAndWait(frame_, frameLength_, TX_SEND_TEXT, TX_WAIT_TEXT_DLE, kTxReplyWaitMs);
}

// A failed write ends the exchange at once: there is no retry for writes.
void SendExchange::sendAndWait(const uint8_t *data, size_t size, TxState from, TxState next,
                               unsigned wait_ms) {
    const bool written = port_.write(data, size);
    std::lock_guard lock(mutex_);
    if (state_.load() != from) return;  // aborted meanwhile
    if (written)
        wait(next, wait_ms);
    else
        fail(TxOutcome::WRITE_FAILED);
}

// TX_WAIT_DLE, TX_WAIT_TEXT_DLE, TX_WAIT_TEXT_REPLY (and TX_WAIT_REPLY outside
// a contention): one byte, a read error, or nothing yet.
void SendExchange::waitForByte() {
    const TxState waiting = state();
    uint8_t byte = 0;
    const ReadResult got = readByte(byte);
    std::lock_guard lock(mutex_);
    if (state_.load() != waiting || collision_) {
        if (got.count) keep(byte);  // a time-out acted first
        return;
    }
    if (got.failed) {
        timer_.cancel();
        spend(kRows[waiting].onReadError);
    } else if (got.count) {
        (this->*kRows[waiting].onByte)(byte);
    }
}

void SendExchange::waitReply() {
    bool contending;
    {
        std::lock_guard lock(mutex_);
        contending = collision_;
    }
    if (contending)
        contend();
    else
        waitForByte();
}

// The device bid while we did: take the next DLE and the byte after it as a
// pair, skipping any noise before the DLE.  DLE ENQ
// means it bids again; we yield, let the receive path take its frame, and bid
// anew.  The contention's time-out (onTimer) bids again without spending.
void SendExchange::contend() {
    uint8_t byte = 0;
    const ReadResult got = readByte(byte);
    std::unique_lock lock(mutex_);
    if (state_.load() != TX_WAIT_REPLY || !collision_) {
        if (got.count) keep(byte);
        return;
    }
    if (got.failed) {
        collision_ = false;
        timer_.cancel();
        spend(kRows[TX_WAIT_REPLY].onReadError);
        return;
    }
    if (!got.count) return;
    // Noise before the pair is skipped, as every other wait for a DLE does:
    // the pair is a DLE and the byte after it.
    if (pairLength_ == 0 && byte != DLE) return;
    pair_[pairLength_++] = byte;
    if (pairLength_ < pair_.size()) return;
    pairLength_ = 0;
    collision_ = false;
    timer_.cancel();
    if (pair_[0] != DLE || pair_[1] != ENQ) {
        wait(TX_WAIT_DLE, kBidAnswerWaitMs);
        return;
    }
    lock.unlock();
    handOver_.takeInboundFrame();
    lock.lock();
    if (state_.load() == TX_WAIT_REPLY) moveTo(TX_SEND_ENQ);
}

// ---- byte handlers -------------------------------------------------------

void SendExchange::onWaitDle(uint8_t byte) {
    if (byte == DLE) {
        timer_.cancel();
        wait(TX_WAIT_REPLY, kTxReplyWaitMs);
    } else {
        wait(TX_WAIT_DLE, kBidAnswerWaitMs);  // noise restarts the wait
    }
}

void SendExchange::onWaitReply(uint8_t byte) {
    timer_.cancel();
    if (byte == ACK) {
        moveTo(TX_SEND_TEXT);
    } else if (byte == NAK) {
        spend(BUDGET_REPLY_NAK);
    } else if (byte == ENQ) {
        collision_ = true;
        pairLength_ = 0;
        wait(TX_WAIT_REPLY, kBidAnswerWaitMs);
    } else {
        wait(TX_WAIT_DLE, kBidAnswerWaitMs);
    }
}

void SendExchange::onWaitTextDle(uint8_t byte) {
    if (byte == DLE) {
        timer_.cancel();
        wait(TX_WAIT_TEXT_REPLY, kTxReplyWaitMs);
    } else {
        wait(TX_WAIT_TEXT_DLE, kTxReplyWaitMs);
    }
}

// A DLE ENQ from the device here counts as the acknowledgement.
void SendExchange::onWaitTextReply(uint8_t byte) {
    timer_.cancel();
    if (byte == ACK || byte == ENQ)
        moveTo(TX_IDLE);
    else if (byte == NAK)
        spend(BUDGET_TEXT_NAK);
    else
        wait(TX_WAIT_TEXT_DLE, kTxReplyWaitMs);
}

// ---- time-out, budgets ---------------------------------------------------

void SendExchange::onTimer(uint64_t arming) {
    {
        std::lock_guard lock(mutex_);
        if (!timer_.claim(arming)) return;
        const TxState s = state_.load();
        if (s == TX_WAIT_REPLY && collision_) {
            collision_ = false;
            moveTo(TX_SEND_ENQ);
        } else if (kRows[s].onTimeout != BUDGET_NONE) {
            spend(kRows[s].onTimeout);
        }
    }
    port_.wake();  // the driver thread may be waiting for a byte
}

void SendExchange::spend(Budget which) {
    if (--budgets_[which] <= 0)
        fail(TxOutcome::BUDGET_SPENT, which);
    else
        moveTo(kBudgetRules[which].retryIn);
}

// The first cause stands: an abort after a spent budget does not hide it.
// A line that hung up makes every read fail and every write too, so that is
// named instead of the budget or the write it cost.
void SendExchange::fail(TxOutcome why, Budget which) {
    if (!failed_) {
        if (why != TxOutcome::ABORTED && port_.gone()) {
            why = TxOutcome::LINE_GONE;
            which = BUDGET_NONE;
        }
        result_ = {why, which, state_.load()};
    }
    failed_ = true;
    moveTo(TX_IDLE);
}

void SendExchange::wait(TxState next, unsigned wait_ms) {
    moveTo(next);
    timer_.restart(wait_ms, [this](uint64_t arming) { onTimer(arming); });
}

ReadResult SendExchange::readByte(uint8_t &byte) {
    {
        std::lock_guard lock(mutex_);
        if (kept_) {
            kept_ = false;
            byte = keptByte_;
            return {false, 1};
        }
    }
    return port_.read(&byte, 1);
}

void SendExchange::keep(uint8_t byte) {
    kept_ = true;
    keptByte_ = byte;
}

}  // namespace rslink::core
