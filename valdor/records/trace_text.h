// The SEND/RECV trace lines of a saved message box:
//   SEND[hh:mm:ss:mmm]>60 01 00 1C
// Every other line (the console's messages) is passed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace valdor::records {

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

TraceParse parseTrace(std::string_view text);

}  // namespace valdor::records
