// The shared descriptor helpers: a whole buffer through a descriptor that
// takes it a piece at a time, a bounded wait for room, and a raw pty pair.
#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "rslink/platform/fd_io.h"

using namespace rslink::platform;

namespace {

struct Pipe {
    Pipe() {
        if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
        fcntl(fds[1], F_SETPIPE_SZ, 4096);
    }
    ~Pipe() {
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }
    int fds[2] = {-1, -1};
};

TEST(FdIo, WriteAllWaitsForRoomUntilEveryByteIsWritten) {
    Pipe pipe;
    std::vector<uint8_t> sent(256 * 1024);
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>(i * 7 + i / 256);
    std::vector<uint8_t> got;
    std::thread reader([&] {
        uint8_t buffer[1000];
        while (got.size() < sent.size()) {
            const ssize_t n = read(pipe.fds[0], buffer, sizeof buffer);
            if (n > 0) got.insert(got.end(), buffer, buffer + n);
            else if (n == 0 || errno != EAGAIN) break;
            else usleep(100);
        }
    });
    EXPECT_TRUE(writeAll(pipe.fds[1], sent.data(), sent.size(), 5000));
    reader.join();
    EXPECT_TRUE(got == sent) << got.size() << " of " << sent.size() << " bytes, or out of order";
}

TEST(FdIo, WriteAllGivesUpWhenNoRoomComesInTime) {
    Pipe pipe;
    const std::vector<uint8_t> bytes(64 * 1024, 0x55);
    const auto full = writeAll(pipe.fds[1], bytes.data(), bytes.size(), 20);
    ASSERT_FALSE(full);
    EXPECT_EQ(full.failure().error, ETIMEDOUT);
    const auto closed = writeAll(-1, bytes.data(), 1);
    ASSERT_FALSE(closed);
    EXPECT_EQ(closed.failure().error, EBADF);
}

TEST(FdIo, APtyPairPassesBytesUntranslatedOnceRaw) {
    const auto opened = openPty(O_NONBLOCK, 0);
    ASSERT_TRUE(opened) << opened.failure().why;
    const Pty pty = *opened;
    EXPECT_EQ(pty.slavePath.rfind("/dev/pts/", 0), 0u) << pty.slavePath;
    ASSERT_GE(pty.slave, 0);
    ASSERT_TRUE(makeRaw(pty.slave));
    // Cooked, the slave would turn CR into LF, echo, and end on ^C and ^D.
    const std::vector<uint8_t> bytes{'\r', 0x03, 0x04, 0x10, 0x05, '\n', 0x7F};
    ASSERT_TRUE(writeAll(pty.master, bytes.data(), bytes.size()));
    std::vector<uint8_t> got(bytes.size());
    size_t n = 0;
    while (n < got.size()) {
        const ssize_t r = read(pty.slave, got.data() + n, got.size() - n);
        ASSERT_GT(r, 0);
        n += static_cast<size_t>(r);
    }
    EXPECT_EQ(got, bytes);
    uint8_t echo;
    EXPECT_EQ(read(pty.master, &echo, 1), -1) << "the slave echoed";
    close(pty.slave);
    close(pty.master);

    const auto made = openPty(0);
    ASSERT_TRUE(made);
    const Pty bare = *made;
    EXPECT_EQ(bare.slave, -1) << "the slave stays closed unless asked for";
    EXPECT_EQ(access(bare.slavePath.c_str(), F_OK), 0);
    close(bare.master);
}

}  // namespace
