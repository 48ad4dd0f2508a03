// The trace line of a frame, as the worker writes it into the message box
// and as the decoder reads it back from a saved one:
//   SEND[hh:mm:ss:mmm]>60 01 00 1C 
// Writer and reader side by side, so that they keep to one format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace valdor {

struct LocalTime;

// "SEND[" or "RECV[", hh:mm:ss:mmm, "]>", then each byte as "%02X ".
std::string traceLine(const char *prefix, const LocalTime &time, std::span<const uint8_t> text);

struct TraceLine {
    bool sent = false;          // SEND (else RECV)
    std::string time;           // hh:mm:ss:mmm as written
    std::vector<uint8_t> text;  // the frame's text
    size_t line = 0;            // 1-based line number
    size_t offset = 0;          // where the line starts
};

struct TraceParse {
    std::vector<TraceLine> lines;  // every trace line before any error
    std::string error;             // empty when the whole text was read
    size_t errorOffset = 0;
    size_t errorLine = 0;
    bool ok() const { return error.empty(); }
};

// The SEND/RECV lines of a saved message box; every other line (the
// console's messages) is passed over.
TraceParse parseTrace(std::string_view text);

}  // namespace valdor
