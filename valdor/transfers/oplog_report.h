// The report of an operational-log acquisition: its sections, its headings
// and its two kinds of lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace valdor {

// Record data of a positive answer: bytes 90 to 1113.
inline constexpr size_t kRecordOffset = 90;
inline constexpr size_t kRecordSize = 1024;

inline constexpr char kMeasuredHeading[] = "\r\n<<< Measured information >>>\r\n";

enum class LineFormat : uint8_t {
    Sixteen,   // 16 bytes "%02X " each: 50 characters with "\r\n"
    Numbered,  // "%04d " and four groups of 8 bytes "XXXXXXXX-XXXXXXXX ": 79 characters
};

// The sections in the order they are read.
struct OplogSection {
    uint8_t lastBlock;
    LineFormat format;
    bool endsWhenMeasuredOnly;  // with "Measured inf" ticked the report ends here
    const char *nextHeading;    // written when the section is done; none after the last
};
inline constexpr OplogSection kOplogSections[] = {
    {7, LineFormat::Sixteen, true, "\r\n<<< Operational log >>>\r\n"},            // measured information
    {7, LineFormat::Numbered, false, "\r\n<<< Command/Response log >>>\r\n"},     // operational log
    {3, LineFormat::Sixteen, false, "\r\n<<< Thickness information >>>\r\n"},     // command/response log
    {1, LineFormat::Sixteen, false, nullptr},                                     // thickness information
};

// The record data of an answer as far as it arrived: a short answer gives
// fewer bytes (none when it ends before byte 90), never more than 1024.
std::span<const uint8_t> recordData(std::span<const uint8_t> answer);

// Appends `data` as 16-byte lines; a short last line holds what is left.
void appendSixteenByteLines(std::string &out, std::span<const uint8_t> data);

// Appends `data` as numbered 32-byte lines, the first numbered `lineNumber`,
// which grows by 4 after each line; a short last line holds what is left.
void appendNumberedLines(std::string &out, std::span<const uint8_t> data, int32_t &lineNumber);

}  // namespace valdor
