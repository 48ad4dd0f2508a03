// The line as a fuzzer plays it: the input is the stream of bytes the unit
// sends, with 0xA5 as an escape for the events that are not bytes, and an
// in-memory port and timer that the state machines run against in the
// fuzzer's own thread.  Time-outs are explicit events, so nothing sleeps.
//
//   A5 00  the byte A5 itself        A5 04  the client gives a buffer back
//   A5 01  time runs out             A5 05  a read that finds nothing
//   A5 02  a read fails              A5 06  the next delivery cannot be posted
//   A5 03  the next write fails      A5 07  the driver yields the line (contention)
//                                    A5 nn  (nn > 07) the byte nn
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <vector>

#include "rslink/core/line_port.h"
#include "rslink/core/frame.h"
#include "support/manual_timer.h"

namespace fuzzline {

// Stops the run with a message: libFuzzer keeps the input that did it.
[[noreturn]] inline void violated(const char *what) {
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
}

#define FUZZ_CHECK(cond, what)            \
    do {                                  \
        if (!(cond)) fuzzline::violated(what); \
    } while (0)

inline constexpr uint8_t kEscape = 0xA5;

enum class Event { Byte, Timeout, ReadError, FailNextWrite, Release, Nothing, FailNextPost, Grant, End };

// The event of each escape code, by code.
inline constexpr Event kEscaped[] = {Event::Byte,    Event::Timeout, Event::ReadError,
                                     Event::FailNextWrite, Event::Release, Event::Nothing,
                                     Event::FailNextPost, Event::Grant};

struct Step {
    Event event;
    uint8_t byte = 0;
};

class Script {
public:
    Script(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    Step next() {
        if (at_ >= size_) return {Event::End};
        const uint8_t b = data_[at_++];
        if (b != kEscape) return {Event::Byte, b};
        if (at_ >= size_) return {Event::End};
        const uint8_t code = data_[at_++];
        if (code >= std::size(kEscaped)) return {Event::Byte, code};
        return {kEscaped[code], code == 0 ? kEscape : uint8_t{0}};
    }

    bool done() const { return at_ >= size_; }
    // Takes raw bytes (not events) for the test's own choices.
    size_t take(uint8_t *out, size_t count) {
        size_t n = 0;
        while (n < count && at_ < size_) out[n++] = data_[at_++];
        return n;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
};

using testsupport::ManualTimer;

// What was written to the line, and failing writes on request.
class WriteLog {
public:
    bool write(const uint8_t *data, size_t size) {
        writes.emplace_back(data, data + size);
        const bool ok = !failNext;
        failNext = false;
        return ok;
    }
    bool failNext = false;
    std::vector<std::vector<uint8_t>> writes;
};

inline bool isControlPair(const std::vector<uint8_t> &w, uint8_t control) {
    return w.size() == 2 && w[0] == rslink::DLE && w[1] == control;
}

}  // namespace fuzzline
