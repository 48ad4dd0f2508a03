#include "rslink/core/capture_format.h"

#include <algorithm>
#include <cstring>

namespace rslink::capture {
namespace {

void put16(std::vector<uint8_t> &out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t> &out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put64(std::vector<uint8_t> &out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Starts a record; the payload length is filled in by finish().
size_t begin(std::vector<uint8_t> &out, RecordType type, uint8_t device, uint64_t micros) {
    const size_t at = out.size();
    out.push_back(static_cast<uint8_t>(type));
    out.push_back(device);
    put16(out, 0);
    put64(out, micros);
    return at;
}
void finish(std::vector<uint8_t> &out, size_t at) {
    const size_t payload = out.size() - at - kRecordHeaderSize;
    out[at + 2] = static_cast<uint8_t>(payload);
    out[at + 3] = static_cast<uint8_t>(payload >> 8);
}
void putText(std::vector<uint8_t> &out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.begin() + std::min<size_t>(text.size(), 1024));
}

uint64_t get(std::span<const uint8_t> b, size_t at, int size) {
    uint64_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<size_t>(i)];
    return v;
}

}  // namespace

std::vector<uint8_t> encodeHeader() {
    std::vector<uint8_t> out(std::begin(kMagic), std::end(kMagic));
    put16(out, kVersion);
    return out;
}

std::vector<uint8_t> encodeClock(uint8_t device, uint64_t micros, int64_t wallMicros,
                                 std::string_view origin) {
    std::vector<uint8_t> out;
    const size_t at = begin(out, RecordType::Clock, device, micros);
    put64(out, static_cast<uint64_t>(wallMicros));
    putText(out, origin);
    finish(out, at);
    return out;
}

std::vector<uint8_t> encodeOpen(uint8_t device, uint64_t micros, uint32_t speed, uint8_t dataBits,
                                uint8_t parity, uint8_t stopBits, uint8_t port,
                                std::string_view path) {
    std::vector<uint8_t> out;
    const size_t at = begin(out, RecordType::Open, device, micros);
    put32(out, speed);
    out.insert(out.end(), {dataBits, parity, stopBits, port});
    putText(out, path);
    finish(out, at);
    return out;
}

std::vector<uint8_t> encodeClose(uint8_t device, uint64_t micros) {
    std::vector<uint8_t> out;
    finish(out, begin(out, RecordType::Close, device, micros));
    return out;
}

void appendBurst(std::vector<uint8_t> &out, uint8_t device, uint64_t micros, Direction direction,
                 std::span<const uint8_t> bytes) {
    do {
        const size_t n = std::min(bytes.size(), kMaxBurst);
        const size_t at = begin(out, RecordType::Burst, device, micros);
        out.push_back(static_cast<uint8_t>(direction));
        out.insert(out.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        finish(out, at);
        bytes = bytes.subspan(n);
    } while (!bytes.empty());
}

bool looksLikeCapture(std::span<const uint8_t> file) {
    return file.size() >= sizeof kMagic && std::memcmp(file.data(), kMagic, sizeof kMagic) == 0;
}

Parsed parse(std::span<const uint8_t> file) {
    Parsed result;
    auto stop = [&](size_t offset, std::string why) {
        result.errorOffset = offset;
        result.error = std::move(why);
        return result;
    };
    if (!looksLikeCapture(file)) return stop(0, "not a capture file (no RSLCAP at the start)");
    if (file.size() < kHeaderSize) return stop(file.size(), "the header is cut short");
    const auto version = static_cast<unsigned>(get(file, 6, 2));
    if (version == 0 || version > kVersion)
        return stop(6, "capture format version " + std::to_string(version) +
                           " is not supported (this program reads version " +
                           std::to_string(kVersion) + ")");
    size_t at = kHeaderSize;
    while (at < file.size()) {
        const uint8_t type = file[at];
        // The zero bytes a capture that was never finished ends in.
        if (type == 0) break;
        if (file.size() - at < kRecordHeaderSize) return stop(at, "a record header is cut short");
        const size_t length = static_cast<size_t>(get(file, at + 2, 2));
        const size_t body = at + kRecordHeaderSize;
        if (file.size() - body < length)
            return stop(at, "a record of " + std::to_string(length) +
                                " bytes runs past the end of the file");
        if (length < 8) return stop(at, "a record is too short to hold its time");
        Record r;
        r.type = static_cast<RecordType>(type);
        r.device = file[at + 1];
        r.offset = at;
        r.micros = get(file, body, 8);
        const auto p = file.subspan(body + 8, length - 8);
        switch (r.type) {
            case RecordType::Clock:
                if (p.size() < 8) return stop(at, "a clock record is too short");
                r.wallMicros = static_cast<int64_t>(get(p, 0, 8));
                r.text.assign(p.begin() + 8, p.end());
                break;
            case RecordType::Open:
                if (p.size() < 8) return stop(at, "an open record is too short");
                r.speed = static_cast<uint32_t>(get(p, 0, 4));
                r.dataBits = p[4];
                r.parity = p[5];
                r.stopBits = p[6];
                r.port = p[7];
                r.text.assign(p.begin() + 8, p.end());
                break;
            case RecordType::Close:
                break;
            case RecordType::Burst:
                if (p.empty()) return stop(at, "a burst record has no direction");
                if (p[0] > 1)
                    return stop(at, "a burst record has direction " + std::to_string(p[0]) +
                                        " (0 or 1 expected)");
                r.direction = static_cast<Direction>(p[0]);
                r.bytes.assign(p.begin() + 1, p.end());
                break;
            default:
                at = body + length;
                continue;
        }
        result.records.push_back(std::move(r));
        at = body + length;
    }
    return result;
}

int64_t wallTime(const std::vector<Record> &records, size_t index) {
    const Record &r = records.at(index);
    for (size_t i = index + 1; i-- > 0;) {
        const Record &c = records[i];
        if (c.type == RecordType::Clock && c.device == r.device)
            // In unsigned arithmetic: a damaged or foreign clock wraps
            // instead of overflowing.
            return static_cast<int64_t>(static_cast<uint64_t>(c.wallMicros) + (r.micros - c.micros));
    }
    return static_cast<int64_t>(r.micros);
}

}  // namespace rslink::capture
