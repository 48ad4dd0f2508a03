// The unit's side of a program download: checks each data ("LD"), end
// ("LE") and time ("RT") frame against the ones before it and keeps a running
// count and check code of the program bytes taken.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace bdusim {

inline constexpr uint8_t kDataFrame = 0xD1;
inline constexpr uint8_t kEndFrame = 0xD2;
inline constexpr uint8_t kTimeFrame = 0xD4;

inline constexpr bool isDownloadCode(uint8_t code) {
    return code == kDataFrame || code == kEndFrame || code == kTimeFrame;
}

// An error code of the unit's catalogue: main code and sub-code.
struct ErrorCode {
    uint8_t main = 0;
    uint8_t sub = 0;
    bool operator==(const ErrorCode &) const = default;
};
inline constexpr ErrorCode kNormalEnd{0x00, 0x00};

struct DownloadVerdict {
    ErrorCode error;        // kNormalEnd when the frame is good
    std::string reason;     // why it is not, in words
    std::string report;     // a summary line when the frame ends a download
    bool good() const { return error == kNormalEnd; }
};

class DownloadChecker {
public:
    // Checks the whole request text of a download frame and, when it is
    // good, takes it.  A bad frame abandons the download under way.
    DownloadVerdict take(std::span<const uint8_t> text);

    // A download is under way (between its first data frame and its time
    // frame).
    bool active() const { return phase_ != Phase::DL_IDLE; }

private:
    // DL_IDLE: waiting for block 0001.  DL_DATA: data blocks arriving.
    // DL_LAST_DATA: a short block came, only the end frame may follow.
    // DL_ENDED: the end frame came, the time frame is due.
    enum class Phase { DL_IDLE, DL_DATA, DL_LAST_DATA, DL_ENDED };
    using FileId = std::array<uint8_t, 12>;

    DownloadVerdict takeData(std::span<const uint8_t> block);
    DownloadVerdict takeEnd(std::span<const uint8_t> block);
    DownloadVerdict takeTime(std::span<const uint8_t> block);
    DownloadVerdict fail(ErrorCode error, std::string reason);

    Phase phase_ = Phase::DL_IDLE;
    uint32_t lastBlock_ = 0;
    FileId fileId_{};
    uint64_t bytes_ = 0;
    uint32_t crc_ = 0;
};

}  // namespace bdusim
