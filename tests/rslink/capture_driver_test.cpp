// RSCapture through the library: what the driver's threads read and write
// lands in the file in line order, a capture moved or stopped mid-session
// takes only what went while it ran, a file that cannot be made fails, and
// a program that ends without ending the capture leaves it whole.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include <sys/wait.h>
#include <unistd.h>

#include "driver_client.h"
#include "support/capture_read.h"
#include "rslink/analysis/line_tokens.h"
#include "support/files.h"

using namespace rslinktest;
namespace cap = rslink::capture;
namespace fs = std::filesystem;

namespace {

constexpr int kCaptureCom = 4;

// The frames of one direction, as hex texts, from a capture file.
std::vector<std::string> frames(const fs::path &file, cap::Direction direction) {
    const cap::Parsed p = readCapture(file);
    EXPECT_TRUE(p.ok()) << p.error;
    std::vector<uint8_t> stream;
    for (const auto &r : p.records)
        if (r.type == cap::RecordType::Burst && r.direction == direction)
            stream.insert(stream.end(), r.bytes.begin(), r.bytes.end());
    std::vector<std::string> out;
    for (const auto &t : rslink::analysis::splitLine(stream))
        if (t.kind == rslink::analysis::LineToken::Kind::Frame) out.push_back(hex(t.text));
    return out;
}

class CaptureDriver : public ::testing::Test {
protected:
    void SetUp() override { peer.mapCom(kCaptureCom); }
    void TearDown() override {
        RSCapture(nullptr);
        EXPECT_EQ(RSClose(), 0);
    }

    // One request and its response, the unit's side played by the peer.
    void exchange(const Bytes &request, const Bytes &response) {
        client.queue(request);
        unitTakesRequest(peer, request);
        auto sent = client.next();
        ASSERT_TRUE(sent && sent->copy.code == BLK_SEND_OK);
        unitSends(peer, response);
        auto got = client.next();
        ASSERT_TRUE(got && got->copy.code == BLK_RECEIVED);
        client.release(*got);
    }

    fs::path file(const char *name) const { return fs::path(testsupport::scratch()) / name; }

    PtyPeer peer;
    Client client;
    const Bytes first = hex("00 01 1C"), second = hex("60 01 FF 00 00 01 00 1C"), third = hex("00 10 1C");
    const Bytes answer = hex("E0 01 00 00 00 2A 3C");
};

TEST_F(CaptureDriver, TakesWhatWentWhileItRanInLineOrder) {
    ASSERT_EQ(RSCapture(file("a.rslcap").c_str()), 0);
    ASSERT_EQ(RSOpen(client.id, kCaptureCom, 9600, 8, 2, 0), 0);
    exchange(first, answer);
    ASSERT_EQ(RSCapture(file("b.rslcap").c_str()), 0);  // moved while the port is open
    exchange(second, answer);
    ASSERT_EQ(RSCapture(nullptr), 0);
    exchange(third, answer);
    ASSERT_EQ(RSClose(), 0);

    EXPECT_EQ(frames(file("a.rslcap"), cap::Direction::HostToUnit), std::vector<std::string>{hex(first)});
    EXPECT_EQ(frames(file("a.rslcap"), cap::Direction::UnitToHost), std::vector<std::string>{hex(answer)});
    EXPECT_EQ(frames(file("b.rslcap"), cap::Direction::HostToUnit), std::vector<std::string>{hex(second)});
    EXPECT_EQ(frames(file("b.rslcap"), cap::Direction::UnitToHost), std::vector<std::string>{hex(answer)});
}

TEST_F(CaptureDriver, OpenAndCloseAreMarkedWithTheLineSettings) {
    ASSERT_EQ(RSCapture(file("marks.rslcap").c_str()), 0);
    ASSERT_EQ(RSOpen(client.id, kCaptureCom, 9600, 8, 2, 0), 0);
    exchange(first, answer);
    ASSERT_EQ(RSClose(), 0);
    ASSERT_EQ(RSCapture(nullptr), 0);

    const cap::Parsed p = readCapture(file("marks.rslcap"));
    ASSERT_TRUE(p.ok()) << p.error;
    ASSERT_GE(p.records.size(), 4u);
    EXPECT_EQ(p.records.front().type, cap::RecordType::Clock);
    EXPECT_EQ(p.records[1].type, cap::RecordType::Open);
    EXPECT_EQ(p.records[1].port, kCaptureCom);
    EXPECT_EQ(p.records[1].speed, 9600u);
    EXPECT_EQ(p.records[1].parity, 2);
    EXPECT_EQ(p.records.back().type, cap::RecordType::Close);
    // The unit's last frame is whole before the close mark: nothing is left
    // gathering when the port closes.
    EXPECT_EQ(frames(file("marks.rslcap"), cap::Direction::UnitToHost), std::vector<std::string>{hex(answer)});
}

// A program that ends (exit, or a return from main) in the middle of an
// exchange, without RSClose and without ending the capture, leaves the file
// cut to its records.
TEST_F(CaptureDriver, AProgramThatEndsWithoutClosingLeavesTheFileCutToItsRecords) {
    const fs::path path = file("ended.rslcap");
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const pid_t child = fork();
    if (child == 0) {
        MSG_BLK block = sendBlock(first);
        const bool running = RSCapture(path.c_str()) == RS_OK &&
                             RSOpen(client.id, kCaptureCom, 9600, 8, 2, 0) == RS_OK && RSSend(&block) == RS_OK;
        char ignored;
        if (running) (void)!read(go[0], &ignored, 1);  // the unit has the bid
        std::exit(running ? 0 : 3);  // the driver waits for the grant meanwhile
    }
    ASSERT_EQ(hex(peer.read(2)), hex(kEnq));
    ASSERT_EQ(write(go[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ::close(go[0]);
    ::close(go[1]);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    const cap::Parsed p = readCapture(path);
    ASSERT_TRUE(p.ok()) << p.error;
    ASSERT_EQ(p.records.size(), 3u);
    EXPECT_EQ(p.records[1].type, cap::RecordType::Open);
    const cap::Record &bid = p.records[2];
    EXPECT_EQ(hex(bid.bytes), hex(kEnq));
    // A burst record is its header, its time, the direction and the bytes.
    EXPECT_EQ(fs::file_size(path), bid.offset + cap::kRecordHeaderSize + 9 + bid.bytes.size());
}

TEST_F(CaptureDriver, AFileThatCannotBeMadeFailsWithItsReason) {
    errno = 0;
    EXPECT_EQ(RSCapture("/nonexistent-folder/x.rslcap"), RS_ERR_FILE);
    EXPECT_EQ(errno, ENOENT);
    ASSERT_EQ(RSOpen(client.id, kCaptureCom, 9600, 8, 2, 0), 0);
    exchange(first, answer);  // the line works without a capture
}

}  // namespace
