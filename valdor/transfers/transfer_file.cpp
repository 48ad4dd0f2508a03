#include "valdor/transfers/transfer_file.h"

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace valdor {

TransferFile::TransferFile(TransferFile &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TransferFile &TransferFile::operator=(TransferFile &&other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

int TransferFile::openForReading(const std::string &path) {
    close();
    // Not blocking: a named pipe picked by mistake must not hang the window.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    struct stat st {};
    int error = 0;
    if (::fstat(fd, &st) != 0)
        error = errno;
    else if (S_ISDIR(st.st_mode))
        error = EISDIR;
    else if (!S_ISREG(st.st_mode))
        error = EINVAL;
    if (error != 0) {
        ::close(fd);
        return error;
    }
    fd_ = fd;
    return 0;
}

int TransferFile::createForWriting(const std::string &path) {
    close();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    fd_ = fd;
    return 0;
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
    auto *bytes = static_cast<const uint8_t *>(data);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd_, bytes + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        done += static_cast<size_t>(n);
    }
    return 0;
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
