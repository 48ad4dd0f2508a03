#include "rslink/platform/serial_port.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "rslink/platform/diag.h"

namespace rslink::platform {

namespace {

struct SpeedCode {
    int bps;
    speed_t code;
};
constexpr std::array<SpeedCode, 13> kSpeeds = {{
    {110, B110}, {300, B300}, {1200, B1200}, {2400, B2400}, {4800, B4800},
    {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
}};

// Data bits 4 pass the range check but no termios character size exists for
// them: setting them up fails.
struct SizeCode {
    int bits;
    tcflag_t flags;
};
constexpr std::array<SizeCode, 4> kSizes = {{{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}}};

constexpr std::array<tcflag_t, 5> kParityFlags = {
    0,                         // none
    PARENB | PARODD,           // odd
    PARENB,                    // even
    PARENB | PARODD | CMSPAR,  // mark
    PARENB | CMSPAR,           // space
};

constexpr tcflag_t kLineFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

// Unix98 pty slaves use majors 136-143; the old BSD ones major 3.
bool isPtySlave(int fd) {
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned m = major(st.st_rdev);
    return (m >= 136 && m <= 143) || m == 3;
}

const SpeedCode *findSpeed(int bps) {
    for (const auto &s : kSpeeds)
        if (s.bps == bps) return &s;
    return nullptr;
}

bool transient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

int msLeft(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

bool speedAccepted(int speed) { return findSpeed(speed) != nullptr; }
bool dataBitsAccepted(int bits) { return bits >= 4 && bits <= 8; }
bool parityAccepted(int parity) { return parity >= 0 && parity <= 4; }
bool stopBitsAccepted(int stop_bits) { return stop_bits >= 0 && stop_bits <= 2; }

Result<std::unique_ptr<SerialPort>> SerialPort::open(const std::string &path,
                                                     const LineSettings &settings,
                                                     const SystemRoots &roots) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Failure::ofErrno("cannot open " + path);
    // The failure is taken before the close, which may change errno.
    auto refuse = [fd](const std::string &what) {
        Failure failure = Failure::ofErrno(what);
        ::close(fd);
        return failure;
    };
    if (!isatty(fd)) return refuse("cannot use " + path);
    // TIOCEXCL does not stop root, the lock does; another process or another
    // open in this one fails here instead of sharing the line.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Said as the busy device it is, not as "try again".
        if (errno == EWOULDBLOCK) errno = EBUSY;
        return refuse("cannot claim " + path + " (in use)");
    }
    termios saved{};
    if (ioctl(fd, TIOCEXCL) != 0 || tcgetattr(fd, &saved) != 0)
        return refuse("cannot take " + path + " for exclusive use");
    Result<WakeSignal> wake = WakeSignal::create();
    if (!wake) {
        Failure failure{wake.failure().error, wake.failure().why + " for " + path};
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        return failure;
    }
    std::unique_ptr<SerialPort> port(new SerialPort(fd, std::move(*wake), path, isPtySlave(fd), saved));
    if (Result<> configured = port->configure(settings); !configured) {
        port->close();
        return configured.failure();
    }
    port->latency_ = LowLatency::apply(fd, path, roots);
    return port;
}

SerialPort::SerialPort(int fd, WakeSignal wake, std::string path, bool pty, const termios &saved)
    : fd_(fd), wake_(std::move(wake)), path_(std::move(path)), pty_(pty), saved_(saved) {}

SerialPort::~SerialPort() { close(); }

// Raw bytes at the given speed and character format, receiver on, modem
// status lines ignored, no flow control of any kind (XON/XOFF would swallow
// 0x11 and 0x13 bytes of a text or check code), parity checked.
Result<> SerialPort::configure(const LineSettings &settings) {
    const int fd = fd_.load();
    const SpeedCode *speed = findSpeed(settings.speed);
    const SizeCode *sizeCode = nullptr;
    for (const auto &s : kSizes)
        if (s.bits == settings.dataBits) sizeCode = &s;
    tcflag_t size = sizeCode ? sizeCode->flags : 0;
    // One and a half stop bits exist only beside 5 data bits, where the UART
    // makes them from the two-stop-bit setting.
    const bool stopsOk = settings.stopBits != 1 || settings.dataBits == 5;
    if (!speed || !sizeCode || !stopsOk || !parityAccepted(settings.parity)) {
        return Failure::of(EINVAL, "cannot set " + path_ + " to the line settings");
    }
    termios t = saved_;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                   IXANY | IGNPAR | IUCLC | IMAXBEL);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~kLineFlags;
    // A pty carries whole bytes: it refuses parity and keeps 8 data bits.
    if (pty_) size = CS8;
    t.c_cflag |= CREAD | CLOCAL | size;
    if (settings.stopBits != 0) t.c_cflag |= CSTOPB;
    const tcflag_t parity = pty_ ? 0 : kParityFlags[static_cast<size_t>(settings.parity)];
    t.c_cflag |= parity;
    if (parity) t.c_iflag |= INPCK;
    else t.c_iflag &= ~INPCK;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed->code);
    cfsetospeed(&t, speed->code);
    if (tcsetattr(fd, TCSANOW, &t) != 0) return Failure::ofErrno("cannot set up " + path_);

