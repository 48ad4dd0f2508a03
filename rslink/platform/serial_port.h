// A serial line over termios: COM n mapped to a device path, opened for
// exclusive use, set to raw bytes at the given line settings, read and
// written without blocking for long.  A pseudo-terminal gets what it
// supports: no parity, no modem lines.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include <termios.h>

#include "rslink/core/result.h"
#include "rslink/platform/driver_port.h"
#include "rslink/platform/fd_io.h"
#include "rslink/platform/low_latency.h"
#include "rslink/platform/port_map.h"

namespace rslink::platform {

struct LineSettings {
    int speed = 9600;
    int dataBits = 8;
    int parity = 2;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 0;  // 0 one, 1 one and a half, 2 two
};

// The value lists a line setting is checked against.
bool speedAccepted(int speed);
bool dataBitsAccepted(int bits);
bool parityAccepted(int parity);
bool stopBitsAccepted(int stop_bits);

class SerialPort final : public DriverPort {
public:
    // Opens and sets up the device.  A failure names the device and the
    // system's reason; its error is EBUSY when another open holds the
    // device, ENOTTY when it is no terminal.  A USB adapter is put into low
    // latency (see LowLatency); `roots` says where sysfs is.
    static Result<std::unique_ptr<SerialPort>> open(const std::string &path,
                                                    const LineSettings &settings,
                                                    const SystemRoots &roots = {});
    ~SerialPort() override;

    core::ReadResult read(uint8_t *buffer, size_t size) override;
    bool write(const uint8_t *data, size_t size) override;
    void wake() override;

    void setListener(core::LineListener *listener) override { listener_.store(listener); }

    // Applied at once on a real line, only remembered on a pty.
    void setDtrControl(bool on) override;
    void setRtsControl(bool on) override;
    bool dtrControl() const;
    bool rtsControl() const;

    // Hang-up seen (POLLHUP/POLLERR, end of file, EIO): the line is gone
    // for good, every read and write fails at once.
    bool gone() const override { return gone_.load(); }
    // The system's error number of the hang-up: that of the failed call, or
    // EIO for a hang-up seen by poll or an end of file.
    int goneError() const override { return goneError_.load(); }
    bool isPty() const { return pty_; }
    const std::string &path() const override { return path_; }
    const LowLatency &latency() const { return latency_; }

    // Lowers RTS and DTR, purges, restores the saved settings, gives up the
    // exclusive claim and closes.
    void close() override;

    // Lines down and settings restored, the descriptor left to the kernel.
    void restoreAtExit() override;

private:
    SerialPort(int fd, WakeSignal wake, std::string path, bool pty, const termios &saved);
    Result<> configure(const LineSettings &settings);
    Result<> applyModemLines();
    void applyModemLinesOrSay();
    bool setModemLine(int line, bool on);
    bool writeAll(const uint8_t *data, size_t size);
    bool lineErrorFlagged();
    void markGone(const char *what, int error);
    void releaseLine();

    std::atomic<int> fd_;
    const WakeSignal wake_;
    const std::string path_;
    const bool pty_;
    const termios saved_;
    LowLatency latency_;  // set once in open(), restored at close
    std::atomic<bool> gone_{false};
    std::atomic<core::LineListener *> listener_{nullptr};
    std::atomic<int> goneError_{0};

    mutable std::mutex lineMutex_;  // writes and the line-control record
    bool dtrControl_ = true;
    bool rtsControl_ = true;

    // Reader side only (one reader at a time by the driver's hand-over).
    bool countsErrors_ = false;
    long lineErrors_ = 0;
};

}  // namespace rslink::platform
