// The unit's side of the line protocol: grants the host's bids, takes its
// frames, bids for the line with each response and sends it, with the faults
// the options ask for.  Fed one byte or one moment at a time; it writes
// through a LineOutput and does no I/O of its own.
//
// Recovery: a host frame broken off or damaged is answered DLE NAK and taken
// again; the unit's own bid or frame left unanswered is tried again a bounded
// number of times, then the response is dropped; a wait for the host that
// runs out puts the unit back to idle.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

namespace bdusim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Millis = std::chrono::milliseconds;

// Where the unit hangs up (ends, as a pulled adapter vanishes).
enum class HangUpPoint {
    NEVER,
    BID,       // on the host's Nth bid, leaving it unanswered
    REQUEST,   // just after acknowledging the Nth request, before its response
    RESPONSE,  // half way through the first sending of the Nth response frame
};

// Faults to play, all off by default.
struct LineFaults {
    bool silent = false;        // answer nothing at all
    bool nakBids = false;       // DLE NAK to every bid of the host
    bool enqAck = false;        // DLE ENQ instead of DLE ACK after a good frame
    unsigned nakFrames = 0;     // NAK the first n frames
    unsigned badCrc = 0;        // send the first n response frames once with a wrong check code
    unsigned contend = 0;       // answer n bids of the host with a bid of the unit's own
    unsigned noise = 0;         // noise bytes before each DLE that opens a pair or a frame
    Millis delay{0};            // before each response
    Millis unsolicited{0};      // a status response after this long idle (0: never)
    HangUpPoint hangUpAt = HangUpPoint::NEVER;
    unsigned hangUpNth = 0;     // counted from 1
};

class LineOutput {
public:
    virtual ~LineOutput() = default;
    // Writes the bytes as one burst; returns the moment the last of them has
    // left the unit (later than `now` when the line is paced).
    virtual TimePoint send(std::span<const uint8_t> bytes, TimePoint now) = 0;
};

struct LineHooks {
    std::function<std::vector<uint8_t>(std::span<const uint8_t>)> answer;  // request -> response
    std::function<std::vector<uint8_t>()> unsolicited;                     // a frame of the unit's own
    std::function<void(std::span<const uint8_t>)> delivered;               // the host took a response
    std::function<void(const std::string &)> note;                          // diagnostics
    std::function<void()> hangUp;  // the unit is to end once its bytes have left
};

class LineProtocol {
public:
    enum class State {
        U_IDLE,              // nothing under way; bids when a response is due
        U_HOST_DLE,          // the host sent DLE: a bid follows
        U_RECV_WAIT_DLE,     // granted: waiting for DLE STX
        U_RECV_WAIT_CONTROL,
        U_RECV_LEN_HIGH,
        U_RECV_LEN_LOW,
        U_RECV_TEXT,
        U_RECV_TEXT_DLE,
        U_RECV_TEXT_ETX,
        U_RECV_CRC_LOW,
        U_RECV_CRC_HIGH,
        U_CONTEND,           // answered the host's bid with a bid: bids again shortly
        U_BID_WAIT_DLE,      // the unit bid: waiting for the host's DLE ACK
        U_BID_WAIT_REPLY,
        U_ACK_WAIT_DLE,      // the unit sent a frame: waiting for DLE ACK
        U_ACK_WAIT_REPLY,
        COUNT
    };

    // How long the unit waits for each part of an exchange.
    static constexpr Millis kReceiveWait{5000};     // each byte of the host's frame
    static constexpr Millis kGrantWait{3000};       // the host's answer to the unit's bid
    static constexpr Millis kAckWait{5000};         // the host's answer to the unit's frame
    static constexpr Millis kBidRetryPause{200};
    static constexpr Millis kEnqAckWait{300};       // a DLE ENQ acknowledgement is taken as such: no grant follows
    static constexpr Millis kContendPause{30};
    static constexpr int kMaxBids = 5;
    static constexpr int kMaxFrameSends = 4;
    static constexpr size_t kMaxText = 4096;

    LineProtocol(const LineFaults &faults, LineOutput &output, LineHooks hooks);

