// The file a transfer reads or writes: the program file of a download, the
// report of an acquisition.  Each transfer has its own, so that neither
// disturbs the other nor the settings file.  A failure carries the
// operating system's error number, which the console shows as
// "CODE=0x%08x".
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "rslink/core/result.h"

namespace valdor {

class TransferFile {
public:
    TransferFile() = default;
    ~TransferFile() { close(); }
    TransferFile(TransferFile &&other) noexcept;
    TransferFile &operator=(TransferFile &&other) noexcept;
    TransferFile(const TransferFile &) = delete;
    TransferFile &operator=(const TransferFile &) = delete;

    // Opens an existing regular file for reading (EINVAL for anything that
    // is not a regular file: a folder, a device, a pipe).  Never blocks.
    rslink::Result<> openForReading(const std::string &path);
    // Creates the file, or empties it if it exists, for writing (EINVAL as
    // above).  Never blocks.
    rslink::Result<> createForWriting(const std::string &path);

    bool isOpen() const { return fd_ >= 0; }
    uint64_t size() const;

    // Reads up to `count` bytes from the current position and gives how
    // many it read; fewer only at the end of the file.
    rslink::Result<size_t> read(uint8_t *out, size_t count);
    // As read(), at `offset`, leaving the current position where it is.
    rslink::Result<size_t> readAt(uint64_t offset, uint8_t *out, size_t count);
    // Writes all `count` bytes.
    rslink::Result<> write(const void *data, size_t count);

    void close();

private:
    int fd_ = -1;
    std::string path_;  // for the failures' words
};

// A new regular file that takes the place of `path` in one step: the bytes
// go to a file of its own in the same folder, which is renamed over `path`
// once they are written and synced.  The old file is untouched by any
// failure, and a symbolic link at `path` is replaced, not followed.
class Replacement {
public:
    // Creates the new file (EINVAL when `path` is there but is neither a
    // regular file nor a symbolic link).
    static rslink::Result<Replacement> create(const std::string &path);
    // Writes `bytes` and puts the file in place; once.
    rslink::Result<> put(std::span<const uint8_t> bytes);

    Replacement(Replacement &&other) noexcept;
    Replacement &operator=(Replacement &&other) noexcept;
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;
    ~Replacement();  // one never put leaves nothing behind

private:
    Replacement(std::string path, std::string temporary, int fd);
    void discard();

    std::string path_, temporary_;
    int fd_ = -1;
};

// The final component of a path: what the console's messages call the file name.
std::string bareName(std::string_view path);

}  // namespace valdor

namespace valdor {

// A message line made with printf's format.
std::string formatMessage(const char *format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace valdor
