// The unit's end of the line: the master side of a pseudo-terminal pair.
// It paces bytes in both directions at a chosen speed, notices the host
// closing and re-opening the slave side, and logs every burst.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "rslink/core/result.h"
#include "tools/bdusim/byte_log.h"
#include "tools/bdusim/line_protocol.h"

namespace bdusim {

class PtyPort : public LineOutput {
public:
    // `baud` 0: no pacing.  Each byte takes 11 bit times on a paced line
    // (start, 8 data, parity, stop).
    PtyPort(long baud, ByteLog &log);
    ~PtyPort() override;
    PtyPort(const PtyPort &) = delete;
    PtyPort &operator=(const PtyPort &) = delete;

    // Creates the pair with the slave in raw mode.
    rslink::Result<> open();
    const std::string &slavePath() const { return slavePath_; }
    int fd() const { return master_; }

    // Whether a host holds the slave side open.
    bool hostPresent() const { return present_; }
    // Looks again (without waiting); true when presence changed.
    bool checkPresence();
    // The host is gone (hang-up or a failed read or write): drops every
    // byte in either direction and any stale byte left for the next host.
    void hostLeft();

    TimePoint send(std::span<const uint8_t> bytes, TimePoint now) override;

    // Reads what the host wrote; false when the host turned out to be gone.
    bool readAvailable(TimePoint now);
    // Hands over every received byte whose time has come.
    void deliverDue(TimePoint now, const std::function<void(uint8_t)> &take);
    // Writes every byte whose time has come; false when the host is gone.
    bool writeDue(TimePoint now);

    // The next moment a byte is due in either direction.
    TimePoint nextEvent() const;
    // Bytes wait for the pty to take them (not for their time).
    bool blocked() const { return blocked_; }
    // Bytes written by the unit have not all left yet.
    bool outputPending() const { return !pending_.empty(); }

private:
    using Timed = std::pair<uint8_t, TimePoint>;
    void flushStaleInput();

    long baud_;
    Clock::duration byteTime_{};
    ByteLog &log_;
    int master_ = -1;
    std::string slavePath_;
    bool present_ = false;
    bool blocked_ = false;
    std::deque<Timed> received_;
    std::deque<Timed> pending_;
    TimePoint receiveClock_{};
    TimePoint sendClock_{};
};

}  // namespace bdusim
