#include "valdor/responses/device_info_decoder.h"

#include <gtest/gtest.h>

#include <string>

#include "responses/recording_panel.h"
#include "valdor/panel/controls.h"

namespace valdor {
namespace {

using testing::Bytes;
using testing::expectTexts;
using testing::put;
using testing::RecordingPanel;
using testing::response;

void showDevice(Panel &panel, const Bytes &bytes) { showDeviceResponse(panel, std::span<const uint8_t>(bytes)); }

int grid(int cassette, int row) { return 1500 + 13 * (cassette - 1) + (row - 1); }

void fillGrid(Panel &panel, const std::string &text) {
    for (int c = 1; c <= 6; ++c)
        for (int row = 1; row <= 13; ++row) panel.setText(grid(c, row), text);
}

void putBigEndian(Bytes &bytes, size_t at, uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i, value >>= 8) bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value);
}

// Log read: cassette c's pick operations are 65536 * c (00 01 00 00 for the
// first), row r holds 256 * (r - 1) + c - 1 (01 00 in row 2 of the first).
Bytes logRead(bool enhanced) {
    const size_t shift = enhanced ? 51 : 0;
    Bytes bytes = response(enhanced, 0x12);
    put(bytes, 40 + shift, "service visit");
    for (int c = 1; c <= 6; ++c) {
        const size_t block = 80 + shift + 32 * static_cast<size_t>(c - 1);
        putBigEndian(bytes, block, 0x10000u * static_cast<uint32_t>(c), 4);
        for (int row = 2; row <= 13; ++row)
            putBigEndian(bytes, block + 4 + 2 * static_cast<size_t>(row - 2), 256u * static_cast<uint32_t>(row - 1) + static_cast<uint32_t>(c - 1), 2);
        for (size_t i = 28; i < 32; ++i) bytes[block + i] = 0xEE;  // not shown
    }
    return bytes;
}

TEST(DeviceInfoDecoder, LogReadFillsFourColumnsBasicAndSixEnhanced) {
    for (bool enhanced : {false, true}) {
        RecordingPanel panel;
        fillGrid(panel, "old");
        showDevice(panel, logRead(enhanced));
        EXPECT_TRUE(panel.deviceWindowVisible());
        EXPECT_EQ(panel.text(ctl::DevTitle), "Total Log Counter");
        EXPECT_EQ(panel.text(ctl::DevLogMessage), "service visit");
        for (int c = 1; c <= 6; ++c) {
            const bool reached = enhanced || c <= 4;
            EXPECT_EQ(panel.text(grid(c, 1)), reached ? std::to_string(65536 * c) : "old") << c;
            for (int row = 2; row <= 13; ++row)
                EXPECT_EQ(panel.text(grid(c, row)), reached ? std::to_string(256 * (row - 1) + c - 1) : "old") << c << "," << row;
        }
    }
    // The full unsigned range of the counters.
    RecordingPanel panel;
    Bytes bytes = logRead(false);
    putBigEndian(bytes, 80, 0xFFFFFFFFu, 4);
    putBigEndian(bytes, 84, 0xFFFF, 2);
    showDevice(panel, bytes);
    EXPECT_EQ(panel.text(grid(1, 1)), "4294967295");
    EXPECT_EQ(panel.text(grid(1, 2)), "65535");
}

TEST(DeviceInfoDecoder, BillCountAfterLogReadKeepsTheMessage) {
    for (bool enhanced : {false, true}) {
        for (uint8_t dh1 : {0x03, 0x09, 0x0A, 0x11}) {
            RecordingPanel panel;
            fillGrid(panel, "old");
            showDevice(panel, logRead(enhanced));
            Bytes bytes = response(enhanced, dh1);
            bytes[0] = 0x9C;  // error responses are shown all the same
            const size_t starts[] = {enhanced ? 106u : 55u, enhanced ? 122u : 71u, enhanced ? 138u : 87u,
                                     enhanced ? 154u : 103u, 223, 239};
            for (int c = 0; c < 6; ++c)
                for (int r = 0; r < 12; ++r) bytes[starts[c] + static_cast<size_t>(r)] = static_cast<uint8_t>(200 + 10 * c + r - 100 * (c > 2));
            showDevice(panel, bytes);
            EXPECT_EQ(panel.text(ctl::DevTitle), "");
            EXPECT_EQ(panel.text(ctl::DevLogMessage), "service visit");
            for (int c = 1; c <= 6; ++c) {
                EXPECT_EQ(panel.text(grid(c, 1)), "") << c;
                for (int row = 2; row <= 13; ++row) {
                    const int value = 200 + 10 * (c - 1) + (row - 2) - 100 * (c > 3);
                    EXPECT_EQ(panel.text(grid(c, row)), enhanced || c <= 4 ? std::to_string(value) : "old")
                        << c << "," << row;
                }
            }
        }
    }
}

