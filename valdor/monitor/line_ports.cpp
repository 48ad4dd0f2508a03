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
namespace {

bool fail(std::string &why, const std::string &what) {
    why = what + ": " + std::strerror(errno);
    return false;
}

}  // namespace

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

bool LineDevice::configure(int fd, std::string &why) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return fail(why, "cannot read the line settings of " + path_);
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
    if (tcsetattr(fd, TCSANOW, &t) != 0) return fail(why, "cannot set " + path_ + " raw");
    return true;
}

bool LineDevice::open(const std::string &path, bool writable, std::string &why) {
    close();
    path_ = path;
    fd_ = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return fail(why, "cannot open " + path);
    if (!isatty(fd_)) {
        errno = ENOTTY;
        fail(why, "cannot use " + path);
        close();
        return false;
    }
    // Another program on the same line would steal bytes from the watch.
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        fail(why, "cannot claim " + path + " (in use)");
        close();
        return false;
    }
    locked_ = true;
    pty_ = isPty(fd_);
    if (!configure(fd_, why)) {
        close();
        return false;
    }
    tcflush(fd_, TCIFLUSH);  // what waited before the watch began is no part of it
    return true;
}

bool LineDevice::createPty(std::string &why) {
    close();
    path_ = "a new pseudo-terminal";
    rslink::platform::Pty pty;
    rslink::platform::PtyStep failed{};
    if (const int error = rslink::platform::openPty(pty, O_NONBLOCK, O_NONBLOCK, &failed)) {
        errno = error;
        switch (failed) {
            case rslink::platform::PtyStep::Name: return fail(why, "cannot name the pseudo-terminal");
            case rslink::platform::PtyStep::OpenSlave:
                path_ = pty.slavePath;
                return fail(why, "cannot open " + path_);
            default: return fail(why, "cannot create a pseudo-terminal");
        }
    }
    fd_ = pty.master;
    heldSlave_ = pty.slave;
    path_ = pty.slavePath;
    pty_ = true;
    if (!configure(heldSlave_, why) || !configure(fd_, why)) {
        close();
        return false;
    }
    return true;
}

}  // namespace valdor::monitor
