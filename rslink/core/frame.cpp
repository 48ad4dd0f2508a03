#include "rslink/core/frame.h"

namespace rslink {

uint32_t crcUpdate(uint32_t crc, uint8_t byte) {
    for (int bit = 0; bit < 8; ++bit) {
        if ((crc ^ byte) & 1u)
            crc = (crc >> 1) ^ 0x8408u;
        else
            crc >>= 1;
        byte >>= 1;
    }
    return crc & 0xFFFFu;
}

uint16_t crc16(const uint8_t *data, size_t length) {
    uint32_t crc = 0;
    for (size_t i = 0; i < length; ++i) crc = crcUpdate(crc, data[i]);
    return static_cast<uint16_t>(crc);
}

size_t buildFrame(const uint8_t *text, size_t length, uint8_t *out) {
    size_t n = 0;
    out[n++] = DLE;
    out[n++] = STX;
    out[n++] = static_cast<uint8_t>(length >> 8);
    out[n++] = static_cast<uint8_t>(length);
    for (size_t i = 0; i < length; ++i) out[n++] = text[i];
    out[n++] = DLE;
    out[n++] = ETX;
    uint16_t crc = crc16(out + 2, n - 2);
    out[n++] = static_cast<uint8_t>(crc);
    out[n++] = static_cast<uint8_t>(crc >> 8);
    return n;
}

}  // namespace rslink
