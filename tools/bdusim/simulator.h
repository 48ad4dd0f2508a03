// Puts the pieces together: the pty, the line protocol, the unit and the
// byte log, driven by one event loop that sleeps in ppoll(2) until a byte
// arrives, a time-out falls due or a signal ends it.
#pragma once

#include <memory>
#include <string>

#include "rslink/core/result.h"
#include "tools/bdusim/byte_log.h"
#include "tools/bdusim/line_protocol.h"
#include "tools/bdusim/options.h"
#include "tools/bdusim/pty_port.h"
#include "tools/bdusim/replay.h"
#include "tools/bdusim/unit.h"

namespace bdusim {

class Simulator {
public:
    explicit Simulator(const Options &options);

    // Creates the pty (and the log and the link).
    rslink::Result<> start();
    const std::string &path() const { return port_.slavePath(); }

    // Runs until SIGTERM or SIGINT.  Returns the exit status: 1 when a
    // replay met a host frame that differs from the recording, else 0.
    int run();

private:
    void step(TimePoint now);
    void wait(TimePoint now);
    void noticeHostChange(bool wasPresent, TimePoint now);
    void removeLink();
    rslink::Result<> loadReplay();

    Options options_;
    ByteLog log_;
    PtyPort port_;
    Unit unit_;
    LineProtocol line_;
    std::unique_ptr<Replay> replay_;  // set: the recording plays the unit
    bool linked_ = false;
    bool hangUp_ = false;  // the line protocol reached its hang-up point
};

}  // namespace bdusim
