// The platform layer: the timer thread, the termios port on a pty, and the
// thread message queues.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "support/pty_peer.h"
#include "support/wait.h"
#include "rslink/platform/serial_port.h"
#include "rslink/platform/timer_service.h"
#include "rslink/rslink.h"

using namespace testsupport;
using namespace rslink::platform;
using namespace std::chrono_literals;

namespace {

// Counts firings and lets the test wait for them.
struct Firings {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> fired;
    std::function<void()> handler(int tag) {
        return [this, tag] {
            std::lock_guard lock(mutex);
            fired.push_back(tag);
            changed.notify_all();
        };
    }
    bool waitFor(size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return fired.size() >= count; });
    }
    std::vector<int> snapshot() {
        std::lock_guard lock(mutex);
        return fired;
    }
};

TEST(TimerService, OneShotSemantics) {
    TimerService service;
    auto a = service.makeTimer();
    auto b = service.makeTimer();
    Firings f;

    a->start(20, f.handler(1));
    ASSERT_TRUE(f.waitFor(1, 5s));
    EXPECT_FALSE(f.waitFor(2, 100ms)) << "fired again";
    EXPECT_EQ(f.snapshot(), std::vector<int>{1});  // once only

    // Starting again cancels the running one; 0 only cancels; cancel stops it.
    a->start(30, f.handler(2));
    a->start(40, f.handler(3));
    b->start(30, f.handler(4));
    b->start(0, f.handler(5));
    auto c = service.makeTimer();
    c->start(30, f.handler(6));
    c->cancel();
    ASSERT_TRUE(f.waitFor(2, 5s));
    EXPECT_FALSE(f.waitFor(3, 150ms));
    EXPECT_EQ(f.snapshot(), (std::vector<int>{1, 3}));
}

TEST(TimerService, EarlierDeadlineOvertakesALaterOne) {
    TimerService service;
    auto slow = service.makeTimer();
    auto fast = service.makeTimer();
    Firings f;
    slow->start(3000, f.handler(1));
    fast->start(10, f.handler(2));
    ASSERT_TRUE(f.waitFor(1, 2500ms));
    EXPECT_EQ(f.snapshot(), std::vector<int>{2});
    slow->cancel();
}

TEST(TimerService, NoHandlerRunsAfterStop) {
    auto service = std::make_unique<TimerService>();
    auto t = service->makeTimer();
    std::atomic<int> runs{0};
    t->start(50, [&] { ++runs; });
    service->stop();
    EXPECT_TRUE(staysFalse([&] { return runs.load() != 0; }, 150ms));
}

TEST(ComPath, EnvironmentMapsElseTtyS) {
    unsetenv("RSLINK_COM7");
    EXPECT_EQ(comDevicePath(7), "/dev/ttyS6");
    setenv("RSLINK_COM7", "/dev/serial/by-id/usb-x", 1);
    EXPECT_EQ(comDevicePath(7), "/dev/serial/by-id/usb-x");
    unsetenv("RSLINK_COM7");
}

TEST(ComPath, LineSettingLists) {
    for (int s : {110, 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800,
                  921600})
        EXPECT_TRUE(speedAccepted(s)) << s;
    for (int s : {0, 600, 14400, 28800, 9601}) EXPECT_FALSE(speedAccepted(s)) << s;
    EXPECT_TRUE(dataBitsAccepted(4));
    EXPECT_FALSE(dataBitsAccepted(3));
    EXPECT_FALSE(dataBitsAccepted(9));
    EXPECT_TRUE(parityAccepted(4));
    EXPECT_FALSE(parityAccepted(5));
    EXPECT_TRUE(stopBitsAccepted(2));
    EXPECT_FALSE(stopBitsAccepted(3));
}

class PortTest : public ::testing::Test {
protected:
    // The port, or null with the failure's words in `why`.
    std::unique_ptr<SerialPort> open(LineSettings settings = {}) {
        auto opened = SerialPort::open(peer.path(), settings);
        if (opened) return std::move(*opened);
        why = opened.failure().why;
        return nullptr;
    }
    PtyPeer peer;
    std::string why;
};

TEST_F(PortTest, PtyTakesRawBytesWithoutParityOrModemLines) {
    auto port = open();
    ASSERT_TRUE(port) << why;
    EXPECT_TRUE(port->isPty());
    // Bytes a cooked or flow-controlled line would change or swallow.
    const Bytes tricky = hex("11 13 0D 0A 03 1C 7F FF 00 10");
    ASSERT_TRUE(port->write(tricky.data(), tricky.size()));
    EXPECT_EQ(hex(peer.read(tricky.size())), hex(tricky));
    peer.send(tricky);
    Bytes got;
    for (int i = 0; i < 50 && got.size() < tricky.size(); ++i) {
        uint8_t buf[16];
        auto r = port->read(buf, sizeof buf);
        ASSERT_FALSE(r.failed);
        got.insert(got.end(), buf, buf + r.count);
    }
    EXPECT_EQ(hex(got), hex(tricky));
    // DTR/RTS are remembered, not applied (a pty has no modem lines).
    port->setRtsControl(false);
    EXPECT_FALSE(port->rtsControl());
    ASSERT_TRUE(port->write(tricky.data(), 2));
    EXPECT_EQ(peer.read(2).size(), 2u);
}

