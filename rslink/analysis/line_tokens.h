// Splits the bytes one side put on the line into what they were: control
// pairs, text frames (with their check code, good or bad) and noise.  One
// splitter per direction, fed burst by burst; a frame may span bursts.  For
// the programs that read a line from outside (the line monitor, the capture
// decoder, the simulated unit's replay); the driver never needs it.
// Recovery rule: a byte that cannot continue what was started ends it as
// noise, and the splitter looks for the next DLE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace rslink::analysis {

struct LineToken {
    enum class Kind { Control, Frame, Noise };
    Kind kind = Kind::Noise;
    uint8_t control = 0;        // Control: the byte after DLE
    std::vector<uint8_t> text;  // Frame: the text
    uint16_t checkCode = 0;     // Frame: as received
    uint16_t computed = 0;      // Frame: as it should be
    std::vector<uint8_t> raw;   // every byte of the token as it went
    size_t burst = 0;           // index of the burst its first byte came in
    bool good() const { return checkCode == computed; }
};

class LineSplitter {
public:
    // Longest text taken as a frame; a longer length field is noise.
    static constexpr size_t kMaxText = 4096;

    // Feeds one burst; finished tokens are appended to `out`.
    void feed(std::span<const uint8_t> bytes, size_t burst, std::vector<LineToken> &out);
    // Whatever is left unfinished at the end, as noise.
    void finish(std::vector<LineToken> &out);

private:
    enum class State { Ground, Dle, LenHigh, LenLow, Text, TextDle, TextEtx, CrcLow, CrcHigh };
    void take(uint8_t byte, std::vector<LineToken> &out);
    void emit(LineToken::Kind kind, std::vector<LineToken> &out);
    State state_ = State::Ground;
    LineToken current_;
    size_t length_ = 0;
    size_t burst_ = 0;
};

// Splits a whole stream at once.
std::vector<LineToken> splitLine(std::span<const uint8_t> bytes);

}  // namespace rslink::analysis
