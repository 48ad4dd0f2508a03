// The unit's side of the line: bids, frames, check codes, and the host
// coming and going.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "scripted_host.h"
#include "support/files.h"
#include "support/pty_peer.h"
#include "support/shell.h"
#include "support/wait.h"

namespace toolstest {
namespace {

bool hasLine(const testsupport::Bdusim &unit, const std::string &wanted,
             milliseconds timeout = milliseconds(5000)) {
    return unit.waitForLine([&](const std::string &line) { return line == wanted; }, timeout);
}

// Waits until the unit's byte log (--log) tells of the host's `nth` close:
// only a close the unit has seen resets its side of the line.
bool unitSawClose(const std::string &log, size_t nth) {
    return testsupport::waitUntil([&] {
        std::ifstream file(log);
        size_t closes = 0;
        for (std::string line; std::getline(file, line);)
            closes += line.starts_with("# ") && line.ends_with(" the host closed the line");
        return closes >= nth;
    }, milliseconds(5000));
}

TEST(UnitLine, GrantsABidAcknowledgesTheFrameAndAnswersInItsOwnFrame) {
    Rig rig({"--trace-requests"});
    rig.host.writePair(ENQ);
    EXPECT_EQ(rig.host.read(2), (Bytes{DLE, ACK}));
    rig.host.write(frameOf(kStatusRead));
    EXPECT_EQ(rig.host.read(2), (Bytes{DLE, ACK}));
    // The unit bids with its response and sends it once granted.
    EXPECT_EQ(rig.host.read(2), (Bytes{DLE, ENQ}));
    rig.host.writePair(ACK);
    const auto response = rig.host.readFrame();
    ASSERT_TRUE(response);
    EXPECT_TRUE(response->crcGood);
    ASSERT_GE(response->text.size(), 3u);
    EXPECT_EQ(response->text[0], 0xE0);
    EXPECT_EQ(response->text[1], 0x01);
    rig.host.writePair(ACK);
    EXPECT_TRUE(hasLine(rig.unit, "REQ 00 01 1C"));
    // Nothing more follows an acknowledged response.
    EXPECT_TRUE(rig.host.drain(milliseconds(300)).empty());
}

TEST(UnitLine, RejectsABadCheckCodeAndTakesTheFrameSentAgain) {
    Rig rig({"--trace-requests"});
    Bytes bad = frameOf(kStatusRead);
    bad.back() ^= 0x01;
    rig.host.writePair(ENQ);
    ASSERT_EQ(rig.host.nextControl(), ACK);
    rig.host.write(bad);
    EXPECT_EQ(rig.host.nextControl(), NAK);
    // As the host does after DLE NAK: the whole frame again, without a bid.
    rig.host.write(frameOf(kStatusRead));
    EXPECT_EQ(rig.host.nextControl(), ACK);
    const auto response = rig.host.takeResponse();
    ASSERT_TRUE(response);
    EXPECT_TRUE(response->crcGood);
    // Only the good frame was taken as a request.
    ASSERT_TRUE(hasLine(rig.unit, "REQ 00 01 1C"));
    EXPECT_EQ(rig.unit.lines().size(), 1u);
}

TEST(UnitLine, CountsTheTextByItsLengthSoADleInsideIsData) {
    Rig rig;
    // A device-information write whose text holds DLE ETX and DLE STX.
    Bytes params(41, 0x00);
    params[0] = 0x01;
    params[1] = DLE;
    params[2] = ETX;
    params[3] = DLE;
    params[4] = STX;
    const Bytes response = rig.host.exchange(basic(0x0E, params));
    ASSERT_GE(response.size(), 44u);
    EXPECT_EQ(response[0], 0xE0);
    // The stored setting comes back as it was sent.
    EXPECT_EQ(Bytes(response.begin() + 40, response.begin() + 44), (Bytes{DLE, ETX, DLE, STX}));
}

TEST(UnitLine, ARequestAndItsResponseMayCrossAnotherRequest) {
    Rig rig({"--delay", "400"});
    ASSERT_EQ(rig.host.sendRequest(kStatusRead), ACK);
    // Before the slow unit answers, the host sends a second request.
    ASSERT_EQ(rig.host.sendRequest(enhanced(0x10, {0x00})), ACK);
    const auto first = rig.host.takeResponse();
    const auto second = rig.host.takeResponse();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->text[1], 0x01);
    EXPECT_EQ(second->text[1], 0x10);
}

TEST(UnitLine, SurvivesTheHostClosingAndReopeningAndLeavesItNoStaleBytes) {
    const std::string log = testsupport::scratch() + "reopen.log";
    Rig rig({"--log", log});
    ASSERT_FALSE(rig.host.exchange(kStatusRead).empty());
    // Close right after the request is acknowledged, while the unit bids.
    ASSERT_EQ(rig.host.sendRequest(kStatusRead), ACK);
    rig.host.close();
    ASSERT_TRUE(unitSawClose(log, 1));
    rig.host.reopen();
    EXPECT_TRUE(rig.host.drain(milliseconds(500)).empty()) << "the old exchange reached the new host";
    // And again in the middle of a frame of the host's.
    rig.host.writePair(ENQ);
    ASSERT_EQ(rig.host.nextControl(), ACK);
    rig.host.write(Bytes{DLE, STX, 0x00});
    rig.host.close();
    ASSERT_TRUE(unitSawClose(log, 2));
    rig.host.reopen();
    const Bytes response = rig.host.exchange(kStatusRead);
    ASSERT_FALSE(response.empty());
    EXPECT_EQ(response[1], 0x01);
}

TEST(UnitLine, ByteLogHoldsEachBurstWithItsDirection) {
    const std::string log = ::testing::TempDir() + "bdusim_line_" + std::to_string(getpid()) + ".log";
    {
        Rig rig({"--log", log});
        ASSERT_FALSE(rig.host.exchange(kStatusRead).empty());
        rig.host.close();
        // The close is logged after the last bytes the unit read.
        ASSERT_TRUE(unitSawClose(log, 1));
    }
    std::ifstream file(log);
    std::vector<std::string> bursts;
    for (std::string line; std::getline(file, line);)
        if (!line.starts_with("#")) bursts.push_back(line);
    ASSERT_GE(bursts.size(), 6u);
    // A time to the microsecond, then the direction and the bytes.
    EXPECT_EQ(bursts[0].size(), 15u + std::string(" host>unit 10 05").size()) << bursts[0];
    EXPECT_EQ(bursts[0].substr(2, 1) + bursts[0].substr(5, 1) + bursts[0].substr(8, 1), "::.");
    EXPECT_TRUE(bursts[0].ends_with(" host>unit 10 05")) << bursts[0];
    EXPECT_TRUE(bursts[1].ends_with(" unit>host 10 06")) << bursts[1];
    const std::string frame = " host>unit " + testsupport::hex(frameOf(kStatusRead));
    EXPECT_TRUE(std::any_of(bursts.begin(), bursts.end(), [&](const std::string &l) { return l.ends_with(frame); }));
    std::remove(log.c_str());
}

TEST(UnitProcess, LinkPointsAtThePtyAndGoesAwayWithTheUnit) {
    const std::string link = ::testing::TempDir() + "bdusim_link_" + std::to_string(getpid());
    testsupport::Bdusim unit({"--link", link});
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), unit.path());
    ScriptedHost host(link);
    EXPECT_FALSE(host.exchange(kStatusRead).empty());
    unit.stop(SIGTERM);
    struct stat st{};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link outlived the unit";
}

// Runs bdusim with the arguments; returns its exit status and output.
int runToEnd(const std::string &args, std::string &out) {
    return testsupport::run("'" BDUSIM_PATH "' " + args + " 2>&1", out);
}

TEST(UnitProcess, RefusesAMistypedOptionWithoutOpeningALine) {
    std::string out;
    EXPECT_EQ(runToEnd("--nak-frames two", out), 2);
    EXPECT_NE(out.find("--nak-frames"), std::string::npos) << out;
    EXPECT_EQ(out.find("/dev/"), std::string::npos) << out;
    out.clear();
    EXPECT_EQ(runToEnd("--negative 0x12:E0", out), 2) << "a negative response with the positive code";
    out.clear();
    EXPECT_EQ(runToEnd("--hang-up frame:1", out), 2) << "an unknown hang-up point";
    EXPECT_EQ(runToEnd("--hang-up bid:0", out), 2) << "hang-up points count from 1";
    out.clear();
    EXPECT_EQ(runToEnd("--help", out), 0);
    EXPECT_NE(out.find("--negative-download"), std::string::npos);
    EXPECT_NE(out.find("--hang-up POINT:N"), std::string::npos);
}

}  // namespace
}  // namespace toolstest
