// The receiving half of the line protocol: answers the device's bid, takes
// its text frame, checks the check code, acknowledges or rejects, and lends
// good texts to the client in pool buffers.  Fed one byte, one read error or
// one time-out at a time; no I/O of its own beyond the LinePort it is given.
//
// Recovery: trouble inside a frame (a time-out, a read error, a broken end
// or a bad check code) answers DLE NAK and waits for the device to send the
// frame again; trouble before the frame begins drops the exchange, and every
// way back to idle clears receive-busy.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <mutex>

#include "rslink/core/buffer_pool.h"
#include "rslink/core/guarded_timer.h"
#include "rslink/core/line_port.h"

namespace rslink::core {

enum RxState : int {
    RX_IDLE,
    RX_WAIT_ENQ,
    RX_WAIT_DLE,
    RX_WAIT_CONTROL,
    RX_LEN_HIGH,
    RX_LEN_LOW,
    RX_TEXT,
    RX_TEXT_DLE,
    RX_TEXT_ETX,
    RX_CRC_LOW,
    RX_CRC_HIGH,
    RX_STATE_COUNT
};

// The state's own name, for diagnostics and test output.
const char *stateName(RxState state);
std::ostream &operator<<(std::ostream &out, RxState state);

// Every wait of the receive path.
inline constexpr unsigned kRxWaitMs = 5000;

// What the receive path tells the driver.
class ReceiveListener {
public:
    virtual ~ReceiveListener() = default;
    // A good text is in `buffer` (a pool buffer); false when it could not be
    // handed on, in which case the path gives the buffer back to the pool.
    virtual bool delivered(uint8_t *buffer, uint32_t length) = 0;
    // Receive-busy has just been cleared.
    virtual void becameIdle() = 0;
};

class ReceivePath {
public:
    ReceivePath(LinePort &port, Timer &timer, BufferPool &pool, ReceiveListener &listener);
    ReceivePath(const ReceivePath &) = delete;
    ReceivePath &operator=(const ReceivePath &) = delete;

    // Called by the receive thread after each read.
    void onByte(uint8_t byte);
    void onReadError();

    // Contention: the driver yields the line to the device, which bid again.
    // Marks receive-busy, answers DLE ACK and waits for the device's frame.
    void grantInbound();

    // Back to idle with no timer (at open).
    void reset();

    // A close: a wait for the device's bid or frame ends now, and no new
    // inbound exchange begins; a frame that has begun is read to its end.
    void stopWaiting();

    // An inbound exchange is under way; no send exchange may start.
    bool busy() const { return busy_.load(); }
    RxState state() const { return state_.load(); }

private:
    using ByteHandler = void (ReceivePath::*)(uint8_t);
    struct Reaction {  // to a time-out or a read error
        bool writeNak;
        RxState next;
    };
    // One row per state, in the enum's order (checked where the table is).
    struct Row {
        RxState state;
        const char *name;
        ByteHandler onByte;
        Reaction onTimeout;
        Reaction onReadError;
    };
    static const std::array<Row, RX_STATE_COUNT> kRows;
    static constexpr bool rowsInOrder();
    friend const char *stateName(RxState state);

    void onIdle(uint8_t byte);
    void onWaitEnq(uint8_t byte);
    void onWaitDle(uint8_t byte);
    void onWaitControl(uint8_t byte);
    void onLenHigh(uint8_t byte);
    void onLenLow(uint8_t byte);
    void onText(uint8_t byte);
    void onTextDle(uint8_t byte);
    void onTextEtx(uint8_t byte);
    void onCrcLow(uint8_t byte);
    void onCrcHigh(uint8_t byte);

    void onTimer(uint64_t arming);
    void react(const Reaction &reaction);
    void answerBid();
    void accept();
    void reject();
    void startFrame();
    void addToCrc(uint8_t byte);
    bool writePair(uint8_t control);
    void moveTo(RxState next);
    bool cutAtClose(RxState state) const;
    void wait(RxState next);  // moveTo and restart the timer
    void restartTimer();

    LinePort &port_;
    GuardedTimer timer_;
    BufferPool &pool_;
    ReceiveListener &listener_;

    std::mutex mutex_;  // the receive thread, the timer thread and the driver thread
    std::atomic<RxState> state_{RX_IDLE};
    std::atomic<bool> busy_{false};

    // Frame assembly.
    uint32_t length_ = 0;
    uint32_t remaining_ = 0;
    size_t position_ = 0;
    uint32_t crc_ = 0;
    uint16_t receivedCrc_ = 0;
    bool discard_ = false;  // length field outside 1..1492: counted, never stored
    bool closing_ = false;  // set by stopWaiting()
    std::array<uint8_t, BufferPool::kSize> text_{};
};

}  // namespace rslink::core
