// Plays the unit's side of a recorded session: each burst the unit sent,
// once the host has sent what came before it in the recording, after the
// recorded pause (or at once).  Refusals, bad check codes and silences come
// back as they went, because the unit's bytes are sent as recorded.  Each
// frame of the host is compared with the recorded one, leaving out the
// bytes that carry the date and time.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "rslink/analysis/line_tokens.h"
#include "rslink/core/capture_format.h"
#include "tools/bdusim/line_protocol.h"

namespace bdusim {

struct ReplayOptions {
    bool noDelays = false;
    bool stopOnMismatch = false;
};

// One burst of the unit and what must come before it.
struct ReplayStep {
    size_t hostTokens = 0;  // host pairs and frames seen before it
    Clock::duration pause{};
    std::vector<uint8_t> bytes;
};

struct ReplayScript {
    std::vector<ReplayStep> steps;
    std::vector<rslink::analysis::LineToken> hostTokens;  // what the host sent, in order
};

// The unit's bursts of device 0 (the console's own port) and the host's
// pairs and frames, from a parsed capture.
ReplayScript buildReplayScript(const std::vector<rslink::capture::Record> &records);

// Whether two request texts are the same, leaving out the date and time
// bytes of "Log All Clear" and of the download's time frame.
bool sameRequest(std::span<const uint8_t> recorded, std::span<const uint8_t> live);

class Replay {
public:
    Replay(ReplayScript script, ReplayOptions options, LineOutput &out,
           std::function<void(const std::string &)> report);

    void onByte(uint8_t byte, TimePoint now);
    void onTime(TimePoint now);
    TimePoint nextDeadline() const;
    // The host opened or closed the line.
    void reset(TimePoint now);

    // Stopped on a mismatch (with stopOnMismatch).
    bool stopped() const { return stopped_; }
    bool finished() const { return next_ >= script_.steps.size(); }
    unsigned mismatches() const { return mismatches_; }

private:
    void took(const rslink::analysis::LineToken &token, TimePoint now);

    ReplayScript script_;
    ReplayOptions options_;
    LineOutput &out_;
    std::function<void(const std::string &)> report_;
    rslink::analysis::LineSplitter splitter_;
    size_t hostSeen_ = 0;
    size_t next_ = 0;
    TimePoint since_{};  // the last event the next pause counts from
    bool stopped_ = false;
    bool endReported_ = false;
    unsigned mismatches_ = 0;
};

}  // namespace bdusim
