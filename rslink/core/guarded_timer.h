// A Timer wrapper that lets a state machine and its time-out handler exclude
// each other.  Every arming gets a number; a firing acts only if its number is
// still the current one, so a handler that fired just before a byte cancelled
// the timer does nothing.  All calls happen under the owner's mutex; the
// owner's handler takes that mutex and then asks claim().
#pragma once

#include <cstdint>

#include "rslink/core/line_port.h"

namespace rslink::core {

class GuardedTimer {
public:
    explicit GuardedTimer(Timer &timer) : timer_(timer) {}

    // Cancels a running arming and starts a new one; `onFire` is called with
    // the arming's number on the timer thread.
    template <class OnFire>
    void restart(unsigned delay_ms, OnFire onFire) {
        const uint64_t arming = ++generation_;
        armed_ = true;
        timer_.start(delay_ms, [onFire, arming] { onFire(arming); });
    }

    void cancel() {
        ++generation_;
        if (armed_) {
            armed_ = false;
            timer_.cancel();
        }
    }

    // True exactly once for the current arming; false for a stale firing.
    bool claim(uint64_t arming) {
        if (!armed_ || arming != generation_) return false;
        armed_ = false;
        return true;
    }

    bool armed() const { return armed_; }

private:
    Timer &timer_;
    uint64_t generation_ = 0;
    bool armed_ = false;
};

}  // namespace rslink::core