    // tcsetattr succeeds when any part was taken: read back what holds.
    termios now{};
    if (tcgetattr(fd, &now) != 0) return Failure::ofErrno("cannot read back " + path_);
    const bool taken = (now.c_cflag & kLineFlags) == (t.c_cflag & kLineFlags) &&
                       cfgetospeed(&now) == speed->code &&
                       (now.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP)) == 0 &&
                       (now.c_lflag & (ICANON | ECHO | ISIG)) == 0;
    if (!taken)
        return Failure::of(EINVAL, path_ + " did not take the line settings");

    serial_icounter_struct counts{};
    countsErrors_ = !pty_ && ioctl(fd, TIOCGICOUNT, &counts) == 0;
    if (countsErrors_)
        lineErrors_ = counts.frame + counts.parity + counts.overrun + counts.buf_overrun + counts.brk;

    std::lock_guard lock(lineMutex_);
    dtrControl_ = true;
    rtsControl_ = true;
    return applyModemLines();
}

// ---- modem lines -----------------------------------------------------------

bool SerialPort::setModemLine(int line, bool on) {
    int bits = line;
    return ioctl(fd_.load(), on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

// Caller holds lineMutex_.  A pty has no modem lines: the record is only kept.
Result<> SerialPort::applyModemLines() {
    if (pty_ || (setModemLine(TIOCM_DTR, dtrControl_) && setModemLine(TIOCM_RTS, rtsControl_)))
        return {};
    return Failure::ofErrno("cannot set DTR/RTS on " + path_);
}

// Where no caller waits for the outcome (the interface does not report it),
// a failure is only said on the diagnostic channel.
void SerialPort::applyModemLinesOrSay() {
    if (Result<> applied = applyModemLines(); !applied) diag("%s", applied.failure().why.c_str());
}

void SerialPort::setDtrControl(bool on) {
    std::lock_guard lock(lineMutex_);
    dtrControl_ = on;
    applyModemLinesOrSay();
}

void SerialPort::setRtsControl(bool on) {
    std::lock_guard lock(lineMutex_);
    rtsControl_ = on;
    applyModemLinesOrSay();
}

bool SerialPort::dtrControl() const {
    std::lock_guard lock(lineMutex_);
    return dtrControl_;
}

bool SerialPort::rtsControl() const {
    std::lock_guard lock(lineMutex_);
    return rtsControl_;
}

// ---- reading ---------------------------------------------------------------

void SerialPort::wake() { wake_.raise(); }

void SerialPort::markGone(const char *what, int error) {
    if (goneError_.load() == 0) goneError_.store(error ? error : EIO);
    if (!gone_.exchange(true))
        diag("%s on %s: %s; the line is gone", what, path_.c_str(),
             error ? std::strerror(error) : "hang-up");
}

core::ReadResult SerialPort::read(uint8_t *buffer, size_t size) {
    if (gone_.load()) return {true, 0};
    const int fd = fd_.load();
    short line = 0;
    if (wake_.waitReadable(fd, kReadSliceMs, line) < 0) {
        if (errno == EINTR) return {false, 0};
        markGone("poll", errno);
        return {true, 0};
    }
    if (line & POLLIN) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n > 0) {
            if (auto *l = listener_.load(std::memory_order_acquire))
                l->received(buffer, static_cast<size_t>(n));
            if (lineErrorFlagged()) return {true, 0};
            return {false, static_cast<size_t>(n)};
        }
        if (n < 0 && transient(errno)) return {false, 0};
        markGone("read", n == 0 ? 0 : errno);
        return {true, 0};
    }
    if (line & (POLLHUP | POLLERR | POLLNVAL)) {
        markGone("poll", 0);
        return {true, 0};
    }
    if (auto *l = listener_.load(std::memory_order_acquire)) l->quiet();
    return {false, 0};
}

