// A received response read at fixed positions.  A response may be shorter
// than the positions its layout names: every position past the received
// data reads as 0, and nothing past it is ever touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace valdor {

inline constexpr uint8_t kEnhancedLayoutMark = 0xFF;  // byte 2 of an enhanced response

// DH1 of a bill count: plain, front, rear and reject.
inline constexpr bool isBillCountCode(uint8_t dh1) {
    return dh1 == 0x03 || dh1 == 0x09 || dh1 == 0x0A || dh1 == 0x11;
}

// Text as the window shows it: up to the first NUL.
inline std::string untilNul(std::string_view text) {
    return std::string(text.substr(0, text.find('\0')));
}

class ResponseBytes {
public:
    explicit ResponseBytes(std::span<const uint8_t> data) : data_(data) {}

    uint8_t operator[](size_t at) const { return at < data_.size() ? data_[at] : 0; }

    bool enhanced() const { return (*this)[2] == kEnhancedLayoutMark; }

    // `count` bytes from `at` taken as characters; a zero byte, or the end
    // of the received data, ends the text early.
    std::string text(size_t at, size_t count) const {
        std::string out;
        for (size_t i = 0; i < count; ++i) {
            const uint8_t byte = (*this)[at + i];
            if (byte == 0) break;
            out += static_cast<char>(byte);
        }
        return out;
    }

private:
    std::span<const uint8_t> data_;
};

}  // namespace valdor
