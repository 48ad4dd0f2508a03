#include "rslink/analysis/line_tokens.h"

#include "rslink/core/frame.h"

namespace rslink::analysis {

void LineSplitter::feed(std::span<const uint8_t> bytes, size_t burst, std::vector<LineToken> &out) {
    burst_ = burst;
    for (uint8_t b : bytes) take(b, out);
}

void LineSplitter::finish(std::vector<LineToken> &out) {
    if (!current_.raw.empty()) emit(LineToken::Kind::Noise, out);
}

void LineSplitter::emit(LineToken::Kind kind, std::vector<LineToken> &out) {
    current_.kind = kind;
    if (kind == LineToken::Kind::Noise) current_.text.clear();
    out.push_back(std::move(current_));
    current_ = LineToken{};
    state_ = State::Ground;
}

void LineSplitter::take(uint8_t byte, std::vector<LineToken> &out) {
    // A byte that breaks what was started: the started bytes are noise, and
    // a DLE among them may begin the next token.
    auto broken = [&] {
        emit(LineToken::Kind::Noise, out);
        take(byte, out);
    };
    if (current_.raw.empty()) current_.burst = burst_;
    switch (state_) {
        case State::Ground:
            if (byte == DLE && !current_.raw.empty()) {
                emit(LineToken::Kind::Noise, out);
                current_.burst = burst_;
            }
            current_.raw.push_back(byte);
            if (byte == DLE) state_ = State::Dle;
            return;
        case State::Dle:
            if (byte == STX) {
                current_.raw.push_back(byte);
                state_ = State::LenHigh;
            } else if (byte == ENQ || byte == ACK || byte == NAK) {
                current_.raw.push_back(byte);
                current_.control = byte;
                emit(LineToken::Kind::Control, out);
            } else if (byte == DLE) {
                broken();
            } else {
                current_.raw.push_back(byte);
                state_ = State::Ground;
            }
            return;
        case State::LenHigh:
            current_.raw.push_back(byte);
            length_ = static_cast<size_t>(byte) << 8;
            state_ = State::LenLow;
            return;
        case State::LenLow:
            current_.raw.push_back(byte);
            length_ |= byte;
            if (length_ > kMaxText) {
                state_ = State::Ground;
                emit(LineToken::Kind::Noise, out);
            } else {
                state_ = length_ == 0 ? State::TextDle : State::Text;
            }
            return;
        case State::Text:
            current_.raw.push_back(byte);
            current_.text.push_back(byte);
            if (current_.text.size() == length_) state_ = State::TextDle;
            return;
        case State::TextDle:
            if (byte != DLE) return broken();
            current_.raw.push_back(byte);
            state_ = State::TextEtx;
            return;
        case State::TextEtx:
            if (byte != ETX) return broken();
            current_.raw.push_back(byte);
            state_ = State::CrcLow;
            return;
        case State::CrcLow:
            current_.raw.push_back(byte);
            current_.checkCode = byte;
            state_ = State::CrcHigh;
            return;
        case State::CrcHigh:
            current_.raw.push_back(byte);
            current_.checkCode = static_cast<uint16_t>(current_.checkCode | (byte << 8));
            // The check code covers the length bytes, the text and DLE ETX.
            current_.computed = crc16(current_.raw.data() + 2, current_.raw.size() - 4);
            emit(LineToken::Kind::Frame, out);
            return;
    }
}

std::vector<LineToken> splitLine(std::span<const uint8_t> bytes) {
    std::vector<LineToken> out;
    LineSplitter s;
    s.feed(bytes, 0, out);
    s.finish(out);
    return out;
}

}  // namespace rslink::analysis
