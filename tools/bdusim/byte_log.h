// The optional byte log: one line per burst read or written, with the local
// time to the microsecond, the direction and the bytes in hexadecimal:
//   14:03:07.412086 host>unit 10 05
//   14:03:07.412310 unit>host 10 06
// Events of the line (the host opening or closing it) are lines starting "#".
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "rslink/core/result.h"

namespace bdusim {

class ByteLog {
public:
    ByteLog() = default;
    ~ByteLog();
    ByteLog(const ByteLog &) = delete;
    ByteLog &operator=(const ByteLog &) = delete;

    // Creates or empties the file.
    rslink::Result<> open(const std::string &path);

    void fromHost(std::span<const uint8_t> bytes) { burst("host>unit", bytes); }
    void toHost(std::span<const uint8_t> bytes) { burst("unit>host", bytes); }
    void event(const std::string &text);

private:
    void burst(const char *direction, std::span<const uint8_t> bytes);
    std::string stamp() const;

    std::FILE *file_ = nullptr;
};

}  // namespace bdusim
