// Descriptor helpers that every program of the tree shares: writing a whole
// buffer to a file, a pty or a device, and making a pseudo-terminal pair.
// No state and no knowledge of the line, so the console, the simulated unit,
// the benchmarks and the tests may all link them.
#pragma once

#include <cstddef>
#include <string>

#include "rslink/core/result.h"

namespace rslink::platform {

// An event descriptor that ends a wait in poll() from any thread: raise()
// makes it readable until the waiter drains it.  One object, one descriptor,
// closed with it.
class WakeSignal {
public:
    static Result<WakeSignal> create();
    WakeSignal(WakeSignal &&other) noexcept;
    WakeSignal &operator=(WakeSignal &&) = delete;
    ~WakeSignal();

    int fd() const { return fd_; }  // poll it for POLLIN
    void raise() const;
    void drain() const;
    // Waits up to `timeoutMs` for `fd` to be readable or for raise(),
    // draining a raise.  Returns poll()'s result (-1 with errno set);
    // `events` gets what happened on `fd`.
    int waitReadable(int fd, int timeoutMs, short &events) const;

private:
    explicit WakeSignal(int fd) : fd_(fd) {}
    int fd_;
};

// Writes all `size` bytes, repeating an interrupted or partial write.  A
// descriptor that has no room (O_NONBLOCK) is waited for, each time up to
// `waitMs` (-1: without bound); ETIMEDOUT when no room came in that time,
// EIO when the far end hung up while waiting.  The failure names no file:
// callers that show it name their own from `error`.
Result<> writeAll(int fd, const void *data, size_t size, int waitMs = -1);

// Raw mode: no echo, translation or signals, every byte as it comes
// (VMIN 1, VTIME 0).
Result<> makeRaw(int fd);

// A pseudo-terminal pair.  The descriptors belong to the caller.
struct Pty {
    int master = -1;
    int slave = -1;  // -1 unless asked for
    std::string slavePath;
};

// Leave the slave side closed (for someone else to open).
inline constexpr int kNoSlave = -1;

// Creates a pseudo-terminal: the master read-write, close-on-exec, no
// controlling terminal, plus `masterFlags` (such as O_NONBLOCK); with
// `slaveFlags` other than kNoSlave also opens the slave the same way plus
// those flags.  On failure nothing stays open, and the failure says which
// step failed: "cannot create a pseudo-terminal", "cannot name the
// pseudo-terminal" or "cannot open /dev/pts/N", with the system's reason.
Result<Pty> openPty(int masterFlags, int slaveFlags = kNoSlave);

}  // namespace rslink::platform
