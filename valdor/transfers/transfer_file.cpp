#include "valdor/transfers/transfer_file.h"

#include <atomic>
#include <cerrno>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rslink/platform/fd_io.h"

namespace valdor {

TransferFile::TransferFile(TransferFile &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TransferFile &TransferFile::operator=(TransferFile &&other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

namespace {

using rslink::platform::writeAll;

// Only a regular file may be opened: a named pipe would block the open or
// the first read, and a device could be any terminal or disk.  Looked at
// before the open, so that opening a device has no effect on it, and again
// on the descriptor, in case the path was swapped in between.
int refuseUnlessRegular(const struct stat &st) { return S_ISREG(st.st_mode) ? 0 : EINVAL; }

int checkPath(const std::string &path, bool mayBeMissing) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return mayBeMissing && errno == ENOENT ? 0 : errno;
    return refuseUnlessRegular(st);
}

int checkDescriptor(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return errno;
    return refuseUnlessRegular(st);
}

}  // namespace

int TransferFile::openForReading(const std::string &path) {
    close();
    if (int error = checkPath(path, false)) return error;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return errno;
    if (int error = checkDescriptor(fd)) {
        ::close(fd);
        return error;
    }
    fd_ = fd;
    return 0;
}

int TransferFile::createForWriting(const std::string &path) {
    close();
    if (int error = checkPath(path, true)) return error;
    // Emptied only once it is known to be a regular file.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) return errno == ENXIO ? EINVAL : errno;  // a pipe that nobody reads
    int error = checkDescriptor(fd);
    if (error == 0 && ::ftruncate(fd, 0) != 0) error = errno;
    if (error != 0) {
        ::close(fd);
        return error;
    }
    fd_ = fd;
    return 0;
}

ReplaceResult replaceFile(const std::string &path, std::span<const uint8_t> bytes) {
    // A symbolic link at `path` is replaced by the new file, never followed:
    // lstat, not stat.  Anything else that is not a regular file stays.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return {EINVAL, 0};
    } else if (errno != ENOENT) {
        return {errno, 0};
    }
    // The new contents go to a file of their own in the same folder (rename
    // cannot cross file systems), which then takes the old one's place in
    // one step: a crash or a full disk leaves the old file as it was.
    static std::atomic<unsigned> serial{0};
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return {errno, 0};
    }
    if (fd < 0) return {EEXIST, 0};

    int error = writeAll(fd, bytes.data(), bytes.size());
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) ::unlink(temporary.c_str());
    return {0, error};
}

uint64_t TransferFile::size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

int TransferFile::read(uint8_t *out, size_t count, size_t &got) {
    got = 0;
    if (fd_ < 0) return EBADF;
    while (got < count) {
        ssize_t n = ::read(fd_, out + got, count - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return 0;
}

int TransferFile::readAt(uint64_t offset, uint8_t *out, size_t count, size_t &got) {
    got = 0;
    if (fd_ < 0) return EBADF;
    while (got < count) {
        ssize_t n = ::pread(fd_, out + got, count - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return 0;
}

int TransferFile::write(const void *data, size_t count) {
    if (fd_ < 0) return EBADF;
    return writeAll(fd_, data, count);
}

void TransferFile::close() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
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
