#include "rslink/core/send_exchange.h"

#include "rslink/core/frame.h"

namespace rslink::core {

const std::array<SendExchange::Handler, TX_STATE_COUNT> SendExchange::kHandlers = {
    &SendExchange::idle,        &SendExchange::sendEnq,  &SendExchange::waitForByte,
    &SendExchange::waitReply,   &SendExchange::sendText, &SendExchange::waitForByte,
    &SendExchange::waitForByte,
};

const std::array<SendExchange::ByteHandler, TX_STATE_COUNT> SendExchange::kByteHandlers = {
    nullptr, nullptr, &SendExchange::onWaitDle, &SendExchange::onWaitReply,
    nullptr, &SendExchange::onWaitTextDle, &SendExchange::onWaitTextReply,
};

// TX_WAIT_REPLY's time-out during a contention spends nothing (onTimer).
const std::array<Budget, TX_STATE_COUNT> SendExchange::kTimeoutBudget = {
    BUDGET_NONE,         BUDGET_NONE,          BUDGET_ENQ_TIMEOUT, BUDGET_REPLY_TIMEOUT,
    BUDGET_NONE,         BUDGET_TEXT_TIMEOUT,  BUDGET_ACK_TIMEOUT,
};

const std::array<Budget, TX_STATE_COUNT> SendExchange::kReadErrorBudget = {
    BUDGET_NONE,         BUDGET_NONE,             BUDGET_ENQ_READ_ERROR, BUDGET_REPLY_READ_ERROR,
    BUDGET_NONE,         BUDGET_TEXT_READ_ERROR,  BUDGET_ACK_READ_ERROR,
};

// Trouble before the grant bids again; trouble after it sends the frame again.
const std::array<SendExchange::BudgetRule, BUDGET_COUNT> SendExchange::kBudgetRules = {{
    {TX_SEND_ENQ},   // BUDGET_ENQ_TIMEOUT
    {TX_SEND_ENQ},   // BUDGET_ENQ_READ_ERROR
    {TX_SEND_ENQ},   // BUDGET_REPLY_TIMEOUT
    {TX_SEND_ENQ},   // BUDGET_REPLY_READ_ERROR
    {TX_SEND_ENQ},   // BUDGET_REPLY_NAK
    {TX_SEND_TEXT},  // BUDGET_TEXT_TIMEOUT
    {TX_SEND_TEXT},  // BUDGET_TEXT_READ_ERROR
    {TX_SEND_TEXT},  // BUDGET_ACK_TIMEOUT
    {TX_SEND_TEXT},  // BUDGET_ACK_READ_ERROR
    {TX_SEND_TEXT},  // BUDGET_TEXT_NAK
}};

SendExchange::SendExchange(LinePort &port, Timer &timer, InboundHandOver &handOver)
    : port_(port), timer_(timer), handOver_(handOver) {
    budgets_.fill(kBudgetTries);
}

bool SendExchange::run(const uint8_t *frame, size_t length) {
    {
        std::lock_guard lock(mutex_);
        if (aborted_) return false;
        frame_ = frame;
        frameLength_ = length;
        failed_ = false;
        collision_ = false;
        pairLength_ = 0;
        moveTo(TX_SEND_ENQ);
    }
    for (TxState s = state(); s != TX_IDLE; s = state()) (this->*kHandlers[s])();
    std::lock_guard lock(mutex_);
    timer_.cancel();
    kept_ = false;  // a byte left over belongs to no exchange
    return !failed_;
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
        fail();
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
        fail();
}

// States 2, 5 and 6 (and 3 outside a contention): one byte, a read error, or
// nothing yet.
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
        spend(kReadErrorBudget[waiting]);
    } else if (got.count) {
        (this->*kByteHandlers[waiting])(byte);
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
        spend(BUDGET_REPLY_READ_ERROR);
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
        } else if (kTimeoutBudget[s] != BUDGET_NONE) {
            spend(kTimeoutBudget[s]);
        }
    }
    port_.wake();  // the driver thread may be waiting for a byte
}

void SendExchange::spend(Budget which) {
    if (--budgets_[which] <= 0)
        fail();
    else
        moveTo(kBudgetRules[which].retryIn);
}

void SendExchange::fail() {
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
