#include "tools/bdusim/pty_port.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "rslink/platform/fd_io.h"

namespace bdusim {
namespace {

constexpr long kBitsPerByte = 11;
constexpr size_t kReadChunk = 4096;
constexpr size_t kWriteChunk = 4096;

}  // namespace

PtyPort::PtyPort(long baud, ByteLog &log) : baud_(baud), log_(log) {
    if (baud_ > 0)
        byteTime_ = std::chrono::duration_cast<Clock::duration>(
            std::chrono::nanoseconds(kBitsPerByte * 1000000000LL / baud_));
}

PtyPort::~PtyPort() {
    if (master_ >= 0) ::close(master_);
}

rslink::Result<> PtyPort::open() {
    // The slave is opened once to set raw mode (the setting outlives the
    // open), so that no byte is echoed, translated or held back, and closed
    // again: from then on the master reports a hang-up while no host holds
    // the slave, which is how the unit sees the host come and go.
    const auto pty = rslink::platform::openPty(O_NONBLOCK, 0);
    if (!pty) return pty.failure();
    master_ = pty->master;
    slavePath_ = pty->slavePath;
    const auto raw = rslink::platform::makeRaw(pty->slave);
    ::close(pty->slave);
    if (!raw) return rslink::Failure::of(raw.failure().error, "cannot set raw mode on " + slavePath_);
    present_ = false;
    return {};
}

bool PtyPort::checkPresence() {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, 0) < 0) return false;
    const bool present = (p.revents & POLLHUP) == 0;
    if (present == present_) return false;
    if (present) {
        present_ = true;
        log_.event("the host opened the line");
    } else {
        hostLeft();
    }
    return true;
}

void PtyPort::hostLeft() {
    if (present_) log_.event("the host closed the line");
    present_ = false;
    blocked_ = false;
    received_.clear();
    pending_.clear();
    flushStaleInput();
}

// Bytes written just before the host closed would greet the next host; a
// short open of the slave empties its input.  If the host is already back
// and has the slave to itself, the open fails and nothing is lost.
void PtyPort::flushStaleInput() {
    const int slave = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) return;
    tcflush(slave, TCIFLUSH);
    ::close(slave);
}

TimePoint PtyPort::send(std::span<const uint8_t> bytes, TimePoint now) {
    if (!present_) return now;
    TimePoint leaves = now;
    if (byteTime_ == Clock::duration::zero()) {
        for (uint8_t byte : bytes) pending_.emplace_back(byte, now);
        writeDue(now);
        return now;
    }
    // A paced byte is on the host's side once its last bit has gone.
    sendClock_ = std::max(sendClock_, now);
    for (uint8_t byte : bytes) {
        sendClock_ += byteTime_;
        pending_.emplace_back(byte, sendClock_);
        leaves = sendClock_;
    }
    return leaves;
}

bool PtyPort::writeDue(TimePoint now) {
    while (present_ && !pending_.empty() && pending_.front().second <= now) {
        uint8_t chunk[kWriteChunk];
        size_t count = 0;
        for (auto it = pending_.begin(); it != pending_.end() && it->second <= now && count < kWriteChunk; ++it)
            chunk[count++] = it->first;
        const ssize_t written = ::write(master_, chunk, count);
        if (written < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                blocked_ = true;
                return true;
            }
            hostLeft();
            return false;
        }
        blocked_ = false;
        log_.toHost(std::span<const uint8_t>(chunk, static_cast<size_t>(written)));
        pending_.erase(pending_.begin(), pending_.begin() + written);
    }
    if (pending_.empty()) blocked_ = false;
    return present_;
}

bool PtyPort::readAvailable(TimePoint now) {
    for (;;) {
        uint8_t chunk[kReadChunk];
        const ssize_t count = ::read(master_, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && errno == EAGAIN) return true;
        if (count <= 0) {  // EIO: the host has closed the slave
            hostLeft();
            return false;
        }
        log_.fromHost(std::span<const uint8_t>(chunk, static_cast<size_t>(count)));
        receiveClock_ = std::max(receiveClock_, now);
        for (ssize_t i = 0; i < count; ++i) {
            receiveClock_ += byteTime_;
            received_.emplace_back(chunk[i], byteTime_ == Clock::duration::zero() ? now : receiveClock_);
        }
    }
}

void PtyPort::deliverDue(TimePoint now, const std::function<void(uint8_t)> &take) {
    while (present_ && !received_.empty() && received_.front().second <= now) {
        const uint8_t byte = received_.front().first;
        received_.pop_front();
        take(byte);
    }
}

TimePoint PtyPort::nextEvent() const {
    TimePoint next = TimePoint::max();
    if (!received_.empty()) next = received_.front().second;
    if (!pending_.empty() && !blocked_) next = std::min(next, pending_.front().second);
    return next;
}

}  // namespace bdusim
