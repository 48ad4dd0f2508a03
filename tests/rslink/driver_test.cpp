// The whole driver as a client sees it, against a scripted unit on a pty.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <deque>
#include <map>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include "driver_client.h"

using namespace rslinktest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kCom = 3;

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override { peer.mapCom(kCom); }
    void TearDown() override { EXPECT_EQ(RSClose(), 0); }
    void open() { ASSERT_EQ(RSOpen(client.id, kCom, 9600, 8, 2, 0), 0); }

    void expectResult(uint8_t code, const MSG_BLK &request, milliseconds timeout = 15s) {
        auto n = client.next(timeout);
        ASSERT_TRUE(n) << "no notification";
        EXPECT_EQ(n->message, static_cast<unsigned>(RSM_NOTIFY));
        ASSERT_TRUE(n->block);
        EXPECT_EQ(n->copy.code, code);
        EXPECT_EQ(n->copy.reserved, 0);
        EXPECT_EQ(n->copy.error, 0u);
        EXPECT_EQ(n->copy.length, request.length);
        EXPECT_EQ(n->copy.data, request.data);
    }
    Notice expectReceived(const Bytes &text) {
        auto n = client.next();
        EXPECT_TRUE(n) << "no BLK_RECEIVED";
        if (!n) return {};
        EXPECT_EQ(n->copy.code, BLK_RECEIVED);
        EXPECT_EQ(n->copy.reserved, 0);
        EXPECT_EQ(n->copy.error, 0u);
        EXPECT_EQ(hex(n->text), hex(text));
        return *n;
    }
    void expectApiError(int error, milliseconds timeout = 4000ms) {
        auto n = client.next(timeout);
        ASSERT_TRUE(n && n->block) << "no driver error";
        EXPECT_EQ(n->copy.code, BLK_API_ERROR);
        EXPECT_EQ(n->copy.error, static_cast<uint32_t>(error));
        EXPECT_EQ(n->copy.length, 0u);
        EXPECT_EQ(n->copy.data, nullptr);
    }
    void expectNoNotice(milliseconds window) {
        auto n = client.next(window);
        EXPECT_FALSE(n) << "unexpected notice, code " << (n && n->block ? n->copy.code : 0);
    }

    PtyPeer peer;
    Client client;
    Bytes statusRead = hex("00 01 1C");
};

// The names keep the numbers that clients built before them compare against.
static_assert(RS_OK == 0 && RS_ERR_ALREADY_OPEN == -1 && RS_ERR_NOT_OPEN == -2 && RS_ERR_SYSTEM == -2 &&
              RS_ERR_NO_INFO == -2 && RS_ERR_PARAMETER == -3 && RS_ERR_PORT == -4 && RS_ERR_FILE == -4);
static_assert(RS_GOT_MESSAGE == 1 && RS_GOT_QUIT == 0 && RS_ERR_NO_QUEUE == -1 && RS_ERR_TIMED_OUT == -2);