    void onByte(uint8_t byte, TimePoint now);
    void onTime(TimePoint now);
    // The next moment onTime has something to do.
    TimePoint nextDeadline() const;
    // The host left the line: drop whatever was under way.
    void reset(TimePoint now);

    State state() const { return state_; }
    static const char *stateName(State state);

private:
    struct Outgoing {
        std::vector<uint8_t> text;
        TimePoint due;
        bool corrupt;   // its first sending carries a wrong check code
    };
    using ByteHandler = void (LineProtocol::*)(uint8_t, TimePoint);
    using TimeoutHandler = void (LineProtocol::*)(TimePoint);
    // One row per state, in the enum's order (checked where the table is).
    struct StateRow {
        State state;
        const char *name;
        ByteHandler onByte;
        TimeoutHandler onTimeout;
    };
    static const StateRow kStates[static_cast<size_t>(State::COUNT)];
    static constexpr bool rowsInOrder();

    // One handler per state for a byte ...
    void idleByte(uint8_t, TimePoint);
    void hostDleByte(uint8_t, TimePoint);
    void recvWaitDleByte(uint8_t, TimePoint);
    void recvWaitControlByte(uint8_t, TimePoint);
    void lenHighByte(uint8_t, TimePoint);
    void lenLowByte(uint8_t, TimePoint);
    void textByte(uint8_t, TimePoint);
    void textDleByte(uint8_t, TimePoint);
    void textEtxByte(uint8_t, TimePoint);
    void crcLowByte(uint8_t, TimePoint);
    void crcHighByte(uint8_t, TimePoint);
    void ignoreByte(uint8_t, TimePoint);
    void bidWaitDleByte(uint8_t, TimePoint);
    void bidWaitReplyByte(uint8_t, TimePoint);
    void ackWaitDleByte(uint8_t, TimePoint);
    void ackWaitReplyByte(uint8_t, TimePoint);
    // ... and for its time-out.
    void noTimeout(TimePoint);
    void backToIdle(TimePoint);
    void rejectFrame(TimePoint);
    void bidAgain(TimePoint);
    void bidUnanswered(TimePoint);
    void frameUnanswered(TimePoint);

    void enter(State state, TimePoint now, TimePoint deadline = TimePoint::max());
    TimePoint sendControl(uint8_t control, TimePoint now);
    TimePoint sendFrame(TimePoint now);
    void answerBid(TimePoint now);
    void grant(TimePoint now);
    void acceptFrame(TimePoint now);
    void bid(TimePoint now);
    void delivered(TimePoint now);
    void dropHead(const char *why, TimePoint now);
    void queue(std::vector<uint8_t> text, TimePoint due);
    void idleTick(TimePoint now);
    TimePoint unsolicitedDue() const;
    uint8_t noiseByte();
    bool hangUpNow(HangUpPoint point, unsigned &seen);

    LineFaults faults_;
    LineOutput &output_;
    LineHooks hooks_;

    State state_ = State::U_IDLE;
    TimePoint deadline_ = TimePoint::max();
    TimePoint lastActivity_{};

    // The host's frame being taken.
    std::vector<uint8_t> text_;
    size_t length_ = 0;
    uint32_t crc_ = 0;
    uint16_t receivedCrc_ = 0;

    // Responses waiting for the line, oldest first.
    std::deque<Outgoing> outgoing_;
    int bidsTried_ = 0;
    int frameSends_ = 0;
    bool enqAckBid_ = false;      // the last DLE ENQ was an acknowledgement
    bool justContended_ = false;  // the host's next bid is granted

    unsigned nakFramesLeft_;
    unsigned badCrcLeft_;
    unsigned contendLeft_;
    uint32_t noiseSeed_ = 0x2545F491u;

    // Counts towards the hang-up point; once hung up the unit answers nothing.
    unsigned hostBids_ = 0;
    unsigned requestsTaken_ = 0;
    unsigned responsesSent_ = 0;
    bool hungUp_ = false;
};

std::ostream &operator<<(std::ostream &out, LineProtocol::State state);

}  // namespace bdusim
