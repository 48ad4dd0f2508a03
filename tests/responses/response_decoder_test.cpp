#include "valdor/responses/response_decoder.h"

#include <gtest/gtest.h>

#include <set>
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

void showDecoded(Panel &panel, const Bytes &bytes) { showResponse(panel, std::span<const uint8_t>(bytes)); }

std::vector<int> allIndicators() {
    std::vector<int> boxes;
    for (int box = 1283; box <= 1360; ++box)
        if (box != 1351) boxes.push_back(box);
    return boxes;
}

std::set<int> tickedIndicators(const Panel &panel) {
    std::set<int> ticked;
    for (int box : allIndicators())
        if (panel.checked(box)) ticked.insert(box);
    return ticked;
}

// Positions of the indicator bytes S1 and C1 in each layout.
size_t s1(bool enhanced) { return enhanced ? 15 : 12; }
size_t cassetteByte(bool enhanced, int c) {
    if (c <= 4) return (enhanced ? 21 : 18) + static_cast<size_t>(c - 1);
    return 69 + static_cast<size_t>(c - 5);
}

// Response order of the 15 sensor levels and the field each one fills.
const int kLevelFieldsInResponseOrder[15] = {1220, 1221, 1222, 1223, 1224, 1225, 1226, 1228,
                                             1227, 1233, 1232, 1231, 1229, 1230, 1235};

TEST(ResponseDecoder, BasicStatusResponse) {
    RecordingPanel panel;
    Bytes bytes = response(false, 0x01, 60);
    put(bytes, 7, "V1");
    bytes[5] = 0xAB, bytes[6] = 0x0C;
    bytes[9] = 0x12, bytes[10] = 0x34, bytes[11] = 0x56;
    bytes[22] = 0xE0;
    showDecoded(panel, bytes);
    expectTexts(panel, {{ctl::Dh0Dh1, "E001"}, {ctl::ErrorCode, "0000"}, {ctl::ErrorMessage, "Normal end"},
                        {ctl::ErrorAddress, "AB0C"}, {ctl::Version, "V1"}, {ctl::Date, ""},
                        {ctl::ErrorRegister, "12 34 56"}, {ctl::ErrorRegister2, ""}, {ctl::LevelDfcs, "E0"}});
}

TEST(ResponseDecoder, EnhancedHeaderFields) {
    RecordingPanel panel;
    Bytes bytes = response(true, 0x01);
    bytes[0] = 0x8A;
    bytes[3] = 0x12, bytes[4] = 0x01;  // no part in the enhanced layout
    bytes[6] = 0xE5, bytes[7] = 0x01;
    for (size_t i = 0; i < 4; ++i) bytes[54 + i] = static_cast<uint8_t>(0x1F + i);
    put(bytes, 48, "ABCDEF");
    put(bytes, 42, "240307");
    bytes[12] = 0x01, bytes[13] = 0xA0, bytes[14] = 0xFF;
    bytes[60] = 0x0B, bytes[61] = 0x00, bytes[62] = 0xC3;
    bytes[25] = 0xF0;
    showDecoded(panel, bytes);
    expectTexts(panel, {{ctl::Dh0Dh1, "8A01"}, {ctl::ErrorCode, "E501"},
                        {ctl::ErrorMessage, "Count sequence specification error"}, {ctl::ErrorAddress, "1F202122"},
                        {ctl::Version, "ABCDEF"}, {ctl::Date, "240307"}, {ctl::ErrorRegister, "01 A0 FF"},
                        {ctl::ErrorRegister2, "0B 00 C3"}, {ctl::LevelDfcs, "F0*"}});

    // Character fields end at a zero byte, as the window shows them.
    bytes[49] = 0x00;
    bytes[6] = 0x12, bytes[7] = 0x07;
    showDecoded(panel, bytes);
    EXPECT_EQ(panel.text(ctl::Version), "A");
    EXPECT_EQ(panel.text(ctl::ErrorMessage), "See Q9R ERROR CODE LIST");
}

TEST(ResponseDecoder, DfcsMarks) {
    const std::pair<uint8_t, const char *> cases[] = {
        {0xD6, "D6**"}, {0xD7, "D7"},   {0xE8, "E8"},   {0xE9, "E9*"},
        {0xF7, "F7*"},  {0xF8, "F8**"}, {0x00, "00**"}, {0xFF, "FF**"},
    };
    for (bool enhanced : {false, true})
        for (auto [level, text] : cases) {
            RecordingPanel panel;
            Bytes bytes = response(enhanced, 0x01);
            bytes[enhanced ? 25 : 22] = level;
            showDecoded(panel, bytes);
            EXPECT_EQ(panel.text(ctl::LevelDfcs), text) << enhanced;
        }
}

