// The request text behind every command, built from the window's controls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rslink/rslink.h"

namespace valdor {

class Panel;

// Local date and time, as requests and traces show it.
struct LocalTime {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};
LocalTime localNow();

// As large as one of the driver's buffers, so any text the driver takes fits.
inline constexpr size_t kRequestBufferSize = RS_RECV_BUFFER_SIZE;
static_assert(kRequestBufferSize >= RS_MAX_SEND_TEXT);

// Builds the request of command 1..16 into `out` (kRequestBufferSize bytes)
// from the controls as they are now and returns its length.  Command 13
// builds the "Operational Log" request from P1/P2.  `now` is used by
// "Log All Clear".  Any other command number builds nothing and returns 0.
size_t buildRequest(int command, const Panel &panel, uint8_t *out, const LocalTime &now);

// The 9-byte operational-log request for (p1, p2) or (section, block).
size_t buildOperationalLogRequest(uint8_t p1, uint8_t p2, uint8_t *out);

// The "Bill Transport" request of the continuous sequence: the transport byte
// is the "Discharge amount" value OR 0x00 / 0x80 (deliver, front / rear) or
// OR 0x01 / 0x81 (watch bills to be removed), in the layout 1240 chooses.
size_t buildSequenceTransport(const Panel &panel, bool front, bool watch, uint8_t *out);

}  // namespace valdor
