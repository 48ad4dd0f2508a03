#include "valdor/monitor/line_ports.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

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
