// Downloads and acquisitions through the whole console: the console's
// buttons, SendThread, the link driver, and the simulated unit on a pty.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "console_rig.h"
#include "expected_report.h"
#include "support/pty_peer.h"

namespace {

using namespace transfers_test;
using testsupport::waitUntil;
namespace ctl = valdor::ctl;

std::vector<uint8_t> lineProgram(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 29 + i / 509) & 0xFF);
    return bytes;
}

using LineTest = ConsoleRig;

// Data frames' program bytes, in order, checking the numbering on the way.
std::vector<uint8_t> programIn(const std::vector<std::vector<uint8_t>> &frames) {
    std::vector<uint8_t> program;
    unsigned expected = 1;
    for (auto &f : frames) {
        if (f.size() < 35 || f[1] != 0xD1) continue;
        char number[5] = {};
        std::memcpy(number, f.data() + 6 + 12, 4);
        EXPECT_EQ(std::stoul(number), expected++);
        program.insert(program.end(), f.begin() + 34, f.end() - 1);
    }
    return program;
}

// Files of three blocks, of exactly one (a second, empty block follows),
// empty, and shorter than the 44 bytes that hold file_id (zeros stand for
// the missing ones): each reaches the unit whole, one after the other.
TEST_F(LineTest, DownloadsReachTheUnitWhole) {
    startUnit();
    openConsole();
    const struct {
        size_t size;
        std::vector<std::string> dataLengths;  // the "%04X" field of each data frame
    } cases[] = {{2500, {"04CE", "04CE", "0058"}}, {1214, {"04CE", "0010"}}, {0, {"0010"}}, {40, {"0038"}}};
    size_t seen = 0, downloads = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        auto program = lineProgram(c.size);
        host.answer = dir.write("case.prg", program);
        console->press(ctl::DownLoad);
        ASSERT_TRUE(waitForMessage("DOWNLOAD NORMAL END", ++downloads));
        auto all = requests();
        std::vector<std::vector<uint8_t>> frames(all.begin() + static_cast<long>(seen), all.end());
        seen = all.size();
        const size_t data = c.dataLengths.size();
        ASSERT_EQ(frames.size(), data + 2);
        std::vector<uint8_t> fileId(12, 0);
        for (size_t b = 32; b < 44 && b < program.size(); ++b) fileId[b - 32] = program[b];
        for (size_t f = 0; f < frames.size(); ++f) {
            SCOPED_TRACE(f);
            const char *length = f < data ? c.dataLengths[f].c_str() : f == data ? "0010" : "000E";
            const size_t carried = f < data ? std::min<size_t>(1214, c.size - 1214 * f) : 0;
            EXPECT_EQ(frames[f].size(), f <= data ? 35 + carried : 33u);
            EXPECT_EQ(frames[f][1], f < data ? 0xD1 : f == data ? 0xD2 : 0xD4);
            EXPECT_EQ(std::string(frames[f].begin() + 14, frames[f].begin() + 18), length);
            if (f <= data) {
                EXPECT_EQ(std::vector<uint8_t>(frames[f].begin() + 22, frames[f].begin() + 34), fileId);
            }
        }
        EXPECT_EQ(programIn(frames), program);
        char endNumber[8];
        std::snprintf(endNumber, sizeof endNumber, "%04zu", data + 1);
        EXPECT_EQ(std::string(frames[data].begin() + 18, frames[data].begin() + 22), endNumber);
        // The bar counts the blocks the size calls for, then the end and the time frame.
        const int bar = static_cast<int>((c.size + 1213) / 1214) + 2;
        EXPECT_EQ(panel.progressRange(), std::make_pair(0, bar));
        EXPECT_EQ(panel.progressPosition(), bar);
        EXPECT_EQ(panel.text(ctl::DownloadFileName), "case.prg");
        EXPECT_FALSE(heldOpen(*host.answer));
    }
    EXPECT_TRUE(unit->waitForLine([](const std::string &l) { return l.rfind("DOWNLOAD OK blocks=3 bytes=2500", 0) == 0; }));
}

TEST_F(LineTest, RefusedEndFrameEndsTheDownloadWithoutTheClock) {
    startUnit({"--negative-download", "4"});
    openConsole();
    host.answer = dir.write("neg.prg", lineProgram(2500));
    console->press(ctl::DownLoad);
    ASSERT_TRUE(waitForMessage("DOWNLOAD ABNORMAL END -> ERR RESPONSE"));
    roundTrip();
    EXPECT_EQ(requests(0xD2).size(), 1u);
    EXPECT_TRUE(requests(0xD4).empty());
    EXPECT_EQ(count("DOWNLOAD NORMAL END"), 0u);
    EXPECT_FALSE(heldOpen(*host.answer));
}

