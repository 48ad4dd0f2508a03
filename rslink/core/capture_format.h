// The capture file: every burst on the line with its direction and a
// microsecond time, COM Open and COM Close marks, and the wall-clock time
// each device's clock started at.  Layout and versioning: docs/capture-format.md.
// Encoding and parsing only; the file itself is written by the driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rslink::capture {

inline constexpr char kMagic[6] = {'R', 'S', 'L', 'C', 'A', 'P'};
inline constexpr uint16_t kVersion = 1;
inline constexpr size_t kHeaderSize = 8;        // magic, version
inline constexpr size_t kRecordHeaderSize = 4;  // type, device, payload length
inline constexpr size_t kMaxPayload = 0xFFFF;
// Longest run of bytes one burst record carries; longer bursts are split.
inline constexpr size_t kMaxBurst = kMaxPayload - 9;

enum class RecordType : uint8_t { Clock = 1, Open = 2, Close = 3, Burst = 4 };
enum class Direction : uint8_t { HostToUnit = 0, UnitToHost = 1 };

struct Record {
    RecordType type = RecordType::Burst;
    uint8_t device = 0;
    uint64_t micros = 0;  // on the device's own clock
    size_t offset = 0;    // where the record starts in the file
    // Clock
    int64_t wallMicros = 0;  // microseconds since 1970-01-01 UTC at `micros`
    // Open
    uint32_t speed = 0;
    uint8_t dataBits = 0, parity = 0, stopBits = 0, port = 0;
    // Clock: who wrote it; Open: the device path
    std::string text;
    // Burst
    Direction direction = Direction::HostToUnit;
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> encodeHeader();
std::vector<uint8_t> encodeClock(uint8_t device, uint64_t micros, int64_t wallMicros,
                                 std::string_view origin);
std::vector<uint8_t> encodeOpen(uint8_t device, uint64_t micros, uint32_t speed, uint8_t dataBits,
                                uint8_t parity, uint8_t stopBits, uint8_t port,
                                std::string_view path);
std::vector<uint8_t> encodeClose(uint8_t device, uint64_t micros);
// Appends one burst record (or several, for more than kMaxBurst bytes).
void appendBurst(std::vector<uint8_t> &out, uint8_t device, uint64_t micros, Direction direction,
                 std::span<const uint8_t> bytes);

struct Parsed {
    std::vector<Record> records;  // every record before any error
    std::string error;            // empty when the whole file was read
    size_t errorOffset = 0;
    bool ok() const { return error.empty(); }
};

// A zero byte where a record's type belongs ends the file (the unused tail
// of a capture that was not finished).  Records of unknown type are skipped
// (a later minor addition); a newer
// version, a bad magic, a short or malformed record stop the reading with an
// error at its offset.
Parsed parse(std::span<const uint8_t> file);

// Wall-clock microseconds of a moment on a device's clock, from the last
// Clock record of that device before record `index` (0 when there is none).
int64_t wallTime(const std::vector<Record> &records, size_t index);

// True when the bytes start like a capture file.
bool looksLikeCapture(std::span<const uint8_t> file);

}  // namespace rslink::capture
