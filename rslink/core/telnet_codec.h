// The telnet side of a network port that sets its line through the
// COM-PORT-OPTION (RFC 2217): option negotiation (RFC 854/855, BINARY
// RFC 856, SGA RFC 858), the line settings and their answers, IAC doubling
// and the carriage-return rule of a line that is not binary.
//
// No I/O and no clock.  Fed the bytes read from the socket, the codec gives
// back the line's data bytes, the bytes to send back and events; fed the
// line's data, it gives back the bytes for the socket.  How long to wait for
// an answer is the caller's business: the codec only says what has been
// answered.  A raw TCP port does not use it.
//
// Recovery rule of the receive side: a command is taken out of the data
// wherever the reads cut it; an IAC followed by anything but SE or IAC inside
// a subnegotiation drops that subnegotiation and starts the command it
// begins; a subnegotiation too long or malformed for its command is dropped.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rslink::core {

namespace telnet {
inline constexpr uint8_t kIac = 255;
inline constexpr uint8_t kDont = 254;
inline constexpr uint8_t kDo = 253;
inline constexpr uint8_t kWont = 252;
inline constexpr uint8_t kWill = 251;
inline constexpr uint8_t kSb = 250;
inline constexpr uint8_t kSe = 240;

inline constexpr uint8_t kOptBinary = 0;
inline constexpr uint8_t kOptEcho = 1;
inline constexpr uint8_t kOptSga = 3;
inline constexpr uint8_t kOptComPort = 44;

// COM-PORT-OPTION commands as the client sends them; the server answers
// with the same code + kServerCode.
inline constexpr uint8_t kSignature = 0;
inline constexpr uint8_t kSetBaudRate = 1;
inline constexpr uint8_t kSetDataSize = 2;
inline constexpr uint8_t kSetParity = 3;
inline constexpr uint8_t kSetStopSize = 4;
inline constexpr uint8_t kSetControl = 5;
inline constexpr uint8_t kNotifyLineState = 6;
inline constexpr uint8_t kPurgeData = 12;
inline constexpr uint8_t kServerCode = 100;

// SET-CONTROL and PURGE-DATA values.
inline constexpr uint8_t kNoFlowControl = 1;
inline constexpr uint8_t kDtrOn = 8;
inline constexpr uint8_t kDtrOff = 9;
inline constexpr uint8_t kRtsOn = 11;
inline constexpr uint8_t kRtsOff = 12;
inline constexpr uint8_t kPurgeBoth = 3;

// NOTIFY-LINESTATE bits that mean a character was lost or spoiled; the
// others (data ready, transmitter empty, time-out) are no error of the line.
inline constexpr uint8_t kOverrunError = 0x02;
inline constexpr uint8_t kParityError = 0x04;
inline constexpr uint8_t kFramingError = 0x08;
inline constexpr uint8_t kBreakDetect = 0x10;
inline constexpr uint8_t kLineErrorBits = kOverrunError | kParityError | kFramingError | kBreakDetect;
}  // namespace telnet

// Parity and stop size as the option codes them.
enum class Parity : uint8_t { None = 1, Odd = 2, Even = 3, Mark = 4, Space = 5 };
enum class StopSize : uint8_t { One = 1, Two = 2, OneAndHalf = 3 };

struct LineRequest {
    uint32_t baudRate = 9600;
    uint8_t dataSize = 8;
    Parity parity = Parity::Even;
    StopSize stopSize = StopSize::One;
};

// The four settings whose answers count, in the order they are reported.
enum class Setting : uint8_t { BaudRate, DataSize, Parity, StopSize };
inline constexpr size_t kSettingCount = 4;

struct TelnetEvent {
    enum class Kind : uint8_t {
        ComPortAccepted,  // DO COM-PORT-OPTION: the settings went out in this reply
        ComPortRefused,   // DONT (or WONT) COM-PORT-OPTION: no RFC 2217 here
        SettingAnswered,  // detail: the Setting
        LineError,        // detail: the NOTIFY-LINESTATE byte (an error bit is set)
    };
    Kind kind;
    uint8_t detail = 0;
    bool operator==(const TelnetEvent &) const = default;
};

