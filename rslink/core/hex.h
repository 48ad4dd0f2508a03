// Bytes as upper-case hexadecimal, two digits a byte as "%02X" writes them.
// One formatter for every trace line, report, log and decoder of the tree,
// so that they cannot come to disagree; only where the blanks go differs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace rslink::core {

// Where the blanks go: none ("60011C"), between two bytes ("60 01 1C", as a
// reader of the line shows a text) or after each byte ("60 01 1C ", as the
// console's trace line ends).
enum class HexGap { None, Between, After };

inline void appendHex(std::string &out, uint8_t byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
}

inline void appendHex(std::string &out, std::span<const uint8_t> bytes, HexGap gap) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (gap == HexGap::Between && i != 0) out += ' ';
        appendHex(out, bytes[i]);
        if (gap == HexGap::After) out += ' ';
    }
}

// "60 01 1C"
inline std::string spacedHex(std::span<const uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    appendHex(out, bytes, HexGap::Between);
    return out;
}

}  // namespace rslink::core
