#include "valdor/monitor/line_ports.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include "rslink/core/port_name.h"
#include "rslink/platform/fd_io.h"

namespace valdor::monitor {

using rslink::Failure;
using rslink::Result;

bool isPty(int fd) {
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned m = major(st.st_rdev);
    // Unix98 slaves 136-143, BSD slaves 3 and masters 2, the multiplexer 5:2.
    if ((m >= 136 && m <= 143) || m == 2 || m == 3) return true;
    unsigned number = 0;
    return ioctl(fd, TIOCGPTN, &number) == 0;
}

LineDevice::~LineDevice() { close(); }

void LineDevice::close() {
    link_.reset();
    if (fd_ >= 0) {
        if (locked_) flock(fd_, LOCK_UN);
        ::close(fd_);
    }
    if (heldSlave_ >= 0) ::close(heldSlave_);
    fd_ = heldSlave_ = -1;
    locked_ = false;
}

Result<> LineDevice::configure(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return Failure::ofErrno("cannot read the line settings of " + path_);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB | PARODD);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (!isPty(fd)) {
        // Parity is set so that the bytes arrive as sent; it is not checked,
        // so that a byte the line damaged is still shown (and forwarded).
        t.c_cflag |= PARENB;
        cfsetispeed(&t, B9600);
        cfsetospeed(&t, B9600);
    }
    if (tcsetattr(fd, TCSANOW, &t) != 0) return Failure::ofErrno("cannot set " + path_ + " raw");
    return {};
}

// Nothing is left open after a failure; the failure is taken before the
// close, which may change errno.
Result<> LineDevice::open(const std::string &path, bool writable) {
    close();
    path_ = path;
    if (rslink::core::isNetworkName(path)) {
        if (!writable) return Failure{0, "a tap reads devices; " + path + " is a network port: watch it with --relay"};
        return connect(path);
    }
    fd_ = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return Failure::ofErrno("cannot open " + path);
    auto refuse = [this](Failure failure) {
        close();
        return failure;
    };
    if (!isatty(fd_)) {
        errno = ENOTTY;
        return refuse(Failure::ofErrno("cannot use " + path));
    }
    // Another program on the same line would steal bytes from the watch.
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) return refuse(Failure::ofErrno("cannot claim " + path + " (in use)"));
    locked_ = true;
    pty_ = isPty(fd_);
    if (Result<> configured = configure(fd_); !configured) return refuse(configured.failure());
    tcflush(fd_, TCIFLUSH);  // what waited before the watch began is no part of it
    return {};
}

// The line as the console sets it, asked of an rfc2217:// server too.
Result<> LineDevice::connect(const std::string &name) {
    const auto parsed = rslink::core::parseNetworkName(name);
    if (!parsed) return Failure{parsed.failure().error, "cannot open " + name + ": " + parsed.failure().why};
    rslink::platform::NetLinkOptions options;
    options.line = {kLineSpeed, 8, rslink::core::Parity::Even, rslink::core::StopSize::One};
    auto link = rslink::platform::NetLink::open(*parsed, options);
    if (!link) return Failure{link.failure().error, "cannot open " + name + ": " + link.failure().why};
    link_ = std::move(*link);
    if (const std::string refused = link_->refusedSettings(); !refused.empty())
        std::fprintf(stderr, "valdor: line setting refused by %s: %s\n", name.c_str(), refused.c_str());
    return {};
}

Result<size_t> LineDevice::readSome(uint8_t *buffer, size_t size) {
    if (link_) {
        const auto got = link_->read(buffer, size);
        if (!got) return Failure{got.failure().error, path_ + ": " + got.failure().why};
        if (got->count == 0 && got->closed) return Failure{ECONNRESET, path_ + ": the server closed the connection"};
        return got->count;
    }
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n > 0) return static_cast<size_t>(n);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return size_t{0};
        // A tty that reads 0 has lost its other end.
        return n == 0 ? Failure::of(EIO, path_) : Failure::ofErrno(path_);
    }
}

Result<> LineDevice::writeAll(const uint8_t *data, size_t size, int waitMs) {
    if (!link_) return rslink::platform::writeAll(fd_, data, size, waitMs);
    const Result<> written = link_->write(data, size, waitMs);
    if (written) return {};
    // No room in time, said as a descriptor's wait says it.
    const int error = written.failure().error == EAGAIN ? ETIMEDOUT : written.failure().error;
    return Failure::of(error, "cannot write");
}

Result<> LineDevice::createPty() {
    close();
    path_ = "a new pseudo-terminal";
    auto refuse = [this](Failure failure) {
        close();
        return failure;
    };
    auto pty = rslink::platform::openPty(O_NONBLOCK, O_NONBLOCK);
    if (!pty) return refuse(pty.failure());
    fd_ = pty->master;
    heldSlave_ = pty->slave;
    path_ = pty->slavePath;
    pty_ = true;
    for (int fd : {heldSlave_, fd_})
        if (Result<> configured = configure(fd); !configured) return refuse(configured.failure());
    return {};
}

}  // namespace valdor::monitor
