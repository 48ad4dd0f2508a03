// The file a transfer reads or writes: the program file of a download, the
// report of an acquisition.  Each transfer has its own, so that neither
// disturbs the other nor the settings file.  Failures give the operating
// system's error number, which the console shows as "CODE=0x%08x".
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace valdor {

class TransferFile {
public:
    TransferFile() = default;
    ~TransferFile() { close(); }
    TransferFile(TransferFile &&other) noexcept;
    TransferFile &operator=(TransferFile &&other) noexcept;
    TransferFile(const TransferFile &) = delete;
    TransferFile &operator=(const TransferFile &) = delete;

    // Opens an existing regular file for reading: 0, or the error number
    // (EINVAL for anything that is not a regular file: a folder, a device,
    // a pipe).  Never blocks.
    int openForReading(const std::string &path);
    // Creates the file, or empties it if it exists, for writing: 0 or the
    // error number (EINVAL as above).  Never blocks.
    int createForWriting(const std::string &path);

    bool isOpen() const { return fd_ >= 0; }
    uint64_t size() const;

    // Reads up to `count` bytes from the current position; fewer only at the
    // end of the file.  `got` is what was read; returns 0 or the error number.
    int read(uint8_t *out, size_t count, size_t &got);
    // As read(), at `offset`, leaving the current position where it is.
    int readAt(uint64_t offset, uint8_t *out, size_t count, size_t &got);
    // Writes all `count` bytes: 0 or the error number.
    int write(const void *data, size_t count);

    void close();

private:
    int fd_ = -1;
};

// What replaceFile() ran into: the error number of creating the new file
// (EINVAL when `path` is there but is neither a regular file nor a symbolic
// link), or of writing it and putting it in place.  Both 0 on success.
struct ReplaceResult {
    int openError = 0;
    int writeError = 0;
};

// Puts `bytes` at `path` as a new regular file that takes the old one's
// place in one step; the old file is untouched by any failure, and a
// symbolic link at `path` is replaced, not followed.
ReplaceResult replaceFile(const std::string &path, std::span<const uint8_t> bytes);

// The final component of a path: what the console's messages call the file name.
std::string bareName(std::string_view path);

}  // namespace valdor

namespace valdor {

// A message line made with printf's format.
std::string formatMessage(const char *format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace valdor
