// The capture as the driver writes it: every record lands in the file at
// once (a crash loses at most the burst being gathered), bytes read close
// together make one burst, and a write of this side ends the burst before it.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "support/capture_read.h"
#include "rslink/platform/capture_file.h"
#include "support/files.h"

namespace cap = rslink::capture;
namespace fs = std::filesystem;
using rslink::platform::CaptureFile;
using testsupport::readCapture;

namespace {

fs::path tempFile(const char *name) { return fs::path(testsupport::scratch()) / name; }

std::vector<uint8_t> v(std::initializer_list<uint8_t> b) { return b; }

// A clock the test moves by hand: what counts as a pause is the test's to
// say, not the scheduler's.
struct HandClock {
    CaptureFile::Clock::time_point at = CaptureFile::Clock::now();
    std::function<CaptureFile::Clock::time_point()> reader() {
        return [this] { return at; };
    }
};
constexpr auto kJustUnderTheGap = CaptureFile::kBurstGap - std::chrono::microseconds(1);
constexpr auto kJustOverTheGap = CaptureFile::kBurstGap + std::chrono::microseconds(1);

TEST(CaptureFile, BurstsAreGatheredByPauseAndKeptInLineOrder) {
    const fs::path path = tempFile("gather.rslcap");
    HandClock clock;
    CaptureFile c(clock.reader());
    ASSERT_TRUE(c.start(path.string(), "test"));
    c.opened({9600, 8, 2, 0, 1, "/dev/pts/9"});
    const uint8_t enq[] = {0x10, 0x05};
    c.sent(enq, 2);
    const uint8_t ack[] = {0x10, 0x06}, enq2[] = {0x10, 0x05};
    c.received(ack, 1);
    clock.at += kJustUnderTheGap;
    c.received(ack + 1, 1);
    c.received(enq2, 2);  // the same burst
    clock.at += kJustOverTheGap;
    c.received(ack, 2);  // after a pause: a burst of its own
    c.sent(ack, 2);      // ends the one being gathered, written after it
    c.closed();

    // Everything is in the file before stop(): written as it goes.
    const cap::Parsed p = readCapture(path);
    ASSERT_TRUE(p.ok()) << p.error;
    ASSERT_EQ(p.records.size(), 7u);
    EXPECT_EQ(p.records[0].type, cap::RecordType::Clock);
    EXPECT_EQ(p.records[0].text, "test");
    EXPECT_EQ(p.records[1].type, cap::RecordType::Open);
    EXPECT_EQ(p.records[1].text, "/dev/pts/9");
    EXPECT_EQ(p.records[2].bytes, v({0x10, 0x05}));
    EXPECT_EQ(p.records[2].direction, cap::Direction::HostToUnit);
    EXPECT_EQ(p.records[3].bytes, v({0x10, 0x06, 0x10, 0x05}));
    EXPECT_EQ(p.records[3].direction, cap::Direction::UnitToHost);
    EXPECT_EQ(p.records[4].bytes, v({0x10, 0x06}));
    EXPECT_EQ(p.records[4].direction, cap::Direction::UnitToHost);
    EXPECT_EQ(p.records[5].direction, cap::Direction::HostToUnit);
    EXPECT_EQ(p.records[6].type, cap::RecordType::Close);
    for (size_t i = 1; i < p.records.size(); ++i) EXPECT_LE(p.records[i - 1].micros, p.records[i].micros);
    // Each burst is stamped with the time of its first byte.
    EXPECT_EQ(p.records[4].micros - p.records[3].micros,
              static_cast<uint64_t>((kJustUnderTheGap + kJustOverTheGap).count()));
}

TEST(CaptureFile, AQuietLineFinishesTheBurstSoItReachesTheFile) {
    const fs::path path = tempFile("quiet.rslcap");
    HandClock clock;
    CaptureFile c(clock.reader());
    ASSERT_TRUE(c.start(path.string(), "test"));
    const uint8_t frame[] = {0x10, 0x02, 0x00, 0x00, 0x10, 0x03, 0x00, 0x00};
    c.received(frame, sizeof frame);
    clock.at += kJustUnderTheGap;
    c.quiet();  // too soon: still gathering
    EXPECT_EQ(readCapture(path).records.size(), 1u);
    clock.at += kJustOverTheGap - kJustUnderTheGap;
    c.quiet();
    const cap::Parsed p = readCapture(path);
    ASSERT_EQ(p.records.size(), 2u);
    EXPECT_EQ(p.records[1].bytes.size(), sizeof frame);
}

TEST(CaptureFile, StoppedOrUnstartedItWritesNothingAndAFileThatCannotBeMadeIsReported) {
    CaptureFile c;
    const uint8_t b[] = {1};
    c.sent(b, 1);  // no file: nothing happens
    EXPECT_FALSE(c.active());
    const auto refused = c.start("/nonexistent-folder/x.rslcap", "test");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.failure().error, ENOENT);
    EXPECT_NE(refused.failure().why.find("/nonexistent-folder/x.rslcap"), std::string::npos);
    EXPECT_FALSE(c.active());

    const fs::path path = tempFile("stopped.rslcap");
    ASSERT_TRUE(c.start(path.string(), "test"));
    c.stop();
    c.sent(b, 1);
    c.received(b, 1);
    c.closed();
    EXPECT_EQ(readCapture(path).records.size(), 1u);  // the clock record only
}

// A process that dies while capturing leaves the file at its grown size,
// ending in zero bytes: everything written before is there and reads clean.
TEST(CaptureFile, ACaptureNeverFinishedReadsCleanUpToItsLastRecord) {
    const fs::path path = tempFile("crashed.rslcap");
    const pid_t child = fork();
    if (child == 0) {
        CaptureFile c;
        if (!c.start(path.string(), "test")) _exit(2);
        const uint8_t enq[] = {0x10, 0x05}, ack[] = {0x10, 0x06};
        for (int i = 0; i < 1000; ++i) {
            c.sent(enq, 2);
            c.received(ack, 2);
        }
        c.sent(enq, 2);
        _exit(0);  // no stop(), no destructor: as a crash would leave it
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_GT(fs::file_size(path), 1000u * 2 * 15) << "the tail of the map is in the file";
    const cap::Parsed p = readCapture(path);
    ASSERT_TRUE(p.ok()) << p.error;
    ASSERT_EQ(p.records.size(), 1u + 2001u);
    EXPECT_EQ(p.records.back().direction, cap::Direction::HostToUnit);
}

TEST(CaptureFile, AFinishedCaptureIsCutToWhatItHolds) {
    const fs::path path = tempFile("finished.rslcap");
    CaptureFile c;
    ASSERT_TRUE(c.start(path.string(), "test"));
    std::vector<uint8_t> big(3000, 0x41);  // several records, across a growth step
    for (int i = 0; i < 400; ++i) c.sent(big.data(), big.size());
    c.stop();
    const cap::Parsed p = readCapture(path);
    ASSERT_TRUE(p.ok()) << p.error;
    EXPECT_EQ(p.records.size(), 401u);
    EXPECT_EQ(fs::file_size(path), p.records.back().offset + cap::kRecordHeaderSize + 9 + big.size());
}

}  // namespace
