#include "rslink/platform/capture_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "rslink/core/capture_format.h"
#include "rslink/platform/diag.h"

namespace rslink::platform {

namespace cap = rslink::capture;

CaptureFile::~CaptureFile() { stop(); }

Result<> CaptureFile::start(const std::string &path, const char *origin) {
    std::lock_guard lock(mutex_);
    finishFile();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        Failure failure = Failure::ofErrno("cannot create the capture " + path);
        diag("%s", failure.why.c_str());
        return failure;
    }
    fd_ = fd;
    path_ = path;
    used_ = mapped_ = 0;
    map_ = nullptr;
    origin_ = now_();
    const auto wall = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    std::vector<uint8_t> head = cap::encodeHeader();
    const auto clock = cap::encodeClock(0, 0, wall.count(), origin);
    head.insert(head.end(), clock.begin(), clock.end());
    put(head);
    // put() has said why the file cannot grow and ended the capture.
    if (fd_ < 0) return Failure::of(EIO, "cannot write the capture " + path);
    return {};
}

void CaptureFile::stop() {
    std::lock_guard lock(mutex_);
    finishFile();
}

// The last burst, then the file cut to what was used.
void CaptureFile::finishFile() {
    if (fd_ < 0) return;
    flushPending();
    if (map_) munmap(map_, mapped_);
    if (ftruncate(fd_, static_cast<off_t>(used_)) != 0)
        diag("capture %s: cannot cut the file to its %zu bytes: %s", path_.c_str(), used_,
             std::strerror(errno));
    ::close(fd_);
    fd_ = -1;
    map_ = nullptr;
    mapped_ = used_ = 0;
    path_.clear();
}

// Makes room for `more` bytes: the file's blocks are allocated before they
// are mapped, so a full disk stops the capture here instead of faulting a
// write into the map.
bool CaptureFile::reserve(size_t more) {
    if (used_ + more <= mapped_) return true;
    const size_t want = ((used_ + more) / kGrowth + 1) * kGrowth;
    const int error = posix_fallocate(fd_, static_cast<off_t>(mapped_), static_cast<off_t>(want - mapped_));
    if (error != 0) {
        diag("capture %s: cannot grow the file to %zu bytes (%s); capture stopped", path_.c_str(), want,
             std::strerror(error));
        return false;
    }
    void *map = map_ ? mremap(map_, mapped_, want, MREMAP_MAYMOVE)
                     : mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map == MAP_FAILED) {
        diag("capture %s: cannot map the file (%s); capture stopped", path_.c_str(), std::strerror(errno));
        return false;
    }
    map_ = static_cast<uint8_t *>(map);
    mapped_ = want;
    return true;
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
    put(cap::encodeOpen(0, micros(now_()), m.speed, m.dataBits, m.parity, m.stopBits, m.port,
                        m.path));
}

void CaptureFile::closed() {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return;
    flushPending();
    put(cap::encodeClose(0, micros(now_())));
}

void CaptureFile::sent(const uint8_t *data, size_t size) {
    const auto now = now_();
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return;
    flushPending();
    record_.clear();
    cap::appendBurst(record_, 0, micros(now), cap::Direction::HostToUnit, {data, size});
    put(record_);
}

void CaptureFile::received(const uint8_t *data, size_t size) {
    const auto now = now_();
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return;
    if (!pending_.empty() && now - pendingLast_ > kBurstGap) flushPending();
    if (pending_.empty()) pendingStart_ = now;
    pending_.insert(pending_.end(), data, data + size);
    pendingLast_ = now;
}

void CaptureFile::quiet() {
    const auto now = now_();
    std::lock_guard lock(mutex_);
    if (fd_ >= 0 && !pending_.empty() && now - pendingLast_ > kBurstGap) flushPending();
}

void CaptureFile::burst(bool hostToUnit, Clock::time_point at, const uint8_t *data,
                        size_t size) {
    std::lock_guard lock(mutex_);
    if (fd_ < 0 || size == 0) return;
    flushPending();
    record_.clear();
    cap::appendBurst(record_, 0, at > origin_ ? micros(at) : 0,
                     hostToUnit ? cap::Direction::HostToUnit : cap::Direction::UnitToHost, {data, size});
    put(record_);
}

CaptureFile::Clock::time_point CaptureFile::origin() const {
    std::lock_guard lock(mutex_);
    return origin_;
}

void CaptureFile::flushPending() {
    if (pending_.empty()) return;
    record_.clear();
    cap::appendBurst(record_, 0, micros(pendingStart_), cap::Direction::UnitToHost, pending_);
    pending_.clear();
    put(record_);
}

// A file that cannot grow ends the capture, not the session.
void CaptureFile::put(const std::vector<uint8_t> &record) {
    if (!reserve(record.size())) {
        pending_.clear();
        finishFile();
        return;
    }
    std::memcpy(map_ + used_, record.data(), record.size());
    used_ += record.size();
}

}  // namespace rslink::platform
