// Each fault the unit can be told to play does what it says, and the line
// still comes right afterwards where a real host would make it come right.
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "scripted_host.h"

namespace toolstest {
namespace {

using Clock = std::chrono::steady_clock;
const Bytes kCancel{0x00, 0x10, 0x1C};

TEST(FaultOptions, SilentAnswersNothing) {
    Rig rig({"--silent", "--unsolicited", "100"});
    rig.host.writePair(ENQ);
    rig.host.write(frameOf(kStatusRead));
    EXPECT_TRUE(rig.host.drain(milliseconds(1500)).empty());
}

TEST(FaultOptions, NakFramesRefusesTheFirstFramesOnly) {
    Rig rig({"--nak-frames", "2", "--trace-requests"});
    EXPECT_EQ(rig.host.sendRequest(kStatusRead), NAK);
    rig.host.write(frameOf(kStatusRead));
    EXPECT_EQ(rig.host.nextControl(), NAK);
    rig.host.write(frameOf(kStatusRead));
    EXPECT_EQ(rig.host.nextControl(), ACK);
    EXPECT_TRUE(rig.host.takeResponse());
    // Later frames are taken at once.
    EXPECT_EQ(rig.host.sendRequest(kCancel), ACK);
    EXPECT_TRUE(rig.host.takeResponse());
    ASSERT_TRUE(rig.unit.waitForLine([](const std::string &line) { return line == "REQ 00 10 1C"; }));
    EXPECT_EQ(rig.unit.lines(), (std::vector<std::string>{"REQ 00 01 1C", "REQ 00 10 1C"}));
}

TEST(FaultOptions, BadCrcSpoilsEachOfTheFirstResponsesOnceThenSendsItRight) {
    Rig rig({"--bad-crc", "2"});
    for (const Bytes &request : {kStatusRead, kCancel}) {
        ASSERT_EQ(rig.host.sendRequest(request), ACK);
        const auto spoilt = rig.host.takeResponse();
        ASSERT_TRUE(spoilt);
        EXPECT_FALSE(spoilt->crcGood);
        // takeResponse answered DLE NAK; the same text follows, correct.
        const auto again = rig.host.readFrame();
        ASSERT_TRUE(again);
        EXPECT_TRUE(again->crcGood);
        EXPECT_EQ(again->text, spoilt->text);
        rig.host.writePair(ACK);
    }
    ASSERT_EQ(rig.host.sendRequest(kStatusRead), ACK);
    const auto third = rig.host.takeResponse();
    ASSERT_TRUE(third);
    EXPECT_TRUE(third->crcGood);
}

// The unit's DLE ENQ in place of DLE ACK, taken as the acknowledgement (the
// unit then bids again by itself) or as a bid (granted at once).
TEST(FaultOptions, EnqAckStillDeliversTheResponseOnce) {
    Rig rig({"--enq-ack"});
    EXPECT_EQ(rig.host.sendRequest(kStatusRead), ENQ);
    const auto response = rig.host.takeResponse(milliseconds(5000));
    ASSERT_TRUE(response);
    EXPECT_TRUE(response->crcGood);
    EXPECT_EQ(response->text[1], 0x01);

    EXPECT_EQ(rig.host.sendRequest(kCancel), ENQ);
    rig.host.writePair(ACK);  // a host that took the DLE ENQ as a bid
    const auto granted = rig.host.readFrame();
    ASSERT_TRUE(granted);
    EXPECT_EQ(granted->text[1], 0x10);
    rig.host.writePair(ACK);
    EXPECT_TRUE(rig.host.drain(milliseconds(800)).empty()) << "the response went twice";
}

TEST(FaultOptions, ContendBidsBackSendsItsOwnFrameThenGrantsTheHost) {
    Rig rig({"--contend", "1", "--trace-requests"});
    rig.host.writePair(ENQ);
    EXPECT_EQ(rig.host.nextControl(), ENQ) << "a bid instead of the grant";
    // The host yields and waits for the unit's second bid.
    EXPECT_EQ(rig.host.nextControl(), ENQ);
    rig.host.writePair(ACK);
    const auto own = rig.host.readFrame();
    ASSERT_TRUE(own);
    EXPECT_TRUE(own->crcGood);
    EXPECT_EQ(own->text[0], 0xE0);
    EXPECT_EQ(own->text[1], 0x01) << "with nothing pending the unit sends a status response";
    rig.host.writePair(ACK);
    // The host's new bid is granted, and so is every later one.
    for (const Bytes &request : {kStatusRead, kCancel}) {
        EXPECT_EQ(rig.host.sendRequest(request), ACK);
        const auto response = rig.host.takeResponse();
        ASSERT_TRUE(response);
        EXPECT_EQ(response->text[1], request[1]);
    }
}

TEST(FaultOptions, NoiseComesBeforeEachPairAndFrameButNeverAsDle) {
    Rig rig({"--noise", "3"});
    Bytes skipped;
    rig.host.writePair(ENQ);
    EXPECT_EQ(rig.host.nextControl(milliseconds(5000), &skipped), ACK);
    EXPECT_EQ(skipped.size(), 3u);
    rig.host.write(frameOf(kStatusRead));
    EXPECT_EQ(rig.host.nextControl(milliseconds(5000), &skipped), ACK);
    EXPECT_EQ(rig.host.nextControl(milliseconds(5000), &skipped), ENQ);
    rig.host.writePair(ACK);
    const auto response = rig.host.readFrame();  // skips the noise before DLE STX
    ASSERT_TRUE(response);
    EXPECT_TRUE(response->crcGood);
    EXPECT_EQ(skipped.size(), 9u);
    for (uint8_t byte : skipped) EXPECT_NE(byte, DLE);
}

// At its hang-up point the unit prints HANG-UP and ends; what it wrote
// before has left, and nothing of the exchange after the point follows.
TEST(FaultOptions, HangUpEndsTheUnitAtTheChosenPoint) {
    {
        Rig rig({"--hang-up", "bid:2"});
        EXPECT_EQ(rig.host.sendRequest(kStatusRead), ACK) << "the first bid is served";
        EXPECT_TRUE(rig.host.takeResponse());
        rig.host.writePair(ENQ);
        EXPECT_FALSE(rig.host.nextControl(milliseconds(1500))) << "the second bid was answered";
        EXPECT_TRUE(rig.unit.ended(milliseconds(5000)));
    }
    {
        Rig rig({"--hang-up", "request:1"});
        EXPECT_EQ(rig.host.sendRequest(kStatusRead), ACK) << "the request is acknowledged first";
        EXPECT_FALSE(rig.host.takeResponse(milliseconds(1500))) << "a response after the hang-up";
        EXPECT_TRUE(rig.unit.ended(milliseconds(5000)));
    }
    {
        Rig rig({"--hang-up", "response:1"});
        EXPECT_EQ(rig.host.sendRequest(kStatusRead), ACK);
        EXPECT_EQ(rig.host.nextControl(), ENQ) << "the unit bids with its response";
        rig.host.writePair(ACK);
        EXPECT_FALSE(rig.host.readFrame(milliseconds(1500))) << "the whole frame went out";
        EXPECT_TRUE(rig.unit.ended(milliseconds(5000)));
    }
    {
        Rig rig({"--hang-up", "request:2"});
        EXPECT_TRUE(rig.host.exchange(kStatusRead).size() > 2);
        EXPECT_FALSE(rig.unit.ended(milliseconds(300))) << "ended before its point";
    }
}

TEST(FaultOptions, UnsolicitedSendsStatusResponsesWhileIdle) {
    Rig rig({"--unsolicited", "1000"});
    for (int i = 0; i < 2; ++i) {
        const auto frame = rig.host.takeResponse(milliseconds(5000));
        ASSERT_TRUE(frame) << "unsolicited frame " << i;
        EXPECT_EQ(frame->text[0], 0xE0);
        EXPECT_EQ(frame->text[1], 0x01);
    }
    // Requests are still served in between.
    EXPECT_EQ(rig.host.sendRequest(kCancel), ACK);
    for (int i = 0; i < 3; ++i) {
        const auto frame = rig.host.takeResponse();
        ASSERT_TRUE(frame);
        if (frame->text[1] == 0x10) return;
    }
    ADD_FAILURE() << "no response to the request among the unsolicited frames";
}

TEST(FaultOptions, DelayHoldsTheResponseBack) {
    Rig rig({"--delay", "700"});
    ASSERT_EQ(rig.host.sendRequest(kStatusRead), ACK);
    const auto acknowledged = Clock::now();
    ASSERT_EQ(rig.host.nextControl(), ENQ);
    EXPECT_GE(Clock::now() - acknowledged, milliseconds(650));
}

TEST(FaultOptions, NegativeAnswersTheChosenCommandWithACatalogueError) {
    Rig rig({"--negative", "0x01", "--negative", "10:F1:A100"});
    const Bytes status = rig.host.exchange(kStatusRead);
    ASSERT_GE(status.size(), 5u);
    EXPECT_EQ(status[0], 0xF0);
    EXPECT_EQ(status[1], 0x01);
    EXPECT_NE(Bytes(status.begin() + 3, status.begin() + 5), (Bytes{0x00, 0x00}));
    // The chosen DH0 and error code, in the enhanced positions.
    const Bytes cancel = rig.host.exchange(enhanced(0x10, {0x00}));
    ASSERT_GE(cancel.size(), 8u);
    EXPECT_EQ(cancel[0], 0xF1);
    EXPECT_EQ(Bytes(cancel.begin() + 6, cancel.begin() + 8), (Bytes{0xA1, 0x00}));
    // Other commands stay positive.
    EXPECT_EQ(rig.host.exchange(basic(0x0F, {0x10})).at(0), 0xE0);
}

TEST(FaultOptions, NegativeAtPicksOneRequestOfACode) {
    Rig rig({"--negative-at", "0x01:2"});
    EXPECT_EQ(rig.host.exchange(kStatusRead).at(0), 0xE0);
    EXPECT_EQ(rig.host.exchange(kCancel).at(0), 0xE0);
    EXPECT_NE(rig.host.exchange(kStatusRead).at(0), 0xE0);
    EXPECT_EQ(rig.host.exchange(kStatusRead).at(0), 0xE0);
}

}  // namespace
}  // namespace toolstest
