#include "valdor/monitor/line_monitor.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "rslink/core/frame.h"
#include "rslink/core/hex.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/memory_panel.h"
#include "valdor/records/decode.h"
#include "valdor/responses/response_decoder.h"

namespace valdor::monitor {
namespace {

using rslink::core::spacedHex;

Direction other(Direction d) {
    return d == Direction::HostToUnit ? Direction::UnitToHost : Direction::HostToUnit;
}

const char *sideName(Direction d) { return d == Direction::HostToUnit ? "host" : "unit"; }

}  // namespace

std::string formatEvent(const MonitorEvent &e) {
    char head[48];
    std::snprintf(head, sizeof head, "%12" PRIu64 " %s ", e.micros,
                  e.direction == Direction::HostToUnit ? "host>unit" : "unit>host");
    return head + e.text;
}

std::string requestParameters(std::span<const uint8_t> text) {
    // 60 code count params 1C, or 60 code FF c c c params 1C; the two short
    // requests 00 code 1C have none.
    size_t first = 0;
    if (text.size() >= 3 && text[0] == 0x60) first = text[2] == 0xFF ? 6 : 3;
    if (first == 0 || text.size() <= first) return "";
    size_t end = text.size();
    if (text[end - 1] == 0x1C) --end;
    return end > first ? spacedHex(text.subspan(first, end - first)) : "";
}

std::string responseFields(std::span<const uint8_t> text) {
    // A panel of its own for each response, so that only what this response
    // set is shown, not what an earlier one left in the window.
    MemoryPanel panel;
    showResponse(panel, text);
    std::string out;
    auto add = [&](int id, const std::string &value) {
        if (!out.empty()) out += " | ";
        out += "@" + std::to_string(id) + " " + value;
    };
    for (int id = ctl::FirstResponseField; id <= ctl::LastResponseField; ++id)
        if (const std::string value = panel.text(id); !value.empty()) add(id, value);
    for (int id = ctl::FirstIndicator; id <= ctl::LastIndicator; ++id)
        if (ctl::isIndicator(id) && panel.checked(id)) add(id, "on");
    return out;
}

void LineMonitor::emit(uint64_t micros, Direction d, std::string text) {
    sink_(MonitorEvent{micros, d, std::move(text)});
}

std::vector<LineMonitor::Token> LineMonitor::split(Direction d, uint64_t micros,
                                                   std::span<const uint8_t> bytes) {
    // The splitter hands back the label of the burst a token started in;
    // the read's time is that label.
    std::vector<Token> tokens;
    side(d).splitter.feed(bytes, static_cast<size_t>(micros), tokens);
    return tokens;
}

void LineMonitor::feed(uint64_t micros, Direction d, std::span<const uint8_t> bytes) {
    for (const Token &t : split(d, micros, bytes)) take(d, t);
}

// Both inputs had bytes at one wake-up, so their times say nothing about
// which came first.  The line is half duplex, so the protocol tells: a token
// that answers what the other side is waiting for goes first; then one that
// starts something (a bid, noise); what fits nowhere goes last, the host's
// first.  That restores every exchange of the protocol; only a contention
// (both bid at once) has no true order, and shows the host's bid first.
int LineMonitor::rank(Direction d, const Token &t) const {
    const Side &self = side(d);
    const Side &peer = side(other(d));
    const bool peerWaits = peer.bidAt.has_value() || peer.frameWaiting;
    switch (t.kind) {
        case Token::Kind::Noise:
            return 1;
        case Token::Kind::Frame:
            return self.granted ? 0 : 2;
        case Token::Kind::Control:
            if (t.control == rslink::ENQ) return peer.frameWaiting ? 0 : 1;
            return peerWaits ? 0 : 2;
    }
    return 2;
}

void LineMonitor::feedTogether(uint64_t micros, std::span<const uint8_t> hostToUnit,
                               std::span<const uint8_t> unitToHost) {
    std::vector<Token> h = split(Direction::HostToUnit, micros, hostToUnit);
    std::vector<Token> u = split(Direction::UnitToHost, micros, unitToHost);
    size_t hi = 0, ui = 0;
    while (hi < h.size() || ui < u.size()) {
        const bool hostFirst = ui >= u.size() ||
                               (hi < h.size() && rank(Direction::HostToUnit, h[hi]) <=
                                                     rank(Direction::UnitToHost, u[ui]));
        if (hostFirst)
            take(Direction::HostToUnit, h[hi++]);
        else
            take(Direction::UnitToHost, u[ui++]);
    }
}

void LineMonitor::tick(uint64_t micros) {
    for (Direction d : {Direction::HostToUnit, Direction::UnitToHost}) {
        Side &s = side(d);
        if (s.bidAt && micros >= *s.bidAt + kBidAnswerMicros) {
            emit(*s.bidAt + kBidAnswerMicros, d, "event bid unanswered for 4.5 s");
            s.bidAt.reset();
        }
    }
}

void LineMonitor::finish(uint64_t micros) {
    for (Direction d : {Direction::HostToUnit, Direction::UnitToHost}) {
        std::vector<Token> rest;
        side(d).splitter.finish(rest);
        for (const Token &t : rest) take(d, t);
    }
    tick(micros);
}

std::optional<uint64_t> LineMonitor::nextDeadline() const {
    std::optional<uint64_t> at;
    for (const Side *s : {&host_, &unit_})
        if (s->bidAt) at = std::min(at.value_or(UINT64_MAX), *s->bidAt + kBidAnswerMicros);
    return at;
}

void LineMonitor::take(Direction d, const Token &t) {
    const auto at = static_cast<uint64_t>(t.burst);
    tick(at);  // a bid that ran out before this token did so first
    if (bytes_) bytes_(at, d, t.raw);
    switch (t.kind) {
        case Token::Kind::Noise:
            emit(at, d, "noise " + std::to_string(t.raw.size()) + (t.raw.size() == 1 ? " byte: " : " bytes: ") +
                            spacedHex(t.raw));
            return;
        case Token::Kind::Control:
            control(d, at, t.control);
            return;
        case Token::Kind::Frame:
            frame(d, t);
            return;
    }
}

void LineMonitor::control(Direction d, uint64_t at, uint8_t code) {
    Side &self = side(d);
    Side &peer = side(other(d));
    switch (code) {
        case rslink::ENQ:
            if (peer.frameWaiting) {
                // The host takes a DLE ENQ in place of the acknowledgement.
                peer.frameWaiting = false;
                emit(at, d, "DLE ENQ acknowledgement (taken as DLE ACK)");
                return;
            }
            if (self.bidAt && !peer.bidAt) {
                // A side bids again only when its last bid ran out; on the
                // bidder's own clock that was 4.5 s, on ours a little less
                // when the first bid reached us late.
                emit(std::min(at, *self.bidAt + kBidAnswerMicros), d, "event bid unanswered for 4.5 s");
                self.bidAt.reset();
            }
            emit(at, d, "DLE ENQ bid");
            if (peer.bidAt) {
                // Both bids lapse: the host yields and waits for the unit
                // to bid again, and grants that one.
                emit(at, d, std::string("event contention: the ") + sideName(d) + " bids while the " +
                                sideName(other(d)) + "'s bid waits for its answer");
                peer.bidAt.reset();
                return;
            }
            self.bidAt = at;
            return;
        case rslink::ACK:
            if (peer.bidAt) {
                peer.bidAt.reset();
                peer.granted = true;
                emit(at, d, "DLE ACK grant");
            } else if (peer.frameWaiting) {
                peer.frameWaiting = false;
                peer.refusedFrame.clear();
                emit(at, d, "DLE ACK acknowledgement");
            } else {
                emit(at, d, "DLE ACK (answers nothing)");
            }
            return;
        case rslink::NAK:
            if (peer.bidAt) {
                peer.bidAt.reset();
                emit(at, d, "DLE NAK refusal of the bid");
            } else if (peer.frameWaiting) {
                peer.frameWaiting = false;
                peer.granted = true;  // it sends the frame again without a new bid
                if (peer.refusedFrame != peer.lastFrame) {
                    peer.refusedFrame = peer.lastFrame;
                    peer.tries = 1;
                }
                emit(at, d, "DLE NAK refusal of the frame");
            } else {
                emit(at, d, "DLE NAK (answers nothing)");
            }
            return;
        default:
            return;
    }
}

void LineMonitor::frame(Direction d, const Token &t) {
    const auto at = static_cast<uint64_t>(t.burst);
    Side &self = side(d);
    self.bidAt.reset();  // a frame ends its side's bid, granted or not
    self.granted = false;
    char check[64];
    if (t.good())
        std::snprintf(check, sizeof check, " (check code %04X good)", t.checkCode);
    else
        std::snprintf(check, sizeof check, " (check code %04X bad, %04X expected)", t.checkCode,
                      t.computed);
    std::string line = "frame " + spacedHex(t.text) + check;
    if (!t.good()) {
        line += "; not taken";
    } else if (d == Direction::HostToUnit) {
        const std::string_view name = records::requestName(t.text);
        const std::string params = requestParameters(t.text);
        line += "; request " + (name.empty() ? std::string("(not a request of this console)") : std::string(name)) +
                (params.empty() ? "" : ", parameters " + params);
    } else {
        line += "; response " + responseFields(t.text);
    }
    emit(at, d, std::move(line));

    const bool again = !self.refusedFrame.empty() && self.refusedFrame == t.text;
    if (again) {
        ++self.tries;
        emit(at, d, "event frame sent again after a refusal (try " + std::to_string(self.tries) + ")");
    } else {
        self.refusedFrame.clear();
        self.tries = 0;
    }
    self.lastFrame = t.text;
    self.frameWaiting = true;
}

}  // namespace valdor::monitor