TEST(ResponseDecoder, SensorLevelsComeFromTheCommandsOwnPositions) {
    struct Case {
        bool enhanced;
        uint8_t dh1;
        size_t first;
    };
    for (const Case &c : {Case{false, 0x02, 39}, Case{true, 0x02, 90}, Case{false, 0x03, 140},
                          Case{true, 0x0A, 191}, Case{false, 0x11, 140}, Case{true, 0x09, 191}}) {
        RecordingPanel panel;
        Bytes bytes = response(c.enhanced, c.dh1);
        for (uint8_t i = 0; i < 15; ++i) bytes[c.first + i] = i;
        showDecoded(panel, bytes);
        for (int i = 0; i < 15; ++i) {
            char expected[8];
            std::snprintf(expected, sizeof expected, "%02X%s", i, i <= 8 ? "" : i <= 12 ? "*" : "**");
            EXPECT_EQ(panel.text(kLevelFieldsInResponseOrder[i]), expected) << c.first << " level " << i;
        }
    }
    RecordingPanel panel;
    Bytes bytes = response(false, 0x02);
    bytes[39] = 0xFF;
    showDecoded(panel, bytes);
    EXPECT_EQ(panel.text(1220), "FF**");
}

TEST(ResponseDecoder, BillsCountedAndRejected) {
    for (bool enhanced : {false, true}) {
        RecordingPanel panel;
        for (int field = ctl::Counted1; field <= 1219; ++field) panel.setText(field, "old");
        Bytes bytes = response(enhanced, 0x03);
        const size_t counted[] = {enhanced ? 90u : 39u, enhanced ? 92u : 41u, enhanced ? 94u : 43u,
                                  enhanced ? 96u : 45u, 207, 209};
        const size_t rejected[] = {enhanced ? 98u : 47u, enhanced ? 100u : 49u, enhanced ? 102u : 51u,
                                   enhanced ? 104u : 53u, 215, 217};
        for (int c = 0; c < 6; ++c) {
            // Parity digits: '1' travels as 0xB1, '2' as 0xB2.
            bytes[counted[c]] = 0xB1, bytes[counted[c] + 1] = static_cast<uint8_t>('1' + c) | 0x80;
            bytes[rejected[c]] = 0x30, bytes[rejected[c] + 1] = static_cast<uint8_t>('1' + c);
        }
        bytes[counted[1] + 1] = 0x32;  // 0xB1 0x32: "12"
        showDecoded(panel, bytes);
        for (int c = 0; c < 6; ++c) {
            if (!enhanced && c >= 4) {
                EXPECT_EQ(panel.text(ctl::Counted1 + c), "");
                EXPECT_EQ(panel.text(ctl::Rejected1 + c), "");
                continue;
            }
            EXPECT_EQ(panel.text(ctl::Counted1 + c), "1" + std::to_string(c + 1)) << enhanced;
            EXPECT_EQ(panel.text(ctl::Rejected1 + c), "0" + std::to_string(c + 1)) << enhanced;
        }
    }
}

// A status response among them: sensor levels and bill counts are not part of it.
TEST(ResponseDecoder, OtherCommandsLeaveLevelsAndCountsAsTheyWere) {
    RecordingPanel panel;
    for (uint8_t dh1 : {0x01, 0x05, 0x0E, 0x0F, 0x12, 0x13}) {
        for (int field = ctl::Counted1; field <= 1235; ++field) panel.setText(field, "old");
        Bytes bytes(400, 0x0D);
        bytes[1] = dh1;
        showDecoded(panel, bytes);
        for (int field = ctl::Counted1; field <= 1235; ++field)
            EXPECT_TRUE(field == ctl::LevelDfcs || panel.text(field) == "old") << field << ": " << panel.text(field);
    }
    // A mechanical reset writes the levels but not the counts.
    Bytes reset(400, 0x0D);
    reset[1] = 0x02;
    showDecoded(panel, reset);
    EXPECT_EQ(panel.text(1220), "0D**");
    EXPECT_EQ(panel.text(ctl::Counted1), "old");
}

// Bits of S1, S2, S3, S6 and the cassette bytes, and the box each ticks.
struct BitBox {
    int byte;  // 0-5 S1-S6
    int bit;
    int box;
};

TEST(ResponseDecoder, EachStatusBitTicksItsOwnBox) {
    std::vector<BitBox> map;
    for (int bit = 0; bit < 6; ++bit) map.push_back({0, bit, 1283 + bit});
    for (int bit = 0; bit < 8; ++bit) map.push_back({1, bit, 1289 + bit});
    for (auto [bit, box] : {std::pair{7, 1297}, {3, 1358}, {4, 1352}, {5, 1360}, {6, 1359}, {1, 1298}, {0, 1299}})
        map.push_back({2, bit, box});
    for (auto [bit, box] : {std::pair{7, 1353}, {6, 1354}, {5, 1300}, {4, 1301}, {3, 1302}, {2, 1355}, {1, 1356},
                            {0, 1357}})
        map.push_back({5, bit, box});
    for (bool enhanced : {false, true}) {
        for (int byte : {0, 1, 2, 5})
            for (int bit = 0; bit < 8; ++bit) {
                RecordingPanel panel;
                Bytes bytes = response(enhanced, 0x01);
                bytes[s1(enhanced) + byte] = static_cast<uint8_t>(1 << bit);
                showDecoded(panel, bytes);
                std::set<int> expected;
                for (const BitBox &m : map)
                    if (m.byte == byte && m.bit == bit) expected.insert(m.box);
                EXPECT_EQ(tickedIndicators(panel), expected) << "S" << byte + 1 << " bit " << bit;
            }
        for (int c = 1; c <= 6; ++c) {
            const int columnBits[5] = {7, 3, 2, 1, 0};  // NES, A, B, C, D
            for (int bit = 0; bit < 8; ++bit) {
                RecordingPanel panel;
                Bytes bytes = response(enhanced, 0x01);
                bytes[cassetteByte(enhanced, c)] = static_cast<uint8_t>(1 << bit);
                showDecoded(panel, bytes);
                std::set<int> expected;
                for (int column = 0; column < 5; ++column)
                    if (columnBits[column] == bit && (enhanced || c <= 4)) expected.insert(1315 + 5 * (c - 1) + column);
                EXPECT_EQ(tickedIndicators(panel), expected) << "C" << c << " bit " << bit << " enhanced " << enhanced;
            }
        }
    }
}

