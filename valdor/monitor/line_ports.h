// The devices the monitor watches: opened for reading only (a tap) or for
// both ways (a relay), set raw so that no byte is echoed, translated or
// held back, and given only what the device supports: a pty carries whole
// bytes and has no parity and no modem lines, so it gets neither.
#pragma once

#include <string>

#include "rslink/core/result.h"

namespace valdor::monitor {

// The line as the console sets it: 9600 baud, 8 data bits, even parity,
// one stop bit (parity and speed only on a real port).
inline constexpr unsigned kLineSpeed = 9600;

class LineDevice {
public:
    LineDevice() = default;
    ~LineDevice();
    LineDevice(const LineDevice &) = delete;
    LineDevice &operator=(const LineDevice &) = delete;

    // Opens PATH; `writable` false opens it for reading only.  A failure
    // names the device and the system's reason.
    rslink::Result<> open(const std::string &path, bool writable);
    // Creates a pty: this side holds the master, a host program opens
    // path().  The slave is kept open here too, so that the master does not
    // report a hang-up while no host has it open.
    rslink::Result<> createPty();

    int fd() const { return fd_; }
    const std::string &path() const { return path_; }
    bool pty() const { return pty_; }

private:
    rslink::Result<> configure(int fd);
    void close();

    int fd_ = -1;
    int heldSlave_ = -1;
    std::string path_;
    bool pty_ = false;
    bool locked_ = false;
};

// True for a pty, either end.
bool isPty(int fd);

}  // namespace valdor::monitor
