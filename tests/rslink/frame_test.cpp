// The check code and the frame layout against the worked examples.
#include <gtest/gtest.h>

#include "support/pty_peer.h"
#include "rslink/core/frame.h"

using namespace testsupport;

TEST(Frame, CheckCodeIsKermit) {
    const std::string digits = "123456789";
    EXPECT_EQ(rslink::crc16(reinterpret_cast<const uint8_t *>(digits.data()), digits.size()),
              0x2189);
    // Byte at a time, as the receive path adds them.
    uint32_t crc = 0;
    for (char c : digits) crc = rslink::crcUpdate(crc, static_cast<uint8_t>(c));
    EXPECT_EQ(crc, 0x2189u);
}

TEST(Frame, WorkedExamples) {
    EXPECT_EQ(hex(frameOf(hex("61 62 63"))), "10 02 00 03 61 62 63 10 03 3B 4B");
    EXPECT_EQ(hex(frameOf(hex("60 0E 01 00 1C"))), "10 02 00 05 60 0E 01 00 1C 10 03 3E 86");
}

TEST(Frame, DleInsideTextTravelsSingleAndLengthCountsText) {
    const Bytes frame = frameOf(hex("10 10 03"));
    ASSERT_EQ(frame.size(), 3u + 8u);
    EXPECT_EQ(hex(Bytes(frame.begin(), frame.begin() + 9)), "10 02 00 03 10 10 03 10 03");
    const uint16_t crc = rslink::crc16(frame.data() + 2, 7);
    EXPECT_EQ(frame[9], crc & 0xFF);
    EXPECT_EQ(frame[10], crc >> 8);
}

TEST(Frame, LongestTextFillsTheTransmitBuffer) {
    Bytes text(rslink::kMaxSendText, 0x10);
    const Bytes frame = frameOf(text);
    EXPECT_EQ(frame.size(), 1496u);
    EXPECT_EQ(frame[2], 0x05);
    EXPECT_EQ(frame[3], 0xD0);
}