TEST(ResponseDecoder, OptionBitsCountOnlyWhereTheOptionIsFitted) {
    struct Case {
        uint8_t s4, s5;
        std::set<int> ticked;
    };
    const Case cases[] = {
        {0x06, 0xFF, {1305, 1306}},  // front capture box: never the shutter's sensors
        {0x07, 0xFF, {1305, 1306, 1309}},
        {0x04, 0x0F, {1305, 1345, 1307, 1308, 1348, 1347}},
        {0x04, 0x02, {1305, 1345, 1307}},
        {0x04, 0xF0, {1305, 1345}},
        {0x03, 0xFF, {}},  // capture box and RJB bits without the option present
        {0x40, 0x00, {}},  // rear spray without spray type
        {0x80, 0x00, {1303}},
        {0xC0, 0x00, {1303, 1304}},
        {0x20, 0xF0, {1310, 1346, 1312, 1313, 1350, 1349}},
        {0x20, 0x0F, {1310, 1346}},
        {0x38, 0xFF, {1310, 1311, 1314}},
        {0x18, 0xFF, {}},
        {0x24, 0xFF, {1305, 1345, 1307, 1308, 1348, 1347, 1310, 1346, 1312, 1313, 1350, 1349}},
    };
    for (bool enhanced : {false, true})
        for (const Case &c : cases) {
            RecordingPanel panel;
            Bytes bytes = response(enhanced, 0x01);
            bytes[s1(enhanced) + 3] = c.s4;
            bytes[s1(enhanced) + 4] = c.s5;
            showDecoded(panel, bytes);
            EXPECT_EQ(tickedIndicators(panel), c.ticked) << std::hex << int(c.s4) << " " << int(c.s5);
        }
}

TEST(ResponseDecoder, EveryIndicatorIsWrittenOnceAndMeasuredInfIsLeftAlone) {
    RecordingPanel panel;
    for (int box : allIndicators()) panel.setChecked(box, true);
    panel.setChecked(ctl::MeasuredInf, true);
    panel.writes.clear();
    showDecoded(panel, response(true, 0x03));
    EXPECT_TRUE(tickedIndicators(panel).empty());
    EXPECT_TRUE(panel.checked(ctl::MeasuredInf));
    EXPECT_EQ(panel.writes.count(ctl::MeasuredInf), 0u);
    for (int box : allIndicators()) EXPECT_EQ(panel.writes[box], 1) << box;

    // No field is written twice in one response, whatever the command.
    for (uint8_t dh1 : {0x01, 0x02, 0x03, 0x11}) {
        Bytes bytes(300, 0xFF);
        bytes[1] = dh1;
        panel.writes.clear();
        showDecoded(panel, bytes);
        for (auto [control, count] : panel.writes) EXPECT_EQ(count, 1) << control;
        EXPECT_EQ(panel.writes.size(), 77u + 9u + (dh1 == 0x01 ? 0u : dh1 == 0x02 ? 15u : 27u));
    }
}

// Every length of every kind of response reads only the bytes received.
TEST(ResponseDecoder, EveryLengthReadsOnlyTheReceivedBytes) {
    for (bool enhanced : {false, true})
        for (uint8_t dh1 : {0x01, 0x02, 0x03, 0x09, 0x0A, 0x11, 0x12, 0x0E, 0x0F}) {
            Bytes full = response(enhanced, dh1, 400);
            for (size_t i = 3; i < full.size(); ++i) full[i] = static_cast<uint8_t>(i * 37 + 11);
            testing::expectPrefixesDecodeAsPadded(full, showResponse);
        }
    RecordingPanel panel;
    showDecoded(panel, Bytes{});
    EXPECT_EQ(panel.text(ctl::Dh0Dh1), "0000");
    EXPECT_EQ(panel.text(ctl::ErrorMessage), "Normal end");
    EXPECT_EQ(panel.text(ctl::Version), "");
}

}  // namespace
}  // namespace valdor
