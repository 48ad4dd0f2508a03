// The capture file's records: what is written is read back, two devices keep
// their own clocks, and damaged files stop the reading with the offset of the
// damage while the records before it stay usable.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "rslink/core/capture_format.h"
#include "support/pty_peer.h"

namespace cap = rslink::capture;
using testsupport::joined;

namespace {

std::vector<uint8_t> burst(uint8_t device, uint64_t t, cap::Direction d, std::vector<uint8_t> bytes) {
    std::vector<uint8_t> out;
    cap::appendBurst(out, device, t, d, bytes);
    return out;
}

TEST(CaptureFormat, EveryRecordReadsBackAsWritten) {
    const auto file = joined({cap::encodeHeader(), cap::encodeClock(0, 0, 1700000000123456, "rslink"),
                            cap::encodeOpen(0, 10, 9600, 8, 2, 0, 3, "/dev/ttyUSB0"),
                            burst(0, 500, cap::Direction::HostToUnit, {0x10, 0x05}),
                            burst(0, 1700, cap::Direction::UnitToHost, {0x10, 0x06}),
                            cap::encodeClose(0, 90000)});
    const cap::Parsed p = cap::parse(file);
    ASSERT_TRUE(p.ok()) << p.error;
    ASSERT_EQ(p.records.size(), 5u);
    EXPECT_EQ(p.records[0].type, cap::RecordType::Clock);
    EXPECT_EQ(p.records[0].wallMicros, 1700000000123456);
    EXPECT_EQ(p.records[0].text, "rslink");
    const cap::Record &open = p.records[1];
    EXPECT_EQ(open.type, cap::RecordType::Open);
    EXPECT_EQ(open.micros, 10u);
    EXPECT_EQ(open.speed, 9600u);
    EXPECT_EQ(open.dataBits, 8);
    EXPECT_EQ(open.parity, 2);
    EXPECT_EQ(open.stopBits, 0);
    EXPECT_EQ(open.port, 3);
    EXPECT_EQ(open.text, "/dev/ttyUSB0");
    EXPECT_EQ(p.records[2].direction, cap::Direction::HostToUnit);
    EXPECT_EQ(p.records[2].bytes, (std::vector<uint8_t>{0x10, 0x05}));
    EXPECT_EQ(p.records[3].direction, cap::Direction::UnitToHost);
    EXPECT_EQ(p.records[3].micros, 1700u);
    EXPECT_EQ(p.records[4].type, cap::RecordType::Close);
    EXPECT_EQ(p.records[4].micros, 90000u);
    EXPECT_EQ(cap::wallTime(p.records, 3), 1700000000123456 + 1700);
}

TEST(CaptureFormat, TwoDevicesKeepTheirOwnClocksAndUnknownRecordsAreSkipped) {
    std::vector<uint8_t> unknown = {0x7F, 0, 9, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const auto file = joined({cap::encodeHeader(), cap::encodeClock(1, 5000, 1000000, "tap A"),
                            cap::encodeClock(2, 0, 2000000, "tap B"), unknown,
                            burst(1, 5100, cap::Direction::HostToUnit, {0x10, 0x05}),
                            burst(2, 40, cap::Direction::UnitToHost, {0x10, 0x06})});
    const cap::Parsed p = cap::parse(file);
    ASSERT_TRUE(p.ok()) << p.error;
    ASSERT_EQ(p.records.size(), 4u);
    EXPECT_EQ(cap::wallTime(p.records, 2), 1000000 + 100);
    EXPECT_EQ(cap::wallTime(p.records, 3), 2000000 + 40);
}

TEST(CaptureFormat, ALongBurstIsSplitIntoRecordsThatStillHoldEveryByte) {
    std::vector<uint8_t> bytes(cap::kMaxBurst * 2 + 7);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    auto file = cap::encodeHeader();
    cap::appendBurst(file, 0, 42, cap::Direction::UnitToHost, bytes);
    const cap::Parsed p = cap::parse(file);
    ASSERT_TRUE(p.ok()) << p.error;
    ASSERT_EQ(p.records.size(), 3u);
    std::vector<uint8_t> back;
    for (const auto &r : p.records) back.insert(back.end(), r.bytes.begin(), r.bytes.end());
    EXPECT_EQ(back, bytes);
}

struct Damage {
    const char *name;
    std::vector<uint8_t> tail;  // after a good header and one good burst (23 bytes)
    size_t offset;
    const char *says;
};

class DamagedCapture : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedCapture, StopsAtTheDamageWithItsOffsetKeepingWhatCameBefore) {
    const Damage &d = GetParam();
    auto file = joined({cap::encodeHeader(), burst(0, 1, cap::Direction::HostToUnit, {0x10, 0x05})});
    ASSERT_EQ(file.size(), 23u);
    file.insert(file.end(), d.tail.begin(), d.tail.end());
    const cap::Parsed p = cap::parse(file);
    EXPECT_FALSE(p.ok());
    EXPECT_EQ(p.errorOffset, d.offset);
    EXPECT_NE(p.error.find(d.says), std::string::npos) << p.error;
    EXPECT_EQ(p.records.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Tails, DamagedCapture,
    ::testing::Values(Damage{"cut_header", {0x04, 0x00}, 23, "header is cut short"},
                      Damage{"past_end", {0x04, 0x00, 0x20, 0x00, 1, 2, 3}, 23, "runs past the end"},
                      Damage{"no_time", {0x03, 0x00, 0x02, 0x00, 1, 2}, 23, "too short to hold its time"},
                      Damage{"bad_direction", {0x04, 0x00, 0x0A, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0x10},
                             23, "direction 7"},
                      Damage{"empty_burst", {0x04, 0x00, 0x08, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}, 23,
                             "no direction"},
                      Damage{"short_open", {0x02, 0x00, 0x09, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 9}, 23,
                             "open record is too short"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CaptureFormat, ForeignAndNewerFilesAreRefusedAtOnce) {
    const std::vector<uint8_t> text = {'S', 'E', 'N', 'D', '[', '1', '2', ':'};
    EXPECT_EQ(cap::parse(text).errorOffset, 0u);
    EXPECT_NE(cap::parse(text).error.find("not a capture"), std::string::npos);

    auto newer = cap::encodeHeader();
    newer[6] = 2;
    const cap::Parsed p = cap::parse(newer);
    EXPECT_EQ(p.errorOffset, 6u);
    EXPECT_NE(p.error.find("version 2"), std::string::npos) << p.error;

    const std::vector<uint8_t> cut(std::begin(cap::kMagic), std::end(cap::kMagic));
    EXPECT_FALSE(cap::parse(cut).ok());
}

}  // namespace