TEST(DeviceInfoDecoder, BillDiagnosis) {
    RecordingPanel panel;
    Bytes bytes = response(false, 0x0F);
    const uint8_t data[4][4] = {{0x1A, 150, 12, 0x00}, {0x00, 0, 5, 0xAB}, {0xFF, 255, 123, 0x10}, {0x01, 76, 0, 0x7}};
    for (size_t c = 0; c < 4; ++c)
        for (size_t i = 0; i < 4; ++i) bytes[40 + 4 * c + i] = data[c][i];
    for (size_t i = 56; i < 64; ++i) bytes[i] = 0x77;  // not cassettes 5 and 6 in this layout
    showDevice(panel, bytes);
    EXPECT_TRUE(panel.deviceWindowVisible());
    const char *expected[6][4] = {{"1a", "150", "0.12", "0"}, {"0", "0", "0.05", "ab"},  {"ff", "255", "0.123", "10"},
                                  {"1", "76", "0.00", "7"},   {"0", "0", "0.0", "0"},    {"0", "0", "0.0", "0"}};
    for (int c = 1; c <= 6; ++c) {
        EXPECT_EQ(panel.text(ctl::DevDenomination0 + c), expected[c - 1][0]) << c;
        EXPECT_EQ(panel.text(ctl::DevLength0 + c), expected[c - 1][1]) << c;
        EXPECT_EQ(panel.text(ctl::DevThickness0 + c), expected[c - 1][2]) << c;
        EXPECT_EQ(panel.text(ctl::DevReservation0 + c), expected[c - 1][3]) << c;
    }

    Bytes enhanced = response(true, 0x0F);
    enhanced[91 + 20] = 0x2C, enhanced[91 + 21] = 99, enhanced[91 + 22] = 9, enhanced[91 + 23] = 0xC0;
    showDevice(panel, enhanced);
    expectTexts(panel, {{ctl::DevDenomination0 + 6, "2c"}, {ctl::DevLength0 + 6, "99"},
                        {ctl::DevThickness0 + 6, "0.09"}, {ctl::DevReservation0 + 6, "c0"},
                        {ctl::DevThickness0 + 1, "0.00"}});
}

Bytes deviceInformation(bool enhanced) {
    const size_t b = enhanced ? 91 : 40;
    Bytes bytes = response(enhanced, 0x0E);
    put(bytes, b, "user settings of this unit, forty bytes!");
    put(bytes, b + 40, "CODE0001");
    put(bytes, b + 48, "AB12");
    put(bytes, b + 52, "XY");  // ends early at its zero bytes
    put(bytes, b + 56, "100");
    put(bytes, b + 59, "2120123");
    put(bytes, b + 66, "R05");
    put(bytes, b + 69, "1");
    put(bytes, b + 70, "##");  // not shown
    put(bytes, b + 72, "SERIAL-0123456789ABC");
    return bytes;
}

TEST(DeviceInfoDecoder, DeviceInformationFieldsInBothLayouts) {
    for (bool enhanced : {false, true}) {
        RecordingPanel panel;
        showDevice(panel, deviceInformation(enhanced));
        EXPECT_TRUE(panel.deviceWindowVisible());
        expectTexts(panel, {{ctl::DevUserSetting, "user settings of this unit, forty bytes!"},
                            {ctl::DevCode1, "CODE0001"}, {ctl::DevCode2, "AB12"}, {ctl::DevCode3, "XY"},
                            {ctl::DevMaxSheets, "100"}, {ctl::DevMachineType, "Dual service machine"},
                            {ctl::DevFrontOption, "Shutter"}, {ctl::DevRearOption, "Capture Box"},
                            {ctl::DevJamRetry, "Not available"}, {ctl::DevBcsSensor, "Available"},
                            {ctl::DevThicknessAdjust, "23"}, {ctl::DevRomVersion, "R05"},
                            {ctl::DevRejectOption, "Available(Reject box)"}, {ctl::DevCode4, "SERIAL-0123456789ABC"}});
    }
}

