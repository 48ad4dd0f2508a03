// What the protocol core needs of its surroundings: a serial line and a
// one-shot timer.  The driver implements them over termios and a timer
// thread; tests and fuzzers implement them in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace rslink::core {

// The outcome of one port read: the bytes that arrived (possibly none), or a
// failed read (a failed call, a line error, or a line that is gone).
struct ReadResult {
    bool failed = false;
    size_t count = 0;
};

class LinePort {
public:
    virtual ~LinePort() = default;

    // Reads up to `size` bytes.  Waits only a short while for the first one,
    // and returns at once with none after wake(); the protocol's time-outs
    // belong to the timers, not to this wait.
    virtual ReadResult read(uint8_t *buffer, size_t size) = 0;

    // Writes all bytes in one piece within the port's own bound; false when
    // the write failed.
    virtual bool write(const uint8_t *data, size_t size) = 0;

    // Makes a read that is waiting (or the next one) return at once.
    virtual void wake() = 0;

    // The line hung up (an unplugged adapter): every read and write fails
    // from now on.  Only tells why an exchange failed; changes nothing.
    virtual bool gone() const { return false; }
};

// A one-shot timer whose handler runs on another thread.  Starting it cancels
// a running one first; a delay of 0 only cancels.  cancel() does not wait for
// a handler that is already running, so owners recognise stale firings (see
// GuardedTimer).
class Timer {
public:
    virtual ~Timer() = default;
    virtual void start(unsigned delay_ms, std::function<void()> handler) = 0;
    virtual void cancel() = 0;
};

}  // namespace rslink::core
