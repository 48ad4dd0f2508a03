// A capture file read back whole, for the tests that check what the driver,
// the console or the monitor recorded.  Inline, so that only the programs
// that read captures link the core's parser.
#pragma once

#include <filesystem>

#include "rslink/core/capture_format.h"
#include "support/shell.h"

namespace testsupport {

inline rslink::capture::Parsed readCapture(const std::filesystem::path &file) {
    const std::string bytes = slurp(file);
    return rslink::capture::parse({reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()});
}

}  // namespace testsupport
