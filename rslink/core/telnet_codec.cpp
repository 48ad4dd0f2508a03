#include "rslink/core/telnet_codec.h"

namespace rslink::core {

using namespace telnet;

namespace {

constexpr uint8_t kCr = 0x0D;

struct SettingInfo {
    uint8_t command;
    size_t valueSize;   // bytes of the value, most significant first
    const char *label;  // as the refused-settings line names it
};

// Indexed by Setting.
constexpr SettingInfo kSettings[kSettingCount] = {
    {kSetBaudRate, 4, "baud rate"},
    {kSetDataSize, 1, "data bits"},
    {kSetParity, 1, "parity"},
    {kSetStopSize, 1, "stop bits"},
};

constexpr const char *kParityNames[] = {"NONE", "ODD", "EVEN", "MARK", "SPACE"};  // from 1
constexpr const char *kStopNames[] = {"1", "2", "1.5"};                         // from 1

void appendByte(std::vector<uint8_t> &out, uint8_t byte) {
    out.push_back(byte);
    if (byte == kIac) out.push_back(kIac);
}

// IAC SB COM-PORT-OPTION command value IAC SE, with the value's IACs doubled.
void appendCommand(std::vector<uint8_t> &out, uint8_t command, uint32_t value, size_t size) {
    out.insert(out.end(), {kIac, kSb, kOptComPort, command});
    for (size_t i = size; i-- > 0;) appendByte(out, static_cast<uint8_t>(value >> (8 * i)));
    out.insert(out.end(), {kIac, kSe});
}

std::string valueWord(Setting setting, uint32_t value) {
    const auto named = [value](const char *const *names, uint32_t count) {
        if (value >= 1 && value <= count) return std::string(names[value - 1]);
        return "code " + std::to_string(value);
    };
    switch (setting) {
    case Setting::Parity: return named(kParityNames, 5);
    case Setting::StopSize: return named(kStopNames, 3);
    default: return std::to_string(value);
    }
}

}  // namespace

TelnetCodec::TelnetCodec(const LineRequest &line)
    : requested_{line.baudRate, line.dataSize, static_cast<uint32_t>(line.parity),
                 static_cast<uint32_t>(line.stopSize)} {}

void TelnetCodec::start(std::vector<uint8_t> &out) {
    if (started_) return;
    started_ = true;
    // An option the server already raised has been answered: offer only the rest.
    for (uint8_t option : {kOptComPort, kOptBinary}) {
        if (us_[option] != Q::No || !wanted(option)) continue;
        us_[option] = Q::WantYes;
        out.insert(out.end(), {kIac, kWill, option});
    }
    if (them_[kOptBinary] == Q::No) {
        them_[kOptBinary] = Q::WantYes;
        out.insert(out.end(), {kIac, kDo, kOptBinary});
    }
}

size_t TelnetCodec::receive(uint8_t *bytes, size_t size, TelnetOutput &out) {
    size_t count = 0;
    for (size_t i = 0; i < size; ++i) step(bytes[i], bytes, count, out);
    return count;
}

void TelnetCodec::step(uint8_t byte, uint8_t *bytes, size_t &count, TelnetOutput &out) {
    switch (state_) {
    case State::Data:
        if (byte == kIac)
            state_ = State::Iac;
        else
            deliver(byte, bytes, count);
        return;
    case State::Iac:
        if (byte == kIac) {
            deliver(kIac, bytes, count);
            state_ = State::Data;
        } else if (byte >= kWill && byte <= kDont) {
            verb_ = byte;
            state_ = State::Option;
        } else if (byte == kSb) {
            subLength_ = 0;
            state_ = State::Sub;
        } else {
            state_ = State::Data;  // NOP, GA, BRK ...: nothing to do on this line
        }
        return;
    case State::Option:
        state_ = State::Data;
        negotiate(verb_, byte, out);
        return;
    case State::Sub:
        if (byte == kIac) {
            state_ = State::SubIac;
            return;
        }
        break;
    case State::SubIac:
        if (byte == kSe) {
            state_ = State::Data;
            subnegotiation(out);
            return;
        }
        if (byte != kIac) {
            // An unterminated subnegotiation: drop it, and read the command.
            state_ = State::Iac;
            step(byte, bytes, count, out);
            return;
        }
        state_ = State::Sub;
        break;
    }
    // A byte of the subnegotiation; past kMaxSub only counted.
    if (subLength_ < kMaxSub) sub_[subLength_] = byte;
    if (subLength_ <= kMaxSub) ++subLength_;
}

void TelnetCodec::deliver(uint8_t byte, uint8_t *bytes, size_t &count) {
    // A line that is not binary sends a bare CR as CR NUL (RFC 854); CR LF
    // and CR with anything else stay as they are.
    if (crPending_ && byte == 0) {
        crPending_ = false;
        return;
    }
    crPending_ = byte == kCr && !receivesBinary();
    bytes[count++] = byte;
}

bool TelnetCodec::wanted(uint8_t option) const {
    if (option == kOptComPort) return !comPortRefused_;
    return option == kOptBinary || option == kOptSga;
}

void TelnetCodec::negotiate(uint8_t verb, uint8_t option, TelnetOutput &out) {
    switch (verb) {
    case kDo: weDo(option, true, out); return;
    case kDont: weDo(option, false, out); return;
    case kWill: theyDo(option, true, out); return;
    default: theyDo(option, false, out); return;
    }
}

// The server's word on one side of an option: `enable` is DO or WILL.  A
// request that changes nothing gets no answer, so two peers cannot loop;
// one we do not want is refused with `no`.  Returns whether the option went
// on or off.
TelnetCodec::Change TelnetCodec::agree(Q &q, uint8_t option, bool enable, uint8_t yes, uint8_t no,
                                       std::vector<uint8_t> &reply) const {
    if (enable) {
        if (q == Q::Yes) return Change::None;
        if (q == Q::No && !wanted(option)) {
            reply.insert(reply.end(), {kIac, no, option});
            return Change::None;
        }
        if (q == Q::No) reply.insert(reply.end(), {kIac, yes, option});
        q = Q::Yes;
        return Change::On;
    }
    if (q == Q::No) return Change::None;
    if (q == Q::Yes) reply.insert(reply.end(), {kIac, no, option});
    q = Q::No;
    return Change::Off;
}

void TelnetCodec::weDo(uint8_t option, bool enable, TelnetOutput &out) {
    const Change change = agree(us_[option], option, enable, kWill, kWont, out.reply);
    if (option != kOptComPort) return;
    if (change == Change::On) comPortAgreed(out);
    if (change == Change::Off) comPortRefused(out);
}

void TelnetCodec::theyDo(uint8_t option, bool enable, TelnetOutput &out) {
    // A server that answers our WILL COM-PORT-OPTION with WONT means no as well.
    if (!enable && option == kOptComPort && us_[option] == Q::WantYes) {
        us_[option] = Q::No;
        comPortRefused(out);
    }
    agree(them_[option], option, enable, kDo, kDont, out.reply);
}

void TelnetCodec::comPortAgreed(TelnetOutput &out) {
    // Once only: a server that takes the option back is not asked again.
    out.events.push_back({TelnetEvent::Kind::ComPortAccepted});
    settingsSent_ = true;
    for (size_t s = 0; s < kSettingCount; ++s)
        appendCommand(out.reply, kSettings[s].command, requested_[s], kSettings[s].valueSize);
    appendCommand(out.reply, kSetControl, kNoFlowControl, 1);
    appendCommand(out.reply, kSetControl, kDtrOn, 1);
    appendCommand(out.reply, kSetControl, kRtsOn, 1);
    appendCommand(out.reply, kPurgeData, kPurgeBoth, 1);
}

void TelnetCodec::comPortRefused(TelnetOutput &out) {
    comPortRefused_ = true;
    out.events.push_back({TelnetEvent::Kind::ComPortRefused});
}

// COM-PORT-OPTION from the server: the answers to the settings and the line
// state are read; the rest (modem state, flow control suspend and resume,
// signature, the other answers) changes nothing here.
void TelnetCodec::subnegotiation(TelnetOutput &out) {
    if (subLength_ > kMaxSub || subLength_ < 2 || sub_[0] != kOptComPort) return;
    const uint8_t command = sub_[1];
    const uint8_t *value = sub_.data() + 2;
    const size_t size = subLength_ - 2;
    if (command == kServerCode + kNotifyLineState) {
        if (size == 1 && (value[0] & kLineErrorBits) != 0)
            out.events.push_back({TelnetEvent::Kind::LineError, value[0]});
        return;
    }
    for (size_t s = 0; s < kSettingCount; ++s) {
        if (command != kServerCode + kSettings[s].command) continue;
        if (size != kSettings[s].valueSize) return;
        uint32_t v = 0;
        for (size_t i = 0; i < size; ++i) v = (v << 8) | value[i];
        recordAnswer(static_cast<Setting>(s), v, out);
        return;
    }
}

void TelnetCodec::recordAnswer(Setting setting, uint32_t value, TelnetOutput &out) {
    // Unasked, or after the caller stopped waiting: dropped.
    if (!settingsSent_ || negotiationOver_) return;
    answers_[static_cast<size_t>(setting)] = value;
    out.events.push_back({TelnetEvent::Kind::SettingAnswered, static_cast<uint8_t>(setting)});
}

void TelnetCodec::encode(const uint8_t *data, size_t size, std::vector<uint8_t> &out) const {
    const bool binary = sendsBinary();
    for (size_t i = 0; i < size; ++i) {
        appendByte(out, data[i]);
        if (data[i] == kCr && !binary) out.push_back(0);
    }
}

bool TelnetCodec::dtrControl(bool on, std::vector<uint8_t> &out) const {
    if (comPort() != ComPort::Accepted) return false;
    appendCommand(out, kSetControl, on ? kDtrOn : kDtrOff, 1);
    return true;
}

bool TelnetCodec::rtsControl(bool on, std::vector<uint8_t> &out) const {
    if (comPort() != ComPort::Accepted) return false;
    appendCommand(out, kSetControl, on ? kRtsOn : kRtsOff, 1);
    return true;
}

TelnetCodec::ComPort TelnetCodec::comPort() const {
    if (comPortRefused_) return ComPort::Refused;
    return us_[kOptComPort] == Q::Yes ? ComPort::Accepted : ComPort::Offered;
}

bool TelnetCodec::sendsBinary() const { return us_[kOptBinary] == Q::Yes; }

bool TelnetCodec::receivesBinary() const { return them_[kOptBinary] == Q::Yes; }

std::optional<uint32_t> TelnetCodec::answer(Setting setting) const {
    return answers_[static_cast<size_t>(setting)];
}

bool TelnetCodec::refused(Setting setting) const {
    const auto &a = answers_[static_cast<size_t>(setting)];
    return a && *a != 0 && *a != requested_[static_cast<size_t>(setting)];
}

bool TelnetCodec::settingsAnswered() const {
    for (const auto &a : answers_)
        if (!a) return false;
    return true;
}

std::string TelnetCodec::refusedSettings() const {
    std::string text;
    for (size_t s = 0; s < kSettingCount; ++s) {
        const auto setting = static_cast<Setting>(s);
        if (!refused(setting)) continue;
        if (!text.empty()) text += "; ";
        text += std::string(kSettings[s].label) + " " + valueWord(setting, *answers_[s]) +
                ", not " + valueWord(setting, requested_[s]);
    }
    return text;
}

}  // namespace rslink::core
