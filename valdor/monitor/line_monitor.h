// Watches both directions of a live line and says what went over it, one
// event a line: control pairs by their meaning (bid, grant, acknowledgement,
// refusal), frames with their check-code verdict, requests by name with
// their parameters, responses field by field, and the protocol's own
// events (contention, a bid left unanswered, a frame sent again after a
// refusal, noise).  Pure: bytes and times in, events out; the tap and the
// relay feed it, and so do the tests.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "rslink/analysis/line_tokens.h"
#include "rslink/core/capture_format.h"

namespace valdor::monitor {

using Direction = rslink::capture::Direction;

struct MonitorEvent {
    uint64_t micros = 0;  // since the monitor started
    Direction direction = Direction::HostToUnit;
    std::string text;
};

// "     1234567 host>unit DLE ENQ bid"
std::string formatEvent(const MonitorEvent &event);

class LineMonitor {
public:
    // How long a bid waits for its answer before the bidder gives up on it.
    static constexpr uint64_t kBidAnswerMicros = 4500000;

    using Sink = std::function<void(const MonitorEvent &)>;
    // Every pair, frame and noise as it went, in the order the events show
    // them: what a capture of the watched line records.
    using BytesSink = std::function<void(uint64_t micros, Direction, std::span<const uint8_t>)>;
    explicit LineMonitor(Sink sink, BytesSink bytes = {}) : sink_(std::move(sink)), bytes_(std::move(bytes)) {}

    // Bytes one direction carried, read at `micros`.
    void feed(uint64_t micros, Direction direction, std::span<const uint8_t> bytes);
    // Bytes of both directions that one wake-up found together, so their
    // times cannot order them: the protocol does (see rank() in the source).
    void feedTogether(uint64_t micros, std::span<const uint8_t> hostToUnit,
                      std::span<const uint8_t> unitToHost);
    // The time has come to `micros` with nothing read: reports bids that
    // are now overdue.
    void tick(uint64_t micros);
    // Whatever is left unfinished, as noise; overdue bids up to `micros`.
    void finish(uint64_t micros);
    // When tick() next has something to report.
    std::optional<uint64_t> nextDeadline() const;

private:
    using Token = rslink::analysis::LineToken;
    struct Side {
        rslink::analysis::LineSplitter splitter;
        std::optional<uint64_t> bidAt;         // a bid not answered yet
        bool granted = false;                  // its bid granted, its frame not sent yet
        bool frameWaiting = false;             // a frame not acknowledged yet
        std::vector<uint8_t> lastFrame;        // its text
        std::vector<uint8_t> refusedFrame;     // the text the other side refused
        unsigned tries = 0;                    // sends of refusedFrame so far
    };

    Side &side(Direction d) { return d == Direction::HostToUnit ? host_ : unit_; }
    const Side &side(Direction d) const { return d == Direction::HostToUnit ? host_ : unit_; }
    // Which of two tokens read together goes first: the lower rank.
    int rank(Direction d, const Token &t) const;
    std::vector<Token> split(Direction d, uint64_t micros, std::span<const uint8_t> bytes);
    void take(Direction d, const Token &token);
    void control(Direction d, uint64_t at, uint8_t code);
    void frame(Direction d, const Token &token);
    void emit(uint64_t micros, Direction d, std::string text);

    Sink sink_;
    BytesSink bytes_;
    Side host_, unit_;
};

// The request's parameters as hex ("" when it has none).
std::string requestParameters(std::span<const uint8_t> text);
// The fields a response sets, "@NNNN TEXT" joined by " | ", and the lit
// indicators as "@NNNN on".
std::string responseFields(std::span<const uint8_t> text);

}  // namespace valdor::monitor
