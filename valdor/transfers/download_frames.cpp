#include "valdor/transfers/download_frames.h"

#include <cstdio>
#include <cstring>

#include "valdor/engine/request_builder.h"

namespace valdor {

namespace {

enum FrameCode : uint8_t { FRAME_DATA = 0xD1, FRAME_END = 0xD2, FRAME_TIME = 0xD4 };

constexpr size_t kHeadSize = 6;         // 0x60, code, 0xFF, 0x00, L (2 bytes)
constexpr size_t kBlockHeadSize = 12;   // "01", D-code, "00", E-code, length field
constexpr size_t kNumberedHeadSize = 28;  // block head, block number, file_id
constexpr size_t kTimeBlockSize = 26;

// Writes the outer frame around a block of `blockLength` bytes already at
// out + kHeadSize, and returns the frame's length.
size_t wrap(uint8_t *out, FrameCode code, size_t blockLength) {
    out[0] = 0x60;
    out[1] = code;
    out[2] = 0xFF;
    out[3] = 0x00;
    out[4] = static_cast<uint8_t>(blockLength >> 8);
    out[5] = static_cast<uint8_t>(blockLength & 0xFF);
    out[kHeadSize + blockLength] = 0x1C;
    return kHeadSize + blockLength + 1;
}

// "01", the D-code, "00", the E-code and the 4-character length field.
void blockHead(uint8_t *block, const char *dcode, const char *ecode, const char *length) {
    char head[kBlockHeadSize + 1];
    std::snprintf(head, sizeof head, "01%.2s00%.2s%.4s", dcode, ecode, length);
    std::memcpy(block, head, kBlockHeadSize);
}

void numberAndId(uint8_t *block, uint32_t blockNumber, const FileId &fileId) {
    char number[8];
    std::snprintf(number, sizeof number, "%04u", blockNumber % 10000);
    std::memcpy(block + kBlockHeadSize, number, 4);
    std::memcpy(block + kBlockHeadSize + 4, fileId.data(), fileId.size());
}

}  // namespace

size_t buildDataFrame(uint8_t *out, uint32_t blockNumber, const FileId &fileId,
                      std::span<const uint8_t> data) {
    size_t n = data.size() < kProgramBytesPerFrame ? data.size() : kProgramBytesPerFrame;
    uint8_t *block = out + kHeadSize;
    char length[8];
    std::snprintf(length, sizeof length, "%04X", static_cast<unsigned>(n + 16));
    blockHead(block, "LD", "H0", length);
    numberAndId(block, blockNumber, fileId);
    if (n != 0) std::memcpy(block + kNumberedHeadSize, data.data(), n);
    return wrap(out, FRAME_DATA, kNumberedHeadSize + n);
}

size_t buildEndFrame(uint8_t *out, uint32_t blockNumber, const FileId &fileId) {
    uint8_t *block = out + kHeadSize;
    blockHead(block, "LE", "H0", "0010");
    numberAndId(block, blockNumber, fileId);
    return wrap(out, FRAME_END, kNumberedHeadSize);
}

size_t buildTimeFrame(uint8_t *out, const LocalTime &now) {
    uint8_t *block = out + kHeadSize;
    blockHead(block, "RT", "I2", "000E");
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02u%02u%02u", now.year % 10000, now.month % 100,
                  now.day % 100, static_cast<unsigned>(now.hour) % 100,
                  static_cast<unsigned>(now.minute) % 100, static_cast<unsigned>(now.second) % 100);
    std::memcpy(block + kBlockHeadSize, stamp, 14);
    return wrap(out, FRAME_TIME, kTimeBlockSize);
}

}  // namespace valdor
