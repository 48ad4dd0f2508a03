// A scripted far end on a pseudo-terminal: the test writes the unit's bytes
// and reads what the driver wrote, with time-outs.  Left unanswered, it is
// somewhere for COM Open to succeed without a unit.  COM n is pointed at it
// through RSLINK_COM<n>.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "rslink/core/frame.h"

namespace testsupport {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

// "10 05" -> {0x10, 0x05}
Bytes hex(const std::string &text);
// {0x10, 0x05} -> "10 05"
std::string hex(const Bytes &bytes);
// The text frame of `text`, as it travels on the line.  Inline, so that only
// the programs that frame link the core's framing.
inline Bytes frameOf(const Bytes &text) {
    Bytes out(text.size() + rslink::kFrameOverhead);
    out.resize(rslink::buildFrame(text.data(), text.size(), out.data()));
    return out;
}

// The parts one after the other.
inline Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline const Bytes kEnq{0x10, 0x05};
inline const Bytes kAck{0x10, 0x06};
inline const Bytes kNak{0x10, 0x15};

class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    const std::string &path() const { return path_; }
    void mapCom(int n) const;

    void send(const Bytes &bytes);
    // Reads until `count` bytes arrived or `timeout` passed; returns what came.
    Bytes read(size_t count, milliseconds timeout = milliseconds(5000));
    // Reads `count` bytes; the time from the call to the first of them.
    Bytes readTimed(size_t count, milliseconds timeout, milliseconds &waited);
    // Whatever arrives within `window` (nothing: empty).
    Bytes drain(milliseconds window);
    // Closes the master side, as a pulled USB adapter would vanish.
    void hangUp();

private:
    int master_ = -1;
    int slave_ = -1;  // held open so the master never sees a hang-up of its own
    std::string path_;
};

}  // namespace testsupport
