// The devices the monitor watches: opened for reading only (a tap) or for
// both ways (a relay), set raw so that no byte is echoed, translated or
// held back, and given only what the device supports: a pty carries whole
// bytes and has no parity and no modem lines, so it gets neither.  A
// relay's side may be a network port instead (tcp://HOST:PORT or
// rfc2217://HOST:PORT), reached as the driver reaches it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "rslink/core/result.h"
#include "rslink/platform/net_link.h"

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

    // Opens PATH; `writable` false opens it for reading only.  A network
    // port's name connects instead, and only for both ways: a tap never
    // writes, and a network port must be answered.  A failure names the
    // device and the reason.
    rslink::Result<> open(const std::string &path, bool writable);
    // Creates a pty: this side holds the master, a host program opens
    // path().  The slave is kept open here too, so that the master does not
    // report a hang-up while no host has it open.
    rslink::Result<> createPty();

    // What to wait on in poll().
    int fd() const { return link_ ? link_->fd() : fd_; }
    const std::string &path() const { return path_; }
    bool pty() const { return pty_; }
    // Bytes already taken off the network and not yet read: read them
    // without waiting in poll().
    bool pending() const { return link_ && link_->pending(); }

    // Reads what is waiting, up to `size` bytes (0: nothing there).  A
    // failure: the device hung up or failed, or the server closed.
    rslink::Result<size_t> readSome(uint8_t *buffer, size_t size);
    // Writes all bytes, waiting at most `waitMs` for room each time.  A
    // failure carries the system's number; the caller names the device.
    rslink::Result<> writeAll(const uint8_t *data, size_t size, int waitMs);

private:
    rslink::Result<> configure(int fd);
    rslink::Result<> connect(const std::string &name);
    void close();

    int fd_ = -1;
    int heldSlave_ = -1;
    std::string path_;
    bool pty_ = false;
    bool locked_ = false;
    std::unique_ptr<rslink::platform::NetLink> link_;
};

// True for a pty, either end.
bool isPty(int fd);

}  // namespace valdor::monitor
