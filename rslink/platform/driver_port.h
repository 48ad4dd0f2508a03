// What the driver needs of the line it opened, a local serial port or one
// reached over the network: the protocol core's port, plus the line
// controls, the capture's listener, the hang-up and the close.
#pragma once

#include <string>

#include "rslink/core/line_listener.h"
#include "rslink/core/line_port.h"

namespace rslink::platform {

class DriverPort : public core::LinePort {
public:
    // Longest a write may take before it counts as failed.
    static constexpr int kWriteBoundMs = 3000;
    // Longest a read waits for a first byte before it returns with none; a
    // safety net only, since wake() ends the wait when anything changes.
    static constexpr int kReadSliceMs = 250;

    // Every byte of the line read or written goes to the listener too,
    // while one is set (null: none).  The listener must outlive the port.
    virtual void setListener(core::LineListener *listener) = 0;

    // The DTR and RTS controls of the line-control record.
    virtual void setDtrControl(bool on) = 0;
    virtual void setRtsControl(bool on) = 0;

    // The system's error number of the hang-up (see gone()).
    virtual int goneError() const = 0;
    // The device path or the network name it was opened by.
    virtual const std::string &path() const = 0;

    // Lowers RTS and DTR and closes.  Callers make sure no thread uses the
    // port.
    virtual void close() = 0;
    // At process exit: the line left as it was found where that matters;
    // other threads may still hold the port.
    virtual void restoreAtExit() = 0;
};

}  // namespace rslink::platform
