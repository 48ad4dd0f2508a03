// Low latency on USB serial adapters.  An adapter holds received bytes for
// its latency time (often 16 ms) before passing them on; every short frame
// and control pair of an exchange would wait for that timer.  At open the
// driver's low-latency flag is raised and the adapter's latency_timer set to
// 1 ms where sysfs lets us; close puts back what was there.  A UART or a pty
// (no USB device in sysfs) is left alone.
#pragma once

#include <string>

#include "rslink/platform/serial_devices.h"

namespace rslink::platform {

class LowLatency {
public:
    enum class State {
        NotUsb,       // not a USB adapter: nothing touched
        Set,          // the flag or the timer (or both) now low
        Unavailable,  // a USB adapter, but neither could be set: see note()
    };

    LowLatency() = default;

    // Sets low latency on the open descriptor of `path`.
    static LowLatency apply(int fd, const std::string &path, const SystemRoots &roots = {});

    // Puts back the flag and the timer as apply() found them; once.
    void restore(int fd);

    State state() const { return state_; }
    // Why low latency could not be set (Unavailable only).
    const std::string &note() const { return note_; }
    // The latency_timer file written, empty when none was.
    const std::string &timerFile() const { return timerFile_; }

private:
    State state_ = State::NotUsb;
    std::string note_;
    bool flagRaised_ = false;
    std::string timerFile_;
    std::string savedTimer_;
};

}  // namespace rslink::platform
