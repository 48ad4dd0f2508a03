#include "tools/bdusim/replay.h"

#include <algorithm>
#include <cstdio>

#include "rslink/core/hex.h"

namespace bdusim {
namespace {

namespace cap = rslink::capture;
using rslink::analysis::LineToken;
using rslink::core::spacedHex;

bool counts(const LineToken &t) { return t.kind != LineToken::Kind::Noise; }

// The run of date and time bytes a request carries, as [first, end).
std::pair<size_t, size_t> dateBytes(std::span<const uint8_t> t) {
    if (t.size() < 4 || t[0] != 0x60) return {0, 0};
    const bool enhanced = t[2] == 0xFF;
    if (t[1] == 0x12) {
        // "Log All Clear": mode 3, "Log clear date : ", then the date and time.
        const size_t mode = enhanced ? 6 : 3;
        if (t.size() > mode && t[mode] == 0x03) return {mode + 18, mode + 37};
    }
    if (t[1] == 0xD4) return {18, 32};  // the download's time frame: year to second
    return {0, 0};
}

}  // namespace

ReplayScript buildReplayScript(const std::vector<cap::Record> &records) {
    ReplayScript script;
    rslink::analysis::LineSplitter host;
    uint64_t since = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const cap::Record &r = records[i];
        if (r.device != 0) continue;
        if (r.type == cap::RecordType::Open) since = r.micros;
        if (r.type != cap::RecordType::Burst) continue;
        if (r.direction == cap::Direction::HostToUnit) {
            std::vector<LineToken> tokens;
            host.feed(r.bytes, i, tokens);
            for (auto &t : tokens)
                if (counts(t)) script.hostTokens.push_back(std::move(t));
            since = r.micros;
            continue;
        }
        const uint64_t pause = r.micros > since ? r.micros - since : 0;
        script.steps.push_back({script.hostTokens.size(), std::chrono::microseconds(pause), r.bytes});
        since = r.micros;
    }
    return script;
}

bool sameRequest(std::span<const uint8_t> recorded, std::span<const uint8_t> live) {
    if (recorded.size() != live.size()) return false;
    const auto [first, end] = dateBytes(recorded);
    for (size_t i = 0; i < recorded.size(); ++i)
        if ((i < first || i >= end) && recorded[i] != live[i]) return false;
    return true;
}

Replay::Replay(ReplayScript script, ReplayOptions options, LineOutput &out,
               std::function<void(const std::string &)> report)
    : script_(std::move(script)), options_(options), out_(out), report_(std::move(report)) {}

void Replay::reset(TimePoint now) {
    splitter_ = {};
    since_ = now;
}

void Replay::onByte(uint8_t byte, TimePoint now) {
    if (stopped_) return;
    std::vector<LineToken> tokens;
    splitter_.feed({&byte, 1}, 0, tokens);
    for (const LineToken &t : tokens)
        if (counts(t)) took(t, now);
}

void Replay::took(const LineToken &token, TimePoint now) {
    const size_t index = hostSeen_++;
    since_ = now;
    if (token.kind != LineToken::Kind::Frame) return;
    if (index >= script_.hostTokens.size()) {
        ++mismatches_;
        report_("replay: request after the end of the recording: " + spacedHex(token.text));
    } else {
        const LineToken &recorded = script_.hostTokens[index];
        if (recorded.kind == LineToken::Kind::Frame && sameRequest(recorded.text, token.text)) return;
        ++mismatches_;
        report_("replay: the host's frame " + std::to_string(index + 1) +
                " differs from the recording\n  recorded: " +
                (recorded.kind == LineToken::Kind::Frame ? spacedHex(recorded.text) : "(" + spacedHex(recorded.raw) + ")") +
                "\n  live:     " + spacedHex(token.text));
    }
    if (options_.stopOnMismatch) {
        stopped_ = true;
        report_("replay: stopped at the first difference");
    }
}

TimePoint Replay::nextDeadline() const {
    if (stopped_ || finished()) return TimePoint::max();
    const ReplayStep &step = script_.steps[next_];
    if (hostSeen_ < step.hostTokens) return TimePoint::max();
    return options_.noDelays ? since_ : since_ + step.pause;
}

void Replay::onTime(TimePoint now) {
    while (!stopped_ && !finished() && nextDeadline() <= now) {
        const ReplayStep &step = script_.steps[next_++];
        out_.send(step.bytes, now);
        since_ = now;
    }
    if (finished() && !endReported_) {
        endReported_ = true;
        report_("replay: the end of the recording");
    }
}

}  // namespace bdusim
