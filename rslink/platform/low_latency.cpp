#include "rslink/platform/low_latency.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "rslink/platform/diag.h"

namespace rslink::platform {

namespace {

constexpr const char *kLowTimerMs = "1";

// Returns 0 or the error number.
int writeAttribute(const std::string &file, const std::string &value) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    const std::string text = value + "\n";
    const ssize_t n = ::write(fd, text.data(), text.size());
    const int error = n == static_cast<ssize_t>(text.size()) ? 0 : (n < 0 ? errno : EIO);
    ::close(fd);
    return error;
}

}  // namespace

LowLatency LowLatency::apply(int fd, const std::string &path, const SystemRoots &roots) {
    LowLatency l;
    const std::string name = ttyNameOf(path, roots);
    if (name.empty() || usbDeviceDir(name, roots).empty()) return l;

    std::string flagWhy;
    serial_struct info{};
    if (ioctl(fd, TIOCGSERIAL, &info) == 0) {
        if (info.flags & ASYNC_LOW_LATENCY) {
            flagWhy = "already set";
        } else {
            info.flags |= ASYNC_LOW_LATENCY;
            l.flagRaised_ = ioctl(fd, TIOCSSERIAL, &info) == 0;
            if (!l.flagRaised_) flagWhy = std::strerror(errno);
        }
    } else {
        flagWhy = std::strerror(errno);
    }

    std::string timerWhy;
    bool timerLow = false;
    const std::string timer = ttyDeviceDir(name, roots) + "/latency_timer";
    const std::string saved = readAttribute(timer);
    if (saved.empty()) {
        timerWhy = "no latency_timer";
    } else if (saved == kLowTimerMs) {
        timerLow = true;
    } else if (const int error = writeAttribute(timer, kLowTimerMs); error == 0) {
        l.timerFile_ = timer;
        l.savedTimer_ = saved;
        timerLow = true;
    } else {
        timerWhy = "latency_timer not writable: " + std::string(std::strerror(error));
    }

    if (l.flagRaised_ || timerLow || flagWhy == "already set") {
        l.state_ = State::Set;
    } else {
        l.state_ = State::Unavailable;
        l.note_ = "low-latency flag refused (" + flagWhy + "), " + timerWhy;
        diag("%s: low latency not available: %s", path.c_str(), l.note_.c_str());
    }
    return l;
}

void LowLatency::restore(int fd) {
    if (flagRaised_) {
        serial_struct info{};
        if (ioctl(fd, TIOCGSERIAL, &info) == 0) {
            info.flags &= ~ASYNC_LOW_LATENCY;
            ioctl(fd, TIOCSSERIAL, &info);
        }
        flagRaised_ = false;
    }
    if (!timerFile_.empty()) {
        if (const int error = writeAttribute(timerFile_, savedTimer_); error != 0)
            diag("cannot put %s back to %s: %s", timerFile_.c_str(), savedTimer_.c_str(),
                 std::strerror(error));
        timerFile_.clear();
    }
}

}  // namespace rslink::platform