TEST_F(PortTest, CloseRestoresSettingsAndClearsExclusiveUse) {
    int fd = ::open(peer.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios before{};
    tcgetattr(fd, &before);
    before.c_lflag |= ICANON | ECHO;
    before.c_iflag |= ICRNL;
    tcsetattr(fd, TCSANOW, &before);

    auto port = open();
    ASSERT_TRUE(port) << why;
    termios during{};
    tcgetattr(fd, &during);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(during.c_iflag & ICRNL, 0u);
    int excl = 0;
    ASSERT_EQ(ioctl(fd, TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 1);

    port->close();
    termios after{};
    tcgetattr(fd, &after);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), ICANON | ECHO);
    EXPECT_EQ(after.c_iflag & ICRNL, static_cast<tcflag_t>(ICRNL));
    ASSERT_EQ(ioctl(fd, TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 0);
    ::close(fd);
}

TEST_F(PortTest, SettingsNoTermiosCanHoldFailTheSetUp) {
    LineSettings fourBits;
    fourBits.dataBits = 4;
    EXPECT_FALSE(open(fourBits));
    LineSettings oneAndAHalf;
    oneAndAHalf.stopBits = 1;
    EXPECT_FALSE(open(oneAndAHalf));
    oneAndAHalf.dataBits = 5;
    EXPECT_TRUE(open(oneAndAHalf)) << why;
}

TEST_F(PortTest, NotATerminalFails) {
    char name[] = "/tmp/rslink-not-a-tty-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    const auto notATerminal = SerialPort::open(name, {});
    ASSERT_FALSE(notATerminal);
    EXPECT_NE(notATerminal.failure().why.find(name), std::string::npos);
    EXPECT_EQ(notATerminal.failure().error, ENOTTY);
    ::close(fd);
    unlink(name);
    const auto missing = SerialPort::open("/dev/rslink-no-such-device", {});
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.failure().error, ENOENT);
}

// A vanished far end: reads and writes fail, at once and for good.
TEST_F(PortTest, HangUpIsAFailedReadAndWrite) {
    auto port = open();
    ASSERT_TRUE(port) << why;
    peer.hangUp();
    uint8_t b;
    auto r = port->read(&b, 1);
    EXPECT_TRUE(r.failed);
    EXPECT_TRUE(port->gone());
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000; ++i) EXPECT_TRUE(port->read(&b, 1).failed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);  // no wait on a dead line
    EXPECT_FALSE(port->write(&b, 1));
}

TEST_F(PortTest, WakeEndsAWaitingRead) {
    auto port = open();
    ASSERT_TRUE(port) << why;
    std::thread waker([&] {
        std::this_thread::sleep_for(20ms);
        port->wake();
    });
    uint8_t b;
    auto r = port->read(&b, 1);
    waker.join();
    EXPECT_FALSE(r.failed);
    EXPECT_EQ(r.count, 0u);
}

// ---- thread message queues -----------------------------------------------------

TEST(Queues, PostTakeInOrderAndQuitAfterEarlierMessages) {
    EXPECT_EQ(RSQueueSelf(), 0ul);
    RS_MSG m{};
    EXPECT_EQ(RSGetMessageTimeout(&m, 0), RS_ERR_NO_QUEUE);
    const unsigned long me = RSQueueCreate();
    ASSERT_NE(me, 0ul);
    EXPECT_EQ(RSQueueCreate(), me);
    EXPECT_EQ(RSQueueSelf(), me);
    EXPECT_EQ(RSPostMessage(me, 7, 1, 2), RS_OK);
    EXPECT_EQ(RSPostQuit(me), RS_OK);
    EXPECT_EQ(RSPostMessage(me, 8, 3, 4), RS_OK);
    ASSERT_EQ(RSGetMessage(&m), RS_GOT_MESSAGE);
    EXPECT_EQ(m.message, 7u);
    EXPECT_EQ(m.wparam, 1u);
    EXPECT_EQ(m.lparam, 2u);
    EXPECT_EQ(RSGetMessage(&m), RS_GOT_QUIT);
    ASSERT_EQ(RSGetMessage(&m), RS_GOT_MESSAGE);
    EXPECT_EQ(m.message, 8u);
    EXPECT_EQ(RSGetMessageTimeout(&m, 30), RS_ERR_TIMED_OUT);
    RSQueueDestroy();
    EXPECT_EQ(RSQueueSelf(), 0ul);
    EXPECT_EQ(RSPostMessage(me, 7, 0, 0), RS_ERR_NO_QUEUE);
    EXPECT_EQ(RSPostQuit(me), RS_ERR_NO_QUEUE);
}

TEST(Queues, BlockingTakeWakesOnPostFromAnotherThread) {
    const unsigned long me = RSQueueCreate();
    std::thread poster([me] {
        std::this_thread::sleep_for(30ms);
        RSPostMessage(me, 42, 0, 99);
    });
    RS_MSG m{};
    ASSERT_EQ(RSGetMessage(&m), 1);
    EXPECT_EQ(m.message, 42u);
    EXPECT_EQ(m.lparam, 99u);
    poster.join();
    RSQueueDestroy();
}

TEST(Queues, QueueEndsWithItsThread) {
    std::atomic<unsigned long> id{0};
    std::thread t([&] { id = RSQueueCreate(); });
    t.join();
    ASSERT_NE(id.load(), 0ul);
    EXPECT_EQ(RSPostMessage(id.load(), 1, 0, 0), RS_ERR_NO_QUEUE);
    // Identifiers are not reused.
    std::thread u([&] { EXPECT_NE(RSQueueCreate(), id.load()); });
    u.join();
}

}  // namespace