TEST_F(DriverTest, ReturnCodesOfTheExports) {
    EXPECT_EQ(RSClose(), 0);
    Bytes text = hex("00 01 1C");
    MSG_BLK b = sendBlock(text);
    EXPECT_EQ(RSSend(&b), -2);
    EXPECT_EQ(DTRControl(1), -2);
    EXPECT_EQ(RTSControl(1), -2);
    EXPECT_EQ(RSBuffersLent(), -2);

    struct Case {
        int port, speed, bits, parity, stops, expected;
    };
    const Case cases[] = {
        {0, 9600, 8, 2, 0, -4},   {9, 9600, 8, 2, 0, -4},  {kCom, 600, 8, 2, 0, -3},
        {kCom, 14400, 8, 2, 0, -3}, {kCom, 9600, 9, 2, 0, -3}, {kCom, 9600, 3, 2, 0, -3},
        {kCom, 9600, 8, 5, 0, -3}, {kCom, 9600, 8, 2, 3, -3}, {0, 600, 8, 2, 0, -3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.port << " " << c.speed << " " << c.bits << " "
                                        << c.parity << " " << c.stops);
        EXPECT_EQ(RSOpen(client.id, c.port, c.speed, c.bits, c.parity, c.stops), c.expected);
        EXPECT_EQ(RSOpen(client.id, kCom, 9600, 8, 2, 0), -1);  // the open mark stays set
        EXPECT_EQ(RSSend(&b), -2);
        EXPECT_EQ(RSClose(), 0);
    }

    const auto start = Clock::now();
    ASSERT_EQ(RSOpen(client.id, kCom, 19200, 8, 2, 0), 0);
    EXPECT_GE(Clock::now() - start, 450ms);
    EXPECT_EQ(RSOpen(client.id, kCom, 9600, 8, 2, 0), -1);
    EXPECT_EQ(DTRControl(0), 0);
    EXPECT_EQ(RTSControl(0), 0);
    EXPECT_EQ(RSBuffersLent(), 0);
    // The second RSOpen changed nothing: still 19200, raw.
    int fd = ::open(peer.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    tcgetattr(fd, &t);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(t.c_lflag & ICANON, 0u);
    ::close(fd);

    EXPECT_EQ(RSClose(), 0);
    EXPECT_EQ(RSSend(&b), -2);
    EXPECT_EQ(RSClose(), 0);
    EXPECT_EQ(hex(peer.drain(100ms)), "");  // nothing ever reached the line
}

TEST_F(DriverTest, SecondOpenerOfTheSameDeviceFails) {
    int holder = ::open(peer.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(RSOpen(client.id, kCom, 9600, 8, 2, 0), -4);
    EXPECT_EQ(RSClose(), 0);
    ::close(holder);

    open();
    int other = ::open(peer.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_EQ(RSClose(), 0);  // and the close gives the device back
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
}

TEST_F(DriverTest, StatusReadRoundTrip) {
    open();
    EXPECT_EQ(RTSControl(0), 0);  // on a pty: remembered only
    MSG_BLK &b = client.queue(statusRead);
    unitTakesRequest(peer, statusRead);
    expectResult(BLK_SEND_OK, b);

    const Bytes response = hex("E0 01 30 30 00 00 41 42");
    unitSends(peer, response);
    Notice n = expectReceived(response);
    EXPECT_EQ(RSBuffersLent(), 1);
    client.release(n);
    EXPECT_TRUE(waitUntil([] { return RSBuffersLent() == 0; }));

    // The buffer is lent again for the next text; each 0x10 inside the
    // text travels single.
    unitSends(peer, hex("E0 10 10 10 03 10 02"));
    Notice again = expectReceived(hex("E0 10 10 10 03 10 02"));
    EXPECT_EQ(again.copy.data, n.copy.data);
}

TEST_F(DriverTest, QueuedSendsGoOutInOrderEachWithItsOwnResult) {
    open();
    Bytes second = hex("60 10 02 10 03 10 1C");  // each 0x10 travels single
    MSG_BLK &a = client.queue(statusRead);
    MSG_BLK &b = client.queue(second);
    unitTakesRequest(peer, statusRead);
    unitTakesRequest(peer, second);
    expectResult(BLK_SEND_OK, a);
    expectResult(BLK_SEND_OK, b);
}

TEST_F(DriverTest, SilentUnitCostsThreeBids4500Apart) {
    open();
    MSG_BLK &b = client.queue(statusRead);
    ASSERT_EQ(hex(peer.read(2)), hex(kEnq));
    for (int i = 0; i < 2; ++i) {
        milliseconds gap;
        EXPECT_EQ(hex(peer.readTimed(2, 9000ms, gap)), hex(kEnq));
        EXPECT_GE(gap.count(), 4400);
        EXPECT_LE(gap.count(), 6500);
    }
    const auto third = Clock::now();
    expectResult(BLK_SEND_FAILED, b, 9000ms);
    const auto after = std::chrono::duration_cast<milliseconds>(Clock::now() - third);
    EXPECT_GE(after.count(), 4400);
    EXPECT_LE(after.count(), 6500);
    EXPECT_EQ(hex(peer.drain(100ms)), "");
}

// The unit bids while the host bids, then bids again, its pair split over
// two reads: its frame comes first, then the host bids anew for its own.
TEST_F(DriverTest, ContentionDeliversTheUnitsFrameThenBidsAgain) {
    open();
    MSG_BLK &b = client.queue(statusRead);
    EXPECT_EQ(hex(peer.read(2)), hex(kEnq));
    // Pauses on the line are the point here: the driver reads the bid while
    // its own waits, then the second bid as two reads.
    peer.send(kEnq);
    std::this_thread::sleep_for(100ms);
    peer.send({0x10});
    std::this_thread::sleep_for(50ms);
    peer.send({0x05});
    EXPECT_EQ(hex(peer.read(2)), hex(kAck));
    const Bytes unsolicited = hex("E0 01 10 03");
    peer.send(frameOf(unsolicited));
    EXPECT_EQ(hex(peer.read(2)), hex(kAck));
    client.release(expectReceived(unsolicited));
    unitTakesRequest(peer, statusRead);
    expectResult(BLK_SEND_OK, b);
}

TEST_F(DriverTest, PoolExhaustionDropsTheEleventhUntilABufferComesBack) {
    open();
    std::vector<Notice> lent;
    for (int i = 0; i < 10; ++i) {
        unitSends(peer, {0xE0, static_cast<uint8_t>(i)});
        lent.push_back(expectReceived({0xE0, static_cast<uint8_t>(i)}));
    }
    EXPECT_EQ(RSBuffersLent(), 10);
    unitSends(peer, hex("E0 0A"));  // acknowledged on the line...
    expectNoNotice(500ms);          // ...and dropped

    // A release of an address outside the pool or inside a buffer, and a
    // block of another code, change nothing.
    uint8_t outside[4];
    MSG_BLK stray{BLK_RELEASE, 0, 0, 0, outside};
    MSG_BLK inside{BLK_RELEASE, 0, 0, 0, lent[3].copy.data + 1};
    MSG_BLK odd{99, 0, 0, 0, lent[0].copy.data};
    for (MSG_BLK *ignored : {&stray, &inside, &odd}) ASSERT_EQ(RSSend(ignored), 0);
    client.release(lent[4]);
    EXPECT_TRUE(waitUntil([] { return RSBuffersLent() == 9; }));
    unitSends(peer, hex("E0 0B"));
    Notice n = expectReceived(hex("E0 0B"));
    EXPECT_EQ(n.copy.data, lent[4].copy.data);
    EXPECT_EQ(hex(lent[0].text), "E0 00");
}

TEST_F(DriverTest, LengthZeroOrAboveABufferIsRejected) {
    open();
    for (size_t length : {size_t{0}, size_t{1493}}) {
        SCOPED_TRACE(length);
        peer.send(kEnq);
        EXPECT_EQ(hex(peer.read(2)), hex(kAck));
        peer.send(frameOf(Bytes(length, 0x5A)));
        EXPECT_EQ(hex(peer.read(2)), hex(kNak));
        // The unit sends a good frame instead.
        peer.send(frameOf(hex("E0 01")));
        EXPECT_EQ(hex(peer.read(2)), hex(kAck));
        client.release(expectReceived(hex("E0 01")));
    }
    EXPECT_TRUE(waitUntil([] { return RSBuffersLent() == 0; }));
}

TEST_F(DriverTest, LongestTextGoesOutAndLongerIsRefusedUntouched) {
    open();
    Bytes longest(1488);
    for (size_t i = 0; i < longest.size(); ++i) longest[i] = static_cast<uint8_t>(i);
    MSG_BLK &ok = client.queue(longest);
    unitTakesRequest(peer, longest);
    expectResult(BLK_SEND_OK, ok);

    Bytes tooLong(1489, 0x41);
    MSG_BLK &refused = client.queue(tooLong);
    expectResult(BLK_SEND_FAILED, refused);
    MSG_BLK &noData = client.post({BLK_SEND, 0, 0, 5, nullptr});
    expectResult(BLK_SEND_FAILED, noData);
    EXPECT_EQ(hex(peer.drain(200ms)), "");
}

// RSClose on another thread, which must still be waiting a while later.
class CloseInBackground {
public:
    CloseInBackground() : closer_([this] {
        RSClose();
        closed_ = true;
    }) {
        EXPECT_TRUE(testsupport::staysFalse([this] { return closed_.load(); }, 800ms))
            << "RSClose did not wait for the frame being read";
    }
    ~CloseInBackground() { closer_.join(); }

private:
    std::atomic<bool> closed_{false};
    std::thread closer_;
};

// A close lets a frame being read run to its end: the text is delivered and
// acknowledged although the unit reads the acknowledgement after the close.
TEST_F(DriverTest, CloseLetsAFrameBeingReadEnd) {
    open();
    peer.send(kEnq);
    EXPECT_EQ(hex(peer.read(2)), hex(kAck));
    const Bytes frame = frameOf(hex("E0 01"));
    peer.send(Bytes(frame.begin(), frame.begin() + 5));
    std::this_thread::sleep_for(100ms);  // a pause on the line: the close comes inside the frame
    {
        CloseInBackground closing;
        peer.send(Bytes(frame.begin() + 5, frame.end()));
    }
    EXPECT_EQ(hex(peer.read(2)), hex(kAck));
    expectReceived(hex("E0 01"));
}

// The waits a close cuts short, each set up by the unit's side of the line.
struct CutWait {
    const char *name;
    void (*setUp)(PtyPeer &unit, const Bytes &request);
    bool sending;  // a block is in progress and must fail
};

const CutWait kCutWaits[] = {
    {"GrantToABid", [](PtyPeer &unit, const Bytes &) { EXPECT_EQ(hex(unit.read(2)), hex(kEnq)); }, true},
    {"AcknowledgementOfTheFrame",
     [](PtyPeer &unit, const Bytes &request) {
         EXPECT_EQ(hex(unit.read(2)), hex(kEnq));
         unit.send(kAck);
         EXPECT_EQ(hex(unit.read(frameOf(request).size())), hex(frameOf(request)));
     },
     true},
    {"ContendingUnitsSecondBid",
     [](PtyPeer &unit, const Bytes &) {
         EXPECT_EQ(hex(unit.read(2)), hex(kEnq));
         unit.send(kEnq);
         std::this_thread::sleep_for(100ms);  // a pause on the line: the driver awaits a second bid
     },
     true},
    {"FrameAfterTheGrant",
     [](PtyPeer &unit, const Bytes &) {
         unit.send(kEnq);
         EXPECT_EQ(hex(unit.read(2)), hex(kAck));
     },
     false},
};

void PrintTo(const CutWait &c, std::ostream *out) { *out << c.name; }

class CloseCutsWait : public DriverTest, public ::testing::WithParamInterface<CutWait> {};

// The block in progress and every block queued behind it fail, and their
// outcomes are posted before RSClose returns; nothing more reaches the line.
TEST_P(CloseCutsWait, OutcomesBeforeCloseReturns) {
    const CutWait &c = GetParam();
    open();
    MSG_BLK *inProgress = c.sending ? &client.queue(statusRead) : nullptr;
    c.setUp(peer, statusRead);
    Bytes later = hex("00 10 1C");
    MSG_BLK &queued = client.queue(later);
    // The line stays quiet a while, so that the close finds the driver
    // inside the wait and not before it.
    std::this_thread::sleep_for(100ms);

    const auto closing = Clock::now();
    EXPECT_EQ(RSClose(), 0);
    EXPECT_LT(Clock::now() - closing, 3000ms) << "the close sat out a time-out";
    if (inProgress) expectResult(BLK_SEND_FAILED, *inProgress, 0ms);
    expectResult(BLK_SEND_FAILED, queued, 0ms);
    expectNoNotice(300ms);
    EXPECT_EQ(hex(peer.drain(200ms)), "");
}

INSTANTIATE_TEST_SUITE_P(Waits, CloseCutsWait, ::testing::ValuesIn(kCutWaits),
                         [](const auto &info) { return std::string(info.param.name); });

// RSSend racing RSClose: every block accepted gets exactly one outcome, and
// each refused one gets none.  The client reads each notice as it comes and
// keeps at most 30 blocks outstanding, as the driver's result blocks ask.
TEST_F(DriverTest, EveryAcceptedBlockGetsOneOutcomeAcrossAClose) {
    for (int round = 0; round < 4; ++round) {
        open();
        std::deque<Bytes> texts;
        std::deque<MSG_BLK> sent;
        std::atomic<size_t> accepted{0}, seen{0};
        std::atomic<bool> refused{false}, closed{false};
        std::thread sender([&] {
            while (!refused) {
                if (accepted - seen >= 30) {
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
                    continue;
                }
                texts.push_back(statusRead);
                sent.push_back(sendBlock(texts.back()));
                if (RSSend(&sent.back()) != 0) {
                    sent.pop_back();
                    refused = true;
                } else {
                    ++accepted;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
        });
        std::thread closer([&] {
            std::this_thread::sleep_for(milliseconds(30 + 40 * round));
            RSClose();
            closed = true;
        });
        std::map<const uint8_t *, int> outcomes;
        while (!closed || !refused) {
            if (auto n = client.next(50ms)) {
                ASSERT_TRUE(n->block);
                EXPECT_TRUE(n->copy.code == BLK_SEND_OK || n->copy.code == BLK_SEND_FAILED) << int(n->copy.code);
                ++outcomes[n->copy.data];
                ++seen;
            }
        }
        closer.join();
        sender.join();
        while (auto n = client.next(300ms)) ++outcomes[n->copy.data];
        ASSERT_GT(sent.size(), 0u);
        EXPECT_EQ(outcomes.size(), sent.size()) << "round " << round;
        for (const MSG_BLK &b : sent) EXPECT_EQ(outcomes[b.data], 1) << "round " << round;
        peer.drain(50ms);
    }
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The far end vanishes in the middle of an exchange (a pulled USB adapter):
// the block in progress fails first, then one driver error with EIO; later
// blocks fail alone; no thread spins on the dead line; close works.
TEST_F(DriverTest, HangUpDuringASendFailsItThenReportsOnce) {
    open();
    MSG_BLK &b = client.queue(statusRead);
    EXPECT_EQ(hex(peer.read(2)), hex(kEnq));
    peer.hangUp();
    expectResult(BLK_SEND_FAILED, b, 4000ms);
    expectApiError(EIO);

    const double before = cpuSeconds();
    std::this_thread::sleep_for(1500ms);
    EXPECT_LT(cpuSeconds() - before, 0.75) << "a thread spins on the dead line";

    MSG_BLK &again = client.queue(statusRead);
    expectResult(BLK_SEND_FAILED, again, 4000ms);
    expectNoNotice(500ms);
    const auto closing = Clock::now();
    EXPECT_EQ(RSClose(), 0);
    EXPECT_LT(Clock::now() - closing, 3000ms);
}

// A client whose queue is gone: the text is acknowledged, cannot be handed
// on, and its buffer returns to the pool.
TEST_F(DriverTest, TextForAVanishedClientFreesItsBuffer) {
    std::atomic<unsigned long> gone{0};
    std::thread t([&] { gone = RSQueueCreate(); });
    t.join();
    ASSERT_EQ(RSOpen(gone.load(), kCom, 9600, 8, 2, 0), 0);
    unitSends(peer, hex("E0 01"));
    EXPECT_TRUE(waitUntil([] { return RSBuffersLent() == 0; }));
    client.queue(statusRead);
    unitTakesRequest(peer, statusRead);  // the driver goes on working
    EXPECT_EQ(RSClose(), 0);            // although no result can reach the client
}

}  // namespace
