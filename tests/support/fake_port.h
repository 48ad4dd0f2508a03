// An in-memory stand-in for the port, so the state machines run one byte at
// a time in the test's own thread (with testsupport::ManualTimer for time).
#pragma once

#include <deque>
#include <functional>
#include <vector>

#include "rslink/core/line_port.h"
#include "support/pty_peer.h"
#include "support/manual_timer.h"

namespace testsupport {

// The far end as seen by the core: an input queue of bytes and read errors,
// and a record of every write.  `onWrite` lets a test play the unit.
class FakePort : public rslink::core::LinePort {
public:
    struct Input {
        bool error;
        uint8_t byte;
    };
    rslink::core::ReadResult read(uint8_t *buffer, size_t size) override {
        if (input.empty()) {
            if (onIdle) onIdle();
            return {false, 0};
        }
        Input in = input.front();
        input.pop_front();
        if (onRead) onRead(in);
        if (in.error) return {true, 0};
        buffer[0] = in.byte;
        return {false, 1};
    }
    bool write(const uint8_t *data, size_t size) override {
        Bytes b(data, data + size);
        writes.push_back(b);
        const bool ok = failWrites == 0;
        if (failWrites > 0) --failWrites;
        if (ok && onWrite) onWrite(b);
        return ok;
    }
    void wake() override {}

    void feed(const Bytes &bytes) {
        for (uint8_t b : bytes) input.push_back({false, b});
    }
    void feedError() { input.push_back({true, 0}); }

    std::deque<Input> input;
    std::vector<Bytes> writes;
    int failWrites = 0;
    std::function<void(const Bytes &)> onWrite;
    std::function<void()> onIdle;
    std::function<void(const Input &)> onRead;
};

}  // namespace testsupport
