// The three frames of a program download: data ("LD"), end ("LE") and time
// ("RT").  Each is 0x60, its frame code, 0xFF, 0x00, the block length L high
// byte first, the L-byte block, 0x1C.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace valdor {

struct LocalTime;

inline constexpr size_t kProgramBytesPerFrame = 1214;
inline constexpr size_t kFileIdOffset = 32;
inline constexpr size_t kFileIdSize = 12;
// The longest frame: a data frame with a full load of program bytes.
inline constexpr size_t kLargestDownloadFrame = kProgramBytesPerFrame + 35;
// Block numbers travel as four decimal digits, and the end frame takes the
// number after the last data frame's.
inline constexpr uint32_t kHighestBlockNumber = 9999;
inline constexpr uint32_t kMostDataFrames = kHighestBlockNumber - 1;

using FileId = std::array<uint8_t, kFileIdSize>;

// Each returns the frame's length; `out` holds kLargestDownloadFrame bytes.
// `data` holds at most kProgramBytesPerFrame bytes.
size_t buildDataFrame(uint8_t *out, uint32_t blockNumber, const FileId &fileId,
                      std::span<const uint8_t> data);
size_t buildEndFrame(uint8_t *out, uint32_t blockNumber, const FileId &fileId);
size_t buildTimeFrame(uint8_t *out, const LocalTime &now);

// The number of data blocks of a file: its size in frames, rounded up.
constexpr uint64_t blockCountFor(uint64_t size) {
    return size / kProgramBytesPerFrame + (size % kProgramBytesPerFrame != 0 ? 1 : 0);
}

// The data frames a file needs: only a short read ends the data, so a file
// that fills its last frame exactly gets one more, empty, frame.
constexpr uint64_t dataFramesFor(uint64_t size) { return size / kProgramBytesPerFrame + 1; }

}  // namespace valdor
