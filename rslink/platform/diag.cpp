#include "rslink/platform/diag.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace rslink::platform {

void diag(const char *format, ...) {
    static const bool enabled = std::getenv("RSLINK_DEBUG") != nullptr;
    if (!enabled) return;
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::fprintf(stderr, "rslink: %s\n", line);
}

}  // namespace rslink::platform
