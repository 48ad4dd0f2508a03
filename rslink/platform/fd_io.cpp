#include "rslink/platform/fd_io.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace rslink::platform {

int writeAll(int fd, const void *data, size_t size, int waitMs) {
    const auto *bytes = static_cast<const uint8_t *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n > 0) {
            bytes += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
        pollfd p{fd, POLLOUT, 0};
        const int ready = poll(&p, 1, waitMs);
        if (ready == 0) return ETIMEDOUT;
        if (ready < 0 && errno != EINTR) return errno;
        if (ready > 0 && (p.revents & (POLLERR | POLLHUP)) && !(p.revents & POLLOUT)) return EIO;
    }
    return 0;
}

int makeRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return errno;
    cfmakeraw(&settings);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &settings) == 0 ? 0 : errno;
}

int openPty(Pty &pty, int masterFlags, int slaveFlags, PtyStep *failed) {
    pty = Pty{};
    auto fail = [&](PtyStep step) {
        const int error = errno;
        if (pty.master >= 0) ::close(pty.master);
        pty.master = pty.slave = -1;
        if (failed) *failed = step;
        return error;
    };
    const int common = O_RDWR | O_NOCTTY | O_CLOEXEC;
    pty.master = posix_openpt(common | masterFlags);
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) return fail(PtyStep::Create);
    char name[128];
    if (const int error = ptsname_r(pty.master, name, sizeof name)) {
        errno = error;
        return fail(PtyStep::Name);
    }
    pty.slavePath = name;
    if (slaveFlags != kNoSlave) {
        pty.slave = ::open(name, common | slaveFlags);
        if (pty.slave < 0) return fail(PtyStep::OpenSlave);
    }
    if (failed) *failed = PtyStep::None;
    return 0;
}

}  // namespace rslink::platform
