#include "rslink/platform/fd_io.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace rslink::platform {

Result<WakeSignal> WakeSignal::create() {
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) return Failure::ofErrno("cannot create a wake-up descriptor");
    return WakeSignal(fd);
}

WakeSignal::WakeSignal(WakeSignal &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

WakeSignal::~WakeSignal() {
    if (fd_ >= 0) ::close(fd_);
}

void WakeSignal::raise() const {
    const uint64_t one = 1;
    ssize_t ignored = ::write(fd_, &one, sizeof one);
    (void)ignored;
}

void WakeSignal::drain() const {
    uint64_t count;
    ssize_t ignored = ::read(fd_, &count, sizeof count);
    (void)ignored;
}

int WakeSignal::waitReadable(int fd, int timeoutMs, short &events) const {
    pollfd fds[2] = {{fd, POLLIN, 0}, {fd_, POLLIN, 0}};
    const int ready = poll(fds, 2, timeoutMs);
    events = ready < 0 ? 0 : fds[0].revents;
    if (ready > 0 && (fds[1].revents & POLLIN)) drain();
    return ready;
}

Result<> writeAll(int fd, const void *data, size_t size, int waitMs) {
    const auto *bytes = static_cast<const uint8_t *>(data);
    auto fail = [](int error) { return Failure::of(error, "cannot write"); };
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n > 0) {
            bytes += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return fail(errno);
        pollfd p{fd, POLLOUT, 0};
        const int ready = poll(&p, 1, waitMs);
        if (ready == 0) return fail(ETIMEDOUT);
        if (ready < 0 && errno != EINTR) return fail(errno);
        if (ready > 0 && (p.revents & (POLLERR | POLLHUP)) && !(p.revents & POLLOUT)) return fail(EIO);
    }
    return {};
}

Result<> makeRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return Failure::ofErrno("cannot make the terminal raw");
    cfmakeraw(&settings);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &settings) != 0) return Failure::ofErrno("cannot make the terminal raw");
    return {};
}

Result<Pty> openPty(int masterFlags, int slaveFlags) {
    Pty pty;
    auto fail = [&](const std::string &what) {
        Failure failure = Failure::ofErrno(what);
        if (pty.master >= 0) ::close(pty.master);
        return failure;
    };
    const int common = O_RDWR | O_NOCTTY | O_CLOEXEC;
    pty.master = posix_openpt(common | masterFlags);
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0)
        return fail("cannot create a pseudo-terminal");
    char name[128];
    if (const int error = ptsname_r(pty.master, name, sizeof name)) {
        errno = error;
        return fail("cannot name the pseudo-terminal");
    }
    pty.slavePath = name;
    if (slaveFlags != kNoSlave) {
        pty.slave = ::open(name, common | slaveFlags);
        if (pty.slave < 0) return fail("cannot open " + pty.slavePath);
    }
    return pty;
}

}  // namespace rslink::platform