// What one receive() adds besides the data; the caller clears it when it
// has sent the reply and handled the events.
struct TelnetOutput {
    std::vector<uint8_t> reply;  // bytes to write to the socket, in order
    std::vector<TelnetEvent> events;
    void clear() {
        reply.clear();
        events.clear();
    }
};

class TelnetCodec {
public:
    enum class ComPort : uint8_t { Offered, Accepted, Refused };

    explicit TelnetCodec(const LineRequest &line = {});

    // The opening offers (WILL COM-PORT-OPTION, WILL BINARY, DO BINARY),
    // appended to `out`; only the first call adds anything.
    void start(std::vector<uint8_t> &out);

    // Takes the telnet out of `size` bytes read from the socket, in place:
    // the line's data bytes end up at the front of `bytes` (never more than
    // were read) and their count is returned.  Answers and events are
    // appended to `out`.
    size_t receive(uint8_t *bytes, size_t size, TelnetOutput &out);

    // Appends the socket bytes for the line's data: 0xFF doubled, and CR as
    // CR NUL while the server has not agreed that we send binary.
    void encode(const uint8_t *data, size_t size, std::vector<uint8_t> &out) const;

    // SET-CONTROL DTR/RTS on or off, appended to `out`; no answer is
    // awaited.  Nothing (false) while COM-PORT-OPTION is not in effect.
    bool dtrControl(bool on, std::vector<uint8_t> &out) const;
    bool rtsControl(bool on, std::vector<uint8_t> &out) const;

    // Offered: no word yet on our WILL COM-PORT-OPTION (how long to wait is
    // the caller's); Accepted: DO came and the settings went out; Refused:
    // DONT or WONT came, for good.
    ComPort comPort() const;
    bool sendsBinary() const;     // the server agreed to our WILL BINARY
    bool receivesBinary() const;  // the server agreed to our DO BINARY

    // The caller stops waiting for answers: a setting answered later is
    // dropped (and so taken as set).
    void endNegotiation() { negotiationOver_ = true; }
    bool negotiationOver() const { return negotiationOver_; }

    // The server's answer to a setting: none yet, or its value (0: it
    // answered without one, which refuses nothing).
    std::optional<uint32_t> answer(Setting setting) const;
    bool refused(Setting setting) const;
    bool settingsAnswered() const;  // all four
    // The refused settings in order, e.g. "parity NONE, not EVEN; stop bits
    // 2, not 1"; empty when none was refused.
    std::string refusedSettings() const;

private:
    enum class Q : uint8_t { No, WantYes, Yes };  // RFC 1143, less WANTNO: we never ask to disable
    enum class Change : uint8_t { None, On, Off };
    enum class State : uint8_t { Data, Iac, Option, Sub, SubIac };
    static constexpr size_t kMaxSub = 16;  // the longest subnegotiation we read

    void step(uint8_t byte, uint8_t *bytes, size_t &count, TelnetOutput &out);
    void deliver(uint8_t byte, uint8_t *bytes, size_t &count);
    void negotiate(uint8_t verb, uint8_t option, TelnetOutput &out);
    Change agree(Q &q, uint8_t option, bool enable, uint8_t yes, uint8_t no,
                 std::vector<uint8_t> &reply) const;
    void weDo(uint8_t option, bool enable, TelnetOutput &out);  // DO / DONT
    void theyDo(uint8_t option, bool enable, TelnetOutput &out);  // WILL / WONT
    void comPortAgreed(TelnetOutput &out);
    void comPortRefused(TelnetOutput &out);
    void subnegotiation(TelnetOutput &out);
    void recordAnswer(Setting setting, uint32_t value, TelnetOutput &out);
    bool wanted(uint8_t option) const;

    std::array<uint32_t, kSettingCount> requested_;
    std::array<std::optional<uint32_t>, kSettingCount> answers_{};
    std::array<Q, 256> us_{};    // options we perform
    std::array<Q, 256> them_{};  // options the server performs
    State state_ = State::Data;
    uint8_t verb_ = 0;
    std::array<uint8_t, kMaxSub> sub_{};
    size_t subLength_ = 0;  // may run past kMaxSub: then the subnegotiation is dropped
    bool crPending_ = false;  // a CR came in while not binary: a NUL after it is dropped
    bool started_ = false;
    bool settingsSent_ = false;
    bool comPortRefused_ = false;
    bool negotiationOver_ = false;
};

}  // namespace rslink::core
