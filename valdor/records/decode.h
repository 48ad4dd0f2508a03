// Offline decoding of a capture or of a saved message box: every frame with
// its time and direction, the request by name, the response field by field
// as `show response` prints it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

namespace valdor::records {

// The requests of this console by command code, with the names the
// decoders show (and the dissector, which the build writes from them).
struct RequestName {
    uint8_t code;
    std::string_view name;
};
std::span<const RequestName> requestNames();

// The request's name by its command code, or "" for a text that is no
// request of this console.
std::string_view requestName(std::span<const uint8_t> text);

// Decodes `content` (a capture or trace text; `name` for error messages).
// Returns 0, or 2 after printing to `err` what was wrong and where; what
// came before the fault is printed.
int decode(std::string_view name, std::span<const uint8_t> content, std::FILE *out,
           std::FILE *err);

// Reads FILE and decodes it.
int decodeFile(const std::string &path, std::FILE *out, std::FILE *err);

}  // namespace valdor::records
