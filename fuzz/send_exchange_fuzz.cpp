// The send state machine fed arbitrary answers of the unit: bytes, time-outs,
// read errors and failed writes, with contention handed to a real receive
// path that plays on the same input.  Every exchange must end; it writes only
// bids, the frame itself, and (while it yields the line) the receive path's
// answers; it never sends the frame more often than its budgets allow; and it
// reports success only when the frame went out whole.
#include <array>

#include "fuzz_line.h"
#include "rslink/core/buffer_pool.h"
#include "rslink/core/receive_path.h"
#include "rslink/core/send_exchange.h"

namespace {

using namespace fuzzline;
using namespace rslink::core;

// Each frame write is followed by a wait that either succeeds or spends one
// of the five budgets that send the frame again, each good for two retries.
constexpr int kMostFrameWrites = 1 + 5 * (kBudgetTries - 1);

class Port : public LinePort {
public:
    Port(Script &script, ManualTimer &timer) : script_(script), timer_(timer) {}

    ReadResult read(uint8_t *buffer, size_t) override {
        for (;;) {
            const Step s = script_.next();
            switch (s.event) {
                case Event::Byte: buffer[0] = s.byte; return {false, 1};
                case Event::Timeout: timer_.fire(); return {};
                case Event::ReadError: return {true, 0};
                case Event::FailNextWrite: log.failNext = true; continue;
                case Event::End: return endOfInput();
                default: return {};
            }
        }
    }
    bool write(const uint8_t *data, size_t size) override { return log.write(data, size); }
    void wake() override {}

    WriteLog log;

private:
    // The unit says nothing more: only the timer can end the wait.
    ReadResult endOfInput() {
        if (timer_.fire()) {
            silentReads_ = 0;
            return {};
        }
        FUZZ_CHECK(++silentReads_ < 8, "the exchange waits with no timer");
        return {};
    }

    Script &script_;
    ManualTimer &timer_;
    int silentReads_ = 0;
};

class Inbound : public ReceiveListener, public InboundHandOver {
public:
    Inbound(Script &script, Port &port) : script_(script), port_(port) {}

    bool delivered(uint8_t *buffer, uint32_t) override {
        ++frames;
        pool_.release(buffer);  // the client is quick
        return true;
    }
    void becameIdle() override {}

    // As the driver does: the receive path answers the bid and runs alone
    // until it is idle again.
    void takeInboundFrame() override {
        FUZZ_CHECK(path_.state() == RX_IDLE, "yielded while the receive side was busy");
        yielding = true;
        path_.grantInbound();
        while (path_.state() != RX_IDLE) {
            const Step s = script_.next();
            switch (s.event) {
                case Event::Byte: path_.onByte(s.byte); break;
                case Event::Timeout: timer_.fire(); break;
                case Event::ReadError: path_.onReadError(); break;
                case Event::FailNextWrite: port_.log.failNext = true; break;
                case Event::End: FUZZ_CHECK(timer_.fire(), "the receive path waits with no timer"); break;
                default: break;
            }
        }
        FUZZ_CHECK(!path_.busy(), "receive-busy left set after the inbound frame");
        yielding = false;
    }

    bool yielding = false;
    int frames = 0;

private:
    Script &script_;
    Port &port_;
    ManualTimer timer_;
    BufferPool pool_;
    ReceivePath path_{port_, timer_, pool_, *this};
};

struct Frame {
    std::array<uint8_t, rslink::kTxFrameBuffer> bytes{};
    size_t length = 0;
};

Frame frameFrom(Script &script) {
    uint8_t head[2] = {};
    script.take(head, sizeof head);
    const size_t length = (head[0] << 8 | head[1]) % (rslink::kMaxSendText + 1);
    std::array<uint8_t, rslink::kMaxSendText> text{};
    for (size_t i = 0; i < length; ++i) text[i] = static_cast<uint8_t>(i * 37 + head[0]);
    Frame f;
    f.length = rslink::buildFrame(text.data(), length, f.bytes.data());
    return f;
}

bool isFrame(const std::vector<uint8_t> &w, const Frame &f) {
    return w.size() == f.length && std::equal(w.begin(), w.end(), f.bytes.begin());
}

void checkRun(const Port &port, size_t from, const Frame &frame, bool sent) {
    int frameWrites = 0;
    bool lastFrameWent = false;
    for (size_t i = from; i < port.log.writes.size(); ++i) {
        const auto &w = port.log.writes[i];
        if (isFrame(w, frame)) {
            ++frameWrites;
            lastFrameWent = true;
        } else {
            FUZZ_CHECK(isControlPair(w, rslink::ENQ) || isControlPair(w, rslink::ACK) ||
                           isControlPair(w, rslink::NAK),
                       "wrote something other than a bid, the frame or an answer");
        }
    }
    FUZZ_CHECK(frameWrites <= kMostFrameWrites, "the frame went out more often than the budgets allow");
    FUZZ_CHECK(!sent || lastFrameWent, "success reported without the frame sent");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Script script(data, size);
    ManualTimer timer;
    Port port(script, timer);
    Inbound inbound(script, port);
    SendExchange exchange(port, timer, inbound);
    // Up to three requests in a row, as the driver thread sends them.
    for (int request = 0; request < 3 && !script.done(); ++request) {
        const Frame frame = frameFrom(script);
        const size_t from = port.log.writes.size();
        const TxResult result = exchange.run(frame.bytes.data(), frame.length);
        const bool sent = result.acknowledged();
        FUZZ_CHECK(exchange.state() == TX_IDLE, "the exchange ended outside TX_IDLE");
        // The reason given is the true one: a budget named is one that ran out.
        if (result.outcome == TxOutcome::BUDGET_SPENT)
            FUZZ_CHECK(result.budget != BUDGET_NONE && exchange.budget(result.budget) == 0,
                       "the failure named a budget that was not spent");
        else
            FUZZ_CHECK(result.budget == BUDGET_NONE, "a budget named where none ran out");
        FUZZ_CHECK(!timer.running, "a send timer outlived its exchange");
        checkRun(port, from, frame, sent);
        exchange.resetBudgets();
        for (int b = 0; b < BUDGET_COUNT; ++b)
            FUZZ_CHECK(exchange.budget(static_cast<Budget>(b)) == kBudgetTries, "a budget was not reset");
    }
    return 0;
}
