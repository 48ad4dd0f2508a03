// The text frame of the line protocol and its check code.  No I/O here, so
// the driver, the simulated unit, the tests and the fuzzers share it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rslink/rslink.h"

namespace rslink {

inline constexpr uint8_t STX = 0x02;
inline constexpr uint8_t ETX = 0x03;
inline constexpr uint8_t ENQ = 0x05;
inline constexpr uint8_t ACK = 0x06;
inline constexpr uint8_t DLE = 0x10;
inline constexpr uint8_t NAK = 0x15;

inline constexpr size_t kMaxSendText = RS_MAX_SEND_TEXT;  // the driver's copy buffer
inline constexpr size_t kFrameOverhead = 8;  // DLE STX, length, DLE ETX, CRC
inline constexpr size_t kTxFrameBuffer = 2984;
static_assert(kTxFrameBuffer >= kMaxSendText + kFrameOverhead, "the longest text's frame fits");

// CRC-16 with polynomial 0x1021 taken least significant bit first (0x8408),
// initial value 0, no final inversion.  One byte at a time, as the receive
// path adds bytes while they arrive.
uint32_t crcUpdate(uint32_t crc, uint8_t byte);

// The check code of a whole run of bytes, starting from 0.
uint16_t crc16(const uint8_t *data, size_t length);

// Builds DLE STX, length (high, low), text, DLE ETX, CRC (low, high) into
// `out`, which holds at least length + 8 bytes, and returns the frame length.
// The check code covers the length bytes, the text and DLE ETX.
size_t buildFrame(const uint8_t *text, size_t length, uint8_t *out);

}  // namespace rslink