TEST_F(LineTest, DeadLineEndsTheDownloadAndALaterAnswerIsNotTakenForIt) {
    startUnit({"--delay", "1500"});
    openConsole();
    host.answer = dir.write("broken.prg", lineProgram(5000));
    console->press(ctl::DownLoad);
    // The unit has taken the second block and is slow to answer it: the
    // line goes dead under it.
    ASSERT_TRUE(unit->waitForLine(
        [](const std::string &l) {
            if (l.rfind("REQ 60 D1", 0) != 0) return false;
            auto frame = testsupport::hex(l.substr(4));
            return frame.size() > 22 && std::string(frame.begin() + 18, frame.begin() + 22) == "0002";
        },
        30s));
    ASSERT_TRUE(heldOpen(*host.answer));
    unit->stop(SIGKILL);
    console->press(ctl::StatusRead);
    ASSERT_TRUE(waitUntil([&] { return count("Send Abnormal End") + count("API Error End") > 0; }, 60s));
    EXPECT_TRUE(waitUntil([&] { return !heldOpen(*host.answer); }, 10s));

    // A new unit on a reopened port: its answers go to the repeat decision,
    // never to the broken download.
    startUnit();
    console->press(ctl::ComClose);
    console->press(ctl::ComOpen);
    ASSERT_TRUE(console->portOpen());
    roundTrip();
    roundTrip();
    EXPECT_TRUE(requests(0xD1).empty());
    EXPECT_TRUE(requests(0xD2).empty());
    EXPECT_EQ(count("DOWNLOAD NORMAL END"), 0u);
    EXPECT_EQ(count("DOWNLOAD ABNORMAL END -> ERR RESPONSE"), 0u);
}

TEST_F(LineTest, MegabyteDownloadsWhole) {
    startUnit();
    openConsole();
    ASSERT_TRUE(panel.checked(ctl::ShowMessages));
    auto program = lineProgram(1 << 20);
    host.answer = dir.write("big.prg", program);
    console->press(ctl::DownLoad);
    ASSERT_TRUE(waitForMessage("DOWNLOAD NORMAL END", 1, 240s));
    auto frames = requests();
    ASSERT_EQ(frames.size(), 864u + 2);
    EXPECT_EQ(programIn(frames), program);
    EXPECT_EQ(std::string(frames[864].begin() + 18, frames[864].begin() + 22), "0865");
    EXPECT_EQ(panel.progressPosition(), 866);
    // Every frame went out and came back exactly once.
    EXPECT_EQ(count("Send Normal End"), 866u);
    EXPECT_EQ(count("Receive Normal End"), 866u);
}

TEST_F(LineTest, FullAcquisitionMatchesTheUnitsRecords) {
    for (bool measuredOnly : {false, true}) {
        SCOPED_TRACE(measuredOnly);
        startUnit();
        openConsole();
        panel.setChecked(ctl::MeasuredInf, measuredOnly);
        std::string path = dir.file(measuredOnly ? "measured.txt" : "full.txt");
        host.answer = path;
        console->press(ctl::AcquireOpeLog);
        ASSERT_TRUE(waitForMessage("Operational Log NORMAL END", 1, 120s));
        EXPECT_EQ(readText(path), expectedReport(unitRecords, measuredOnly));
        EXPECT_FALSE(heldOpen(path));

        auto sent = requests(0x13);
        std::vector<std::vector<uint8_t>> expected;
        for (int s = 0; s < (measuredOnly ? 1 : 4); ++s)
            for (int b = 0; b < kBlocksPerSection[s]; ++b)
                expected.push_back({0x60, 0x13, 0xFF, 0x00, 0x00, 0x02, static_cast<uint8_t>(s),
                                    static_cast<uint8_t>(b), 0x1C});
        EXPECT_EQ(sent, expected);
        console->exit();
        console.reset();
        std::lock_guard lock(countsMutex);
        counts.clear();
    }
}

TEST_F(LineTest, RefusedRequestLeavesWhatWasRead) {
    startUnit({"--negative-oplog", "2,1"});
    openConsole();
    std::string path = dir.file("neg.txt");
    host.answer = path;
    console->press(ctl::AcquireOpeLog);
    ASSERT_TRUE(waitForMessage("Operational Log ABNORMAL END -> ERR RESPONSE", 1, 120s));
    roundTrip();
    EXPECT_EQ(readText(path), expectedReport(unitRecords, false, 2, 1));
    EXPECT_EQ(requests(0x13).size(), 8u + 8 + 2);
    EXPECT_FALSE(heldOpen(path));
}

TEST_F(LineTest, OperationalLogButtonStopsAnAcquisition) {
    startUnit({"--delay", "1000"});
    openConsole();
    std::string path = dir.file("stopped.txt");
    host.answer = path;
    console->press(ctl::AcquireOpeLog);
    ASSERT_TRUE(unit->waitForLine([](const std::string &l) { return l == "REQ 60 13 FF 00 00 02 00 02 1C"; }, 30s));
    console->press(ctl::OperationalLog);
    // The button's own request, with P1 and P2 as the lists give them.
    ASSERT_TRUE(waitUntil([&] { return requests(0x13).size() >= 4; }, 30s));
    // Three acquisition answers, the button's, and one more round trip.
    roundTrip();
    ASSERT_TRUE(waitForMessage("Receive Normal End", 5));
    EXPECT_FALSE(heldOpen(path));

    // Blocks (0,0) and (0,1) are in; the answer on its way when the button
    // was pressed is not written, and nothing more was asked for.
    EXPECT_EQ(readText(path), expectedReport(unitRecords, false, 0, 2));
    EXPECT_EQ(requests(0x13).size(), 4u);
    for (auto &m : panel.messages()) EXPECT_EQ(m.rfind("Operational Log", 0), std::string::npos) << m;
}

TEST_F(LineTest, ReportThatCannotBeCreatedSendsNothing) {
    startUnit();
    openConsole();
    host.answer = dir.file("no/such/folder/r.txt");
    console->press(ctl::AcquireOpeLog);
    EXPECT_EQ(panel.messages().back(), "FILE OPEN ERROR(FILENAME=r.txt CODE=0x00000002)");
    roundTrip();
    EXPECT_TRUE(requests(0x13).empty());
}

}  // namespace
