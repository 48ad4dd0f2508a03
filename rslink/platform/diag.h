// Diagnostics of the driver, written to standard error only when the
// environment variable RSLINK_DEBUG is set: a library keeps quiet otherwise.
#pragma once

namespace rslink::platform {

void diag(const char *format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace rslink::platform
