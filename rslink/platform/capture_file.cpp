#include "rslink/platform/capture_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "rslink/core/capture_format.h"
#include "rslink/platform/diag.h"

namespace rslink::platform {

namespace cap = rslink::capture;

CaptureFile::~CaptureFile() { stop(); }

bool CaptureFile::start(const std::string &path, const char *origin) {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        flushPending();
        ::close(fd_);
        fd_ = -1;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int error = errno;
        diag("cannot create the capture %s: %s", path.c_str(), std::strerror(error));
        errno = error;
        return false;
    }
    fd_ = fd;
    path_ = path;
    origin_ = Clock::now();
    const auto wall = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    std::vector<uint8_t> head = cap::encodeHeader();
    const auto clock = cap::encodeClock(0, 0, wall.count(), origin);
    head.insert(head.end(), clock.begin(), clock.end());
    put(head);
    if (fd_ < 0) {
        errno = EIO;
        return false;
    }
    return true;
}

void CaptureFile::stop() {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return;
    flushPending();
    ::close(fd_);
    fd_ = -1;
    path_.clear();
}

bool CaptureFile::active() const {
    std::lock_guard lock(mutex_);
    return fd_ >= 0;
}

std::string CaptureFile::path() const {
    std::lock_guard lock(mutex_);
    return path_;
}

uint64_t CaptureFile::micros(Clock::time_point t) const {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(t - origin_).count());
}

void CaptureFile::opened(const CaptureOpenMark &m) {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return;
    flushPending();
    put(cap::encodeOpen(0, micros(Clock::now()), m.speed, m.dataBits, m.parity, m.stopBits, m.port,
                        m.path));
}

void CaptureFile::closed() {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return;
    flushPending();
    put(cap::encodeClose(0, micros(Clock::now())));
}

void CaptureFile::sent(const uint8_t *data, size_t size) {
    const auto now = Clock::now();
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return;
    flushPending();
    record_.clear();
    cap::appendBurst(record_, 0, micros(now), cap::Direction::HostToUnit, {data, size});
    put(record_);
}

void CaptureFile::received(const uint8_t *data, size_t size) {
    const auto now = Clock::now();
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return;
    if (!pending_.empty() && now - pendingLast_ > kBurstGap) flushPending();
    if (pending_.empty()) pendingStart_ = now;
    pending_.insert(pending_.end(), data, data + size);
    pendingLast_ = now;
}

void CaptureFile::quiet() {
    const auto now = Clock::now();
    std::lock_guard lock(mutex_);
    if (fd_ >= 0 && !pending_.empty() && now - pendingLast_ > kBurstGap) flushPending();
}

void CaptureFile::flushPending() {
    if (pending_.empty()) return;
    record_.clear();
    cap::appendBurst(record_, 0, micros(pendingStart_), cap::Direction::UnitToHost, pending_);
    pending_.clear();
    put(record_);
}

// One write per record; a failing file ends the capture, not the session.
void CaptureFile::put(const std::vector<uint8_t> &record) {
    size_t done = 0;
    while (done < record.size()) {
        const ssize_t n = ::write(fd_, record.data() + done, record.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        diag("capture %s: write failed (%s); capture stopped", path_.c_str(),
             n < 0 ? std::strerror(errno) : "nothing written");
        ::close(fd_);
        fd_ = -1;
        return;
    }
}

}  // namespace rslink::platform
