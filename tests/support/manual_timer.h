// A one-shot timer whose handler runs only when the test (or the fuzzer)
// says time ran out, so the state machines run one time-out at a time in the
// caller's own thread and nothing sleeps.  Shared by the unit tests and the
// fuzz targets: it needs nothing but the core's timer interface.
#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "rslink/core/line_port.h"

namespace testsupport {

class ManualTimer : public rslink::core::Timer {
public:
    void start(unsigned delay_ms, std::function<void()> handler) override {
        if (delay_ms == 0) return cancel();
        running = true;
        delay = delay_ms;
        handler_ = std::move(handler);
        history.push_back(handler_);
        delays.push_back(delay_ms);
    }
    void cancel() override { running = false; }

    // Time runs out: the handler runs as the timer thread would run it;
    // false when none was armed.
    bool fire() {
        if (!running) return false;
        running = false;
        auto handler = handler_;
        handler();
        return true;
    }

    bool running = false;
    unsigned delay = 0;                           // of the last start
    std::vector<unsigned> delays;                 // of every start
    std::vector<std::function<void()>> history;   // every handler ever started

private:
    std::function<void()> handler_;
};

}  // namespace testsupport
