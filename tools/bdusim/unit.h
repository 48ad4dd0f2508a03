// The unit's answers: one response text for each request text, built from
// the data of unit_data.h, with the negative responses the options ask for.
// No I/O here; lines for standard output go to a callback.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/bdusim/download_check.h"

namespace bdusim {

// Answer requests of one command code negatively: every one, or only the
// nth (counting from 1) since the start.
struct NegativeRule {
    uint8_t code = 0;
    unsigned nth = 0;                 // 0: every request of the code
    uint8_t dh0 = 0;                  // 0: the default negative code
    std::optional<ErrorCode> error;   // none: a plausible code for the command
};

struct NegativeOptions {
    std::vector<NegativeRule> rules;
    std::vector<std::pair<int, int>> oplogBlocks;   // (section, block)
    std::vector<unsigned> downloadFrames;           // nth download frame, from 1
};

// What the unit remembers between requests (see unit_data.h).
struct UnitMemory {
    std::array<std::array<uint32_t, 13>, 6> logCounters{};  // [cassette][row - 1]
    std::array<uint8_t, 40> logMessage{};
    std::array<uint8_t, 40> userSetting{};
    DownloadChecker download;
    UnitMemory();
};

class Unit {
public:
    using LineSink = std::function<void(const std::string &)>;

    Unit(NegativeOptions negative, bool traceRequests, LineSink out);

    // The response to one request text taken off the line.
    std::vector<uint8_t> answer(std::span<const uint8_t> request);

    // A status response sent on the unit's own account, in the layout of the
    // last request (basic before any).
    std::vector<uint8_t> unsolicitedStatus() const;

private:
    std::optional<NegativeRule> forcedNegative(std::span<const uint8_t> request, uint8_t code,
                                               bool enhanced);

    NegativeOptions negative_;
    bool traceRequests_;
    LineSink out_;
    UnitMemory memory_;
    std::array<unsigned, 256> requestsOfCode_{};
    unsigned downloadFrames_ = 0;
    bool lastEnhanced_ = false;
};

}  // namespace bdusim