TEST(DeviceInfoDecoder, ChoiceBytesOutsideTheListShowAsThemselves) {
    struct Case {
        size_t offset;
        int field;
        uint8_t byte;
        const char *text;
    };
    const Case cases[] = {
        {59, ctl::DevMachineType, '3', "3"},
        {59, ctl::DevMachineType, '0', "Front service machine"},
        {59, ctl::DevMachineType, '1', "Rear service machine"},
        {60, ctl::DevFrontOption, '0', "Not available"},
        {61, ctl::DevRearOption, 'x', "x"},
        {62, ctl::DevJamRetry, '1', "Available"},
        {63, ctl::DevBcsSensor, '2', "2"},
        {69, ctl::DevRejectOption, '2', "2"},
        {69, ctl::DevRejectOption, '0', "Not available(Reject tray)"},
        {69, ctl::DevRejectOption, 0x00, ""},
    };
    for (const Case &c : cases) {
        RecordingPanel panel;
        Bytes bytes = deviceInformation(false);
        bytes[40 + c.offset] = c.byte;
        showDevice(panel, bytes);
        EXPECT_EQ(panel.text(c.field), c.text) << c.offset << " " << int(c.byte);
    }
    RecordingPanel panel;
    Bytes bytes = deviceInformation(true);
    bytes[91] = 0x00;       // a text whose first byte is zero
    bytes[91 + 41] = 0x00;  // and one that a zero byte ends early
    showDevice(panel, bytes);
    EXPECT_EQ(panel.text(ctl::DevUserSetting), "");
    EXPECT_EQ(panel.text(ctl::DevCode1), "C");
}

TEST(DeviceInfoDecoder, OtherResponsesNeitherShowNorChangeTheWindow) {
    for (uint8_t dh1 : {0x01, 0x02, 0x05, 0x06, 0x10, 0x13, 0x14, 0x00, 0xFF}) {
        for (bool enhanced : {false, true}) {
            RecordingPanel panel;
            Bytes bytes(400, 0x31);
            bytes[1] = dh1;
            if (enhanced) bytes[2] = 0xFF;
            showDevice(panel, bytes);
            EXPECT_FALSE(panel.deviceWindowVisible()) << int(dh1);
            EXPECT_TRUE(panel.log.empty()) << int(dh1);
        }
    }
}

TEST(DeviceInfoDecoder, NoFieldIsWrittenTwice) {
    Bytes diagnosis = response(false, 0x0F);
    Bytes count = response(false, 0x11);
    for (const Bytes &bytes : {logRead(true), deviceInformation(true), diagnosis, count}) {
        RecordingPanel panel;
        showDevice(panel, bytes);
        EXPECT_FALSE(panel.writes.empty());
        for (auto [control, writes] : panel.writes) EXPECT_EQ(writes, 1) << control;
    }
}

// Every length of every kind of response reads only the bytes received.
TEST(DeviceInfoDecoder, EveryLengthReadsOnlyTheReceivedBytes) {
    constexpr size_t kLongest = 400;
    for (bool enhanced : {false, true})
        for (const Bytes &full : {logRead(enhanced), deviceInformation(enhanced), response(enhanced, 0x0F, kLongest),
                                  response(enhanced, 0x03, kLongest), response(enhanced, 0x0A, kLongest)}) {
            Bytes patterned = full;
            for (size_t i = 3; i < kLongest; ++i)
                if (patterned[i] == 0) patterned[i] = static_cast<uint8_t>(i * 29 + 7);
            testing::expectPrefixesDecodeAsPadded(patterned, showDeviceResponse);
        }
}

}  // namespace
}  // namespace valdor
