// valdor --monitor: watches a live line between a host and the unit, as a
// tap (two receive-only inputs, one a direction) or as a relay (in the
// line, forwarding every byte unchanged), and prints what goes over it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "rslink/core/result.h"

namespace valdor::monitor {

struct MonitorOptions {
    enum class Mode { Tap, Relay };
    Mode mode = Mode::Tap;
    std::string first;   // tap: host-to-unit input; relay: host side ("-": a new pty)
    std::string second;  // tap: unit-to-host input; relay: unit side
    std::string capture; // "" for none
};

// Reads the words after "--monitor" (and a --capture FILE anywhere among
// them).  A command line it cannot take fails with the reason in words.
rslink::Result<MonitorOptions> parseMonitorOptions(const std::vector<std::string> &words);

// Runs until SIGINT, SIGTERM or SIGHUP (status 0) or until a device hangs up
// or fails (status 1); 2 when it cannot start.  The transcript goes to
// `out`, one line an event, flushed line by line; errors to `err`.
int runMonitor(const MonitorOptions &options, std::FILE *out, std::FILE *err);

}  // namespace valdor::monitor
