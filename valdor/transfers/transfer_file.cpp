#include "valdor/transfers/transfer_file.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rslink/platform/fd_io.h"

namespace valdor {

using rslink::Failure;
using rslink::Result;

TransferFile::TransferFile(TransferFile &&other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

TransferFile &TransferFile::operator=(TransferFile &&other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

namespace {

// Only a regular file may be opened: a named pipe would block the open or
// the first read, and a device could be any terminal or disk.  Looked at
// before the open, so that opening a device has no effect on it, and again
// on the descriptor, in case the path was swapped in between.
Result<> refuseUnlessRegular(const struct stat &st, const std::string &path) {
    if (S_ISREG(st.st_mode)) return {};
    return Failure::of(EINVAL, path + " is not a regular file");
}

Result<> checkPath(const std::string &path, bool mayBeMissing) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (mayBeMissing && errno == ENOENT) return {};
        return Failure::ofErrno("cannot look at " + path);
    }
    return refuseUnlessRegular(st, path);
}

Result<> checkDescriptor(int fd, const std::string &path) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return Failure::ofErrno("cannot look at " + path);
    return refuseUnlessRegular(st, path);
}

Result<> writeAll(int fd, const void *data, size_t count, const std::string &path) {
    if (Result<> written = rslink::platform::writeAll(fd, data, count); !written)
        return Failure::of(written.failure().error, "cannot write " + path);
    return {};
}

}  // namespace

Result<> TransferFile::openForReading(const std::string &path) {
    close();
    if (Result<> checked = checkPath(path, false); !checked) return checked;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return Failure::ofErrno("cannot open " + path);
    if (Result<> checked = checkDescriptor(fd, path); !checked) {
        ::close(fd);
        return checked;
    }
    fd_ = fd;
    path_ = path;
    return {};
}

Result<> TransferFile::createForWriting(const std::string &path) {
    close();
    if (Result<> checked = checkPath(path, true); !checked) return checked;
    // Emptied only once it is known to be a regular file.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) {
        // A pipe that nobody reads.
        if (errno == ENXIO) return Failure::of(EINVAL, path + " is not a regular file");
        return Failure::ofErrno("cannot create " + path);
    }
    Result<> ready = checkDescriptor(fd, path);
    if (ready && ::ftruncate(fd, 0) != 0) ready = Failure::ofErrno("cannot empty " + path);
    if (!ready) {
        ::close(fd);
        return ready;
    }
    fd_ = fd;
    path_ = path;
    return {};
}

uint64_t TransferFile::size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

Result<size_t> TransferFile::read(uint8_t *out, size_t count) {
    if (fd_ < 0) return Failure::of(EBADF, "no file is open");
    size_t got = 0;
    while (got < count) {
        ssize_t n = ::read(fd_, out + got, count - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Failure::ofErrno("cannot read " + path_);
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return got;
}

Result<size_t> TransferFile::readAt(uint64_t offset, uint8_t *out, size_t count) {
    if (fd_ < 0) return Failure::of(EBADF, "no file is open");
    size_t got = 0;
    while (got < count) {
        ssize_t n = ::pread(fd_, out + got, count - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Failure::ofErrno("cannot read " + path_);
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return got;
}

Result<> TransferFile::write(const void *data, size_t count) {
    if (fd_ < 0) return Failure::of(EBADF, "no file is open");
    return writeAll(fd_, data, count, path_);
}

void TransferFile::close() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    path_.clear();
}

// ---- Replacement -------------------------------------------------------------

Replacement::Replacement(std::string path, std::string temporary, int fd)
    : path_(std::move(path)), temporary_(std::move(temporary)), fd_(fd) {}

Replacement::Replacement(Replacement &&other) noexcept
    : path_(std::move(other.path_)), temporary_(std::move(other.temporary_)), fd_(std::exchange(other.fd_, -1)) {}

Replacement &Replacement::operator=(Replacement &&other) noexcept {
    if (this != &other) {
        discard();
        path_ = std::move(other.path_);
        temporary_ = std::move(other.temporary_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

Replacement::~Replacement() { discard(); }

void Replacement::discard() {
    if (fd_ < 0) return;
    ::close(std::exchange(fd_, -1));
    ::unlink(temporary_.c_str());
}

Result<Replacement> Replacement::create(const std::string &path) {
    // A symbolic link at `path` is replaced by the new file, never followed:
    // lstat, not stat.  Anything else that is not a regular file stays.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
            return Failure::of(EINVAL, path + " is not a regular file");
    } else if (errno != ENOENT) {
        return Failure::ofErrno("cannot look at " + path);
    }
    // The new contents go to a file of their own in the same folder (rename
    // cannot cross file systems), which then takes the old one's place in
    // one step: a crash or a full disk leaves the old file as it was.
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) return Replacement(path, std::move(temporary), fd);
        if (errno != EEXIST) return Failure::ofErrno("cannot create " + temporary);
    }
    return Failure::of(EEXIST, "cannot create a new file beside " + path);
}

Result<> Replacement::put(std::span<const uint8_t> bytes) {
    if (fd_ < 0) return Failure::of(EBADF, "the new " + path_ + " is gone");
    Result<> written = writeAll(fd_, bytes.data(), bytes.size(), temporary_);
    if (written && ::fsync(fd_) != 0) written = Failure::ofErrno("cannot sync " + temporary_);
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 && written) written = Failure::ofErrno("cannot close " + temporary_);
    if (written && ::rename(temporary_.c_str(), path_.c_str()) != 0)
        written = Failure::ofErrno("cannot put " + temporary_ + " in the place of " + path_);
    if (!written) ::unlink(temporary_.c_str());
    return written;
}

std::string bareName(std::string_view path) {
    auto slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace valdor

#include <cstdarg>
#include <cstdio>

namespace valdor {

std::string formatMessage(const char *format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0) return {};
    if (static_cast<size_t>(n) < sizeof line) return std::string(line, static_cast<size_t>(n));
    // A long file name: measure, then format again at full length.
    std::string longer(static_cast<size_t>(n) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(longer.data(), longer.size(), format, args);
    va_end(args);
    longer.resize(static_cast<size_t>(n));
    return longer;
}

}  // namespace valdor
