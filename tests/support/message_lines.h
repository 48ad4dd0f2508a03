// Message lines for the tests of the message box's bound: as long as the
// console's own (15 to about 3,400 characters), each one different, and the
// box text the newest of them make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// `count` lines of varied length, numbered so that no two are alike.
inline std::vector<std::string> messageLines(size_t count, size_t shortest = 15, size_t longest = 3400) {
    std::vector<std::string> lines;
    uint32_t seed = 12345;
    for (size_t i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        size_t length = shortest + (seed >> 8) % (longest - shortest + 1);
        std::string line = std::to_string(i) + ":";
        line.resize(length, static_cast<char>('A' + i % 26));
        lines.push_back(std::move(line));
    }
    return lines;
}

// The box's text when it holds lines[first..] ("\r\n" after each).
inline std::string boxText(const std::vector<std::string> &lines, size_t first) {
    std::string text;
    for (size_t i = first; i < lines.size(); ++i) text += lines[i] + "\r\n";
    return text;
}

// The characters the given lines take in the box.
inline size_t boxChars(const std::vector<std::string> &lines) {
    size_t chars = 0;
    for (const auto &l : lines) chars += l.size() + 2;
    return chars;
}

}  // namespace testsupport