// Framing, parity, overrun and break count as a failed read.
bool SerialPort::lineErrorFlagged() {
    if (!countsErrors_) return false;
    serial_icounter_struct counts{};
    if (ioctl(fd_.load(), TIOCGICOUNT, &counts) != 0) return false;
    const long errors =
        counts.frame + counts.parity + counts.overrun + counts.buf_overrun + counts.brk;
    if (errors == lineErrors_) return false;
    diag("line error on %s (framing %d, parity %d, overrun %d)", path_.c_str(), counts.frame,
         counts.parity, counts.overrun);
    lineErrors_ = errors;
    return true;
}

// ---- writing ---------------------------------------------------------------

// With RTS control off, RTS is raised for the write and lowered only once the
// bytes have left the port; lowering it earlier cuts the frame short.
bool SerialPort::write(const uint8_t *data, size_t size) {
    std::lock_guard lock(lineMutex_);
    if (gone_.load()) return false;
    const bool pulseRts = !rtsControl_ && !pty_;
    if (pulseRts) setModemLine(TIOCM_RTS, true);
    if (auto *l = listener_.load(std::memory_order_acquire)) l->sent(data, size);
    bool ok = writeAll(data, size);
    if (pulseRts) {
        if (ok && tcdrain(fd_.load()) != 0) ok = false;
        setModemLine(TIOCM_RTS, false);
    }
    return ok;
}

bool SerialPort::writeAll(const uint8_t *data, size_t size) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteBoundMs);
    const int fd = fd_.load();
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && !transient(errno)) {
            markGone("write", errno);
            return false;
        }
        pollfd out{fd, POLLOUT, 0};
        const int left = msLeft(deadline);
        const int ready = left > 0 ? poll(&out, 1, left) : 0;
        if (ready == 0) {
            diag("write to %s did not complete within %d ms", path_.c_str(), kWriteBoundMs);
            return false;
        }
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || (out.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            markGone("write", ready < 0 ? errno : 0);
            return false;
        }
    }
    return true;
}

// ---- closing ---------------------------------------------------------------

// Bytes already written (the last acknowledgement of an exchange) are let
// leave before the lines drop; only unread input is purged.  Nothing is
// pending otherwise: writes complete before they return.
void SerialPort::releaseLine() {
    const int fd = fd_.load();
    if (!gone_.load()) tcdrain(fd);
    dtrControl_ = false;
    rtsControl_ = false;
    applyModemLinesOrSay();
    tcflush(fd, TCIFLUSH);
    latency_.restore(fd);
    tcsetattr(fd, TCSANOW, &saved_);
    ioctl(fd, TIOCNXCL);
}

void SerialPort::close() {
    std::lock_guard lock(lineMutex_);
    const int fd = fd_.load();
    if (fd < 0) return;
    releaseLine();
    gone_.store(true);
    ::close(fd);  // also drops the lock
    fd_.store(-1);
}

void SerialPort::restoreAtExit() {
    std::lock_guard lock(lineMutex_);
    if (fd_.load() < 0) return;
    releaseLine();
}

}  // namespace rslink::platform
