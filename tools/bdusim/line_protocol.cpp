#include "tools/bdusim/line_protocol.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <ostream>

#include "rslink/core/frame.h"

namespace bdusim {

using rslink::ACK;
using rslink::DLE;
using rslink::ENQ;
using rslink::ETX;
using rslink::NAK;
using rslink::STX;
using S = LineProtocol::State;

constexpr LineProtocol::StateRow LineProtocol::kStates[static_cast<size_t>(State::COUNT)] = {
    {S::U_IDLE, "U_IDLE", &LineProtocol::idleByte, &LineProtocol::noTimeout},
    {S::U_HOST_DLE, "U_HOST_DLE", &LineProtocol::hostDleByte, &LineProtocol::backToIdle},
    {S::U_RECV_WAIT_DLE, "U_RECV_WAIT_DLE", &LineProtocol::recvWaitDleByte, &LineProtocol::backToIdle},
    {S::U_RECV_WAIT_CONTROL, "U_RECV_WAIT_CONTROL", &LineProtocol::recvWaitControlByte, &LineProtocol::rejectFrame},
    {S::U_RECV_LEN_HIGH, "U_RECV_LEN_HIGH", &LineProtocol::lenHighByte, &LineProtocol::rejectFrame},
    {S::U_RECV_LEN_LOW, "U_RECV_LEN_LOW", &LineProtocol::lenLowByte, &LineProtocol::rejectFrame},
    {S::U_RECV_TEXT, "U_RECV_TEXT", &LineProtocol::textByte, &LineProtocol::rejectFrame},
    {S::U_RECV_TEXT_DLE, "U_RECV_TEXT_DLE", &LineProtocol::textDleByte, &LineProtocol::rejectFrame},
    {S::U_RECV_TEXT_ETX, "U_RECV_TEXT_ETX", &LineProtocol::textEtxByte, &LineProtocol::rejectFrame},
    {S::U_RECV_CRC_LOW, "U_RECV_CRC_LOW", &LineProtocol::crcLowByte, &LineProtocol::rejectFrame},
    {S::U_RECV_CRC_HIGH, "U_RECV_CRC_HIGH", &LineProtocol::crcHighByte, &LineProtocol::rejectFrame},
    {S::U_CONTEND, "U_CONTEND", &LineProtocol::ignoreByte, &LineProtocol::bidAgain},
    {S::U_BID_WAIT_DLE, "U_BID_WAIT_DLE", &LineProtocol::bidWaitDleByte, &LineProtocol::bidUnanswered},
    {S::U_BID_WAIT_REPLY, "U_BID_WAIT_REPLY", &LineProtocol::bidWaitReplyByte, &LineProtocol::bidUnanswered},
    {S::U_ACK_WAIT_DLE, "U_ACK_WAIT_DLE", &LineProtocol::ackWaitDleByte, &LineProtocol::frameUnanswered},
    {S::U_ACK_WAIT_REPLY, "U_ACK_WAIT_REPLY", &LineProtocol::ackWaitReplyByte, &LineProtocol::frameUnanswered},
};

// Row i describes state i, and every state has a name and both handlers.
constexpr bool LineProtocol::rowsInOrder() {
    for (size_t i = 0; i < std::size(kStates); ++i) {
        const StateRow &row = kStates[i];
        if (row.state != static_cast<State>(i) || row.name == nullptr || row.onByte == nullptr ||
            row.onTimeout == nullptr)
            return false;
    }
    return true;
}

const char *LineProtocol::stateName(State state) {
    static_assert(std::size(kStates) == static_cast<size_t>(S::COUNT));
#ifndef VALDOR_NO_CONSTEXPR_TABLE_CHECKS
    static_assert(rowsInOrder(), "one row per state, in order");
#endif
    const auto i = static_cast<size_t>(state);
    return i < std::size(kStates) ? kStates[i].name : "U_?";
}

std::ostream &operator<<(std::ostream &out, LineProtocol::State state) {
    return out << LineProtocol::stateName(state);
}

LineProtocol::LineProtocol(const LineFaults &faults, LineOutput &output, LineHooks hooks)
    : faults_(faults),
      output_(output),
      hooks_(std::move(hooks)),
      nakFramesLeft_(faults.nakFrames),
      badCrcLeft_(faults.badCrc),
      contendLeft_(faults.contend) {}

// ---- Driving ---------------------------------------------------------------

void LineProtocol::onByte(uint8_t byte, TimePoint now) {
    if (faults_.silent || hungUp_) return;
    lastActivity_ = now;
    std::invoke(kStates[static_cast<size_t>(state_)].onByte, this, byte, now);
}

void LineProtocol::onTime(TimePoint now) {
    if (faults_.silent || hungUp_) return;
    // A time-out may leave the unit idle with a response due at once, so
    // go round until nothing more is due.
    for (int round = 0; round < 4; ++round) {
        if (state_ == S::U_IDLE) {
            idleTick(now);
            if (state_ == S::U_IDLE) return;
        } else if (now >= deadline_) {
            deadline_ = TimePoint::max();
            std::invoke(kStates[static_cast<size_t>(state_)].onTimeout, this, now);
        } else {
            return;
        }
    }
}

TimePoint LineProtocol::nextDeadline() const {
    if (faults_.silent || hungUp_) return TimePoint::max();
    if (state_ != S::U_IDLE) return deadline_;
    if (!outgoing_.empty()) return outgoing_.front().due;
    return unsolicitedDue();
}

void LineProtocol::reset(TimePoint now) {
    outgoing_.clear();
    text_.clear();
    bidsTried_ = 0;
    frameSends_ = 0;
    enqAckBid_ = false;
    justContended_ = false;
    enter(S::U_IDLE, now);
}

void LineProtocol::enter(State state, TimePoint now, TimePoint deadline) {
    state_ = state;
    deadline_ = deadline;
    if (state == S::U_IDLE) lastActivity_ = now;
}

// ---- Idle -------------------------------------------------------------------

TimePoint LineProtocol::unsolicitedDue() const {
    if (faults_.unsolicited.count() <= 0) return TimePoint::max();
    return lastActivity_ + faults_.unsolicited;
}

void LineProtocol::idleTick(TimePoint now) {
    if (outgoing_.empty() && now >= unsolicitedDue()) queue(hooks_.unsolicited(), now);
    if (!outgoing_.empty() && now >= outgoing_.front().due) bid(now);
}

void LineProtocol::idleByte(uint8_t byte, TimePoint now) {
    if (byte == DLE) enter(S::U_HOST_DLE, now, now + kReceiveWait);
}

void LineProtocol::hostDleByte(uint8_t byte, TimePoint now) {
    if (byte == ENQ) answerBid(now);
    else enter(S::U_IDLE, now);
}

void LineProtocol::noTimeout(TimePoint) {}

void LineProtocol::backToIdle(TimePoint now) { enter(S::U_IDLE, now); }

void LineProtocol::ignoreByte(uint8_t, TimePoint) {}

// ---- Taking the host's frame --------------------------------------------------

void LineProtocol::answerBid(TimePoint now) {
    if (hangUpNow(HangUpPoint::BID, hostBids_)) return;
    if (faults_.nakBids) {
        sendControl(NAK, now);
        enter(S::U_IDLE, now);
        return;
    }
    if (contendLeft_ > 0 && !justContended_) {
        // Bid back instead of granting; the host yields and waits for a
        // second bid, which follows after a short pause.
        --contendLeft_;
        justContended_ = true;
        if (outgoing_.empty()) queue(hooks_.unsolicited(), now);
        const TimePoint sent = sendControl(ENQ, now);
        enter(S::U_CONTEND, now, sent + kContendPause);
        return;
    }
    justContended_ = false;
    grant(now);
}

void LineProtocol::grant(TimePoint now) {
    const TimePoint sent = sendControl(ACK, now);
    enter(S::U_RECV_WAIT_DLE, now, sent + kReceiveWait);
}

void LineProtocol::recvWaitDleByte(uint8_t byte, TimePoint now) {
    if (byte == DLE) enter(S::U_RECV_WAIT_CONTROL, now, now + kReceiveWait);
}

void LineProtocol::recvWaitControlByte(uint8_t byte, TimePoint now) {
    if (byte == STX) {
        text_.clear();
        crc_ = 0;
        receivedCrc_ = 0;
        enter(S::U_RECV_LEN_HIGH, now, now + kReceiveWait);
    } else if (byte == ENQ) {
        grant(now);  // the host missed the grant and bids again
    } else {
        enter(S::U_RECV_WAIT_DLE, now, now + kReceiveWait);
    }
}

void LineProtocol::lenHighByte(uint8_t byte, TimePoint now) {
    crc_ = rslink::crcUpdate(crc_, byte);
    length_ = static_cast<size_t>(byte) << 8;
    enter(S::U_RECV_LEN_LOW, now, now + kReceiveWait);
}

void LineProtocol::lenLowByte(uint8_t byte, TimePoint now) {
    crc_ = rslink::crcUpdate(crc_, byte);
    length_ += byte;
    if (length_ == 0 || length_ > kMaxText) {
        hooks_.note("refused a frame with a text length of " + std::to_string(length_));
        rejectFrame(now);
        return;
    }
    text_.reserve(length_);
    enter(S::U_RECV_TEXT, now, now + kReceiveWait);
}

void LineProtocol::textByte(uint8_t byte, TimePoint now) {
    crc_ = rslink::crcUpdate(crc_, byte);
    text_.push_back(byte);
    enter(text_.size() == length_ ? S::U_RECV_TEXT_DLE : S::U_RECV_TEXT, now, now + kReceiveWait);
}

void LineProtocol::textDleByte(uint8_t byte, TimePoint now) {
    if (byte != DLE) return rejectFrame(now);
    crc_ = rslink::crcUpdate(crc_, byte);
    enter(S::U_RECV_TEXT_ETX, now, now + kReceiveWait);
}

void LineProtocol::textEtxByte(uint8_t byte, TimePoint now) {
    if (byte != ETX) return rejectFrame(now);
    crc_ = rslink::crcUpdate(crc_, byte);
    enter(S::U_RECV_CRC_LOW, now, now + kReceiveWait);
}

void LineProtocol::crcLowByte(uint8_t byte, TimePoint now) {
    receivedCrc_ = byte;
    enter(S::U_RECV_CRC_HIGH, now, now + kReceiveWait);
}

void LineProtocol::crcHighByte(uint8_t byte, TimePoint now) {
    receivedCrc_ |= static_cast<uint16_t>(byte << 8);
    if (nakFramesLeft_ > 0) {
        --nakFramesLeft_;
        return rejectFrame(now);
    }
    if (receivedCrc_ != crc_) {
        hooks_.note("bad check code on a frame of " + std::to_string(length_) + " bytes");
        return rejectFrame(now);
    }
    acceptFrame(now);
}

// DLE NAK, then wait for the host to send the frame again.
void LineProtocol::rejectFrame(TimePoint now) {
    const TimePoint sent = sendControl(NAK, now);
    enter(S::U_RECV_WAIT_DLE, now, sent + kReceiveWait);
}

void LineProtocol::acceptFrame(TimePoint now) {
    if (faults_.enqAck) {
        // The host takes DLE ENQ as the acknowledgement and does not grant
        // it; wait briefly in case it does, then bid in earnest.
        const TimePoint sent = sendControl(ENQ, now);
        queue(hooks_.answer(text_), sent + faults_.delay);
        enqAckBid_ = true;
        enter(S::U_BID_WAIT_DLE, now, sent + kEnqAckWait);
        return;
    }
    const TimePoint sent = sendControl(ACK, now);
    if (hangUpNow(HangUpPoint::REQUEST, requestsTaken_)) return;
    queue(hooks_.answer(text_), sent + faults_.delay);
    enter(S::U_IDLE, now);
}

// ---- Sending the unit's frames -------------------------------------------------

void LineProtocol::queue(std::vector<uint8_t> text, TimePoint due) {
    const bool corrupt = badCrcLeft_ > 0;
    if (corrupt) --badCrcLeft_;
    outgoing_.push_back({std::move(text), due, corrupt});
}

void LineProtocol::bid(TimePoint now) {
    ++bidsTried_;
    enqAckBid_ = false;
    const TimePoint sent = sendControl(ENQ, now);
    enter(S::U_BID_WAIT_DLE, now, sent + kGrantWait);
}

void LineProtocol::bidAgain(TimePoint now) { bid(now); }

void LineProtocol::bidWaitDleByte(uint8_t byte, TimePoint now) {
    if (byte == DLE) enter(S::U_BID_WAIT_REPLY, now, deadline_);
}

void LineProtocol::bidWaitReplyByte(uint8_t byte, TimePoint now) {
    if (byte == ACK) {
        enqAckBid_ = false;
        if (outgoing_.empty()) queue(hooks_.unsolicited(), now);
        sendFrame(now);
    } else if (byte == ENQ) {
        // The host bid at the same moment: it yields to a second bid.
        --bidsTried_;
        bid(now);
    } else if (byte == NAK) {
        bidUnanswered(now);
    } else {
        enter(S::U_BID_WAIT_DLE, now, deadline_);
    }
}

void LineProtocol::bidUnanswered(TimePoint now) {
    if (outgoing_.empty()) return enter(S::U_IDLE, now);
    if (enqAckBid_) {
        enqAckBid_ = false;  // no grant was coming: bid in earnest when the response is due
    } else if (bidsTried_ >= kMaxBids) {
        return dropHead("the host granted none of its bids", now);
    } else {
        outgoing_.front().due = now + kBidRetryPause;
    }
    enter(S::U_IDLE, now);
}

TimePoint LineProtocol::sendFrame(TimePoint now) {
    Outgoing &head = outgoing_.front();
    std::vector<uint8_t> frame(head.text.size() + rslink::kFrameOverhead);
    const size_t size = rslink::buildFrame(head.text.data(), head.text.size(), frame.data());
    frame.resize(size);
    if (head.corrupt) {
        frame[size - 2] ^= 0x5A;
        head.corrupt = false;
    }
    const bool firstSending = frameSends_++ == 0;
    std::vector<uint8_t> burst;
    for (unsigned i = 0; i < faults_.noise; ++i) burst.push_back(noiseByte());
    burst.insert(burst.end(), frame.begin(), frame.end());
    if (firstSending && hangUpNow(HangUpPoint::RESPONSE, responsesSent_)) {
        burst.resize(burst.size() - frame.size() / 2);
        return output_.send(burst, now);
    }
    const TimePoint sent = output_.send(burst, now);
    enter(S::U_ACK_WAIT_DLE, now, sent + kAckWait);
    return sent;
}

void LineProtocol::ackWaitDleByte(uint8_t byte, TimePoint now) {
    if (byte == DLE) enter(S::U_ACK_WAIT_REPLY, now, deadline_);
}

void LineProtocol::ackWaitReplyByte(uint8_t byte, TimePoint now) {
    if (byte == ACK) {
        delivered(now);
    } else if (byte == ENQ) {
        delivered(now);  // a bid where the acknowledgement belongs counts as one
        answerBid(now);
    } else if (byte == NAK) {
        if (frameSends_ >= kMaxFrameSends) return dropHead("the host refused it every time", now);
        sendFrame(now);
    } else {
        enter(S::U_ACK_WAIT_DLE, now, deadline_);
    }
}

void LineProtocol::frameUnanswered(TimePoint now) {
    if (frameSends_ >= kMaxFrameSends) return dropHead("the host never acknowledged it", now);
    outgoing_.front().due = now;  // begin again with a bid
    enter(S::U_IDLE, now);
}

void LineProtocol::delivered(TimePoint now) {
    hooks_.delivered(outgoing_.front().text);
    outgoing_.pop_front();
    bidsTried_ = 0;
    frameSends_ = 0;
    enter(S::U_IDLE, now);
}

void LineProtocol::dropHead(const char *why, TimePoint now) {
    hooks_.note(std::string("dropped a response: ") + why);
    outgoing_.pop_front();
    bidsTried_ = 0;
    frameSends_ = 0;
    enter(S::U_IDLE, now);
}

// ---- Writing ------------------------------------------------------------------

TimePoint LineProtocol::sendControl(uint8_t control, TimePoint now) {
    std::vector<uint8_t> burst;
    for (unsigned i = 0; i < faults_.noise; ++i) burst.push_back(noiseByte());
    burst.push_back(DLE);
    burst.push_back(control);
    return output_.send(burst, now);
}

// Counts one more of `point`'s events; at the chosen one the unit stops
// answering and asks to end.
bool LineProtocol::hangUpNow(HangUpPoint point, unsigned &seen) {
    if (faults_.hangUpAt != point || ++seen != faults_.hangUpNth) return false;
    hungUp_ = true;
    hooks_.note("hanging up");
    if (hooks_.hangUp) hooks_.hangUp();
    return true;
}

// Noise is never DLE, so it cannot be taken for the start of a pair.
uint8_t LineProtocol::noiseByte() {
    noiseSeed_ = noiseSeed_ * 1103515245u + 12345u;
    const auto byte = static_cast<uint8_t>(noiseSeed_ >> 16);
    return byte == DLE ? static_cast<uint8_t>(0x55) : byte;
}

}  // namespace bdusim
