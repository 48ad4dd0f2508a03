#include "valdor/engine/request_builder.h"

#include <gtest/gtest.h>

#include <bit>
#include <ctime>
#include <string>
#include <vector>

#include "valdor/panel/controls.h"
#include "valdor/panel/memory_panel.h"
#include "valdor/panel/param_tables.h"
#include "valdor/engine/commands.h"

namespace valdor {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kUntouched = 0xA5;

void selectValue(Panel &panel, int combo, uint8_t value) {
    const auto items = tableFor(combo)->items;
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].value == value) return panel.setSelection(combo, static_cast<int>(i));
    FAIL() << "combo " << combo << " has no value " << int(value);
}

// Builds into a prefilled buffer and checks that nothing past the returned
// length was written.
Bytes build(int command, const Panel &panel, const LocalTime &now = {}) {
    Bytes buffer(kRequestBufferSize, kUntouched);
    const size_t length = buildRequest(command, panel, buffer.data(), now);
    EXPECT_LE(length, 51u);
    EXPECT_EQ(std::count(buffer.begin() + static_cast<std::ptrdiff_t>(length), buffer.end(), kUntouched),
              static_cast<std::ptrdiff_t>(buffer.size() - length))
        << "command " << command << " wrote past its length";
    buffer.resize(length);
    return buffer;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

uint8_t parityDigit(int d) {
    const auto c = static_cast<uint8_t>('0' + d);
    return std::popcount(c) % 2 ? c | 0x80 : c;
}

// Cassette c: c bills, c + 6 rejects, c retries, so a slot shows its cassette.
void setDistinctCounts(Panel &panel) {
    for (int c = 1; c <= 6; ++c) {
        selectValue(panel, ctl::BillsCount1 + c - 1, static_cast<uint8_t>(c));
        selectValue(panel, ctl::RejectCount1 + c - 1, static_cast<uint8_t>(c + 6));
        selectValue(panel, ctl::PickRetry1 + c - 1, static_cast<uint8_t>(c));
    }
}

Bytes slots(const std::vector<int> &cassettes, int offset, bool asDigits) {
    Bytes bytes;
    for (int c : cassettes) {
        if (asDigits) bytes.push_back(parityDigit((c + offset) / 10));
        bytes.push_back(asDigits ? parityDigit((c + offset) % 10) : static_cast<uint8_t>(c + offset));
    }
    return bytes;
}

class RequestBuilder : public ::testing::Test {
protected:
    MemoryPanel panel;
    void enhanced(bool on) { panel.setChecked(ctl::Enhanced, on); }
};

TEST_F(RequestBuilder, StatusReadAndCancelAreBareInTheBasicLayout) {
    EXPECT_EQ(build(CMD_STATUS_READ, panel), (Bytes{0x00, 0x01, 0x1C}));
    EXPECT_EQ(build(CMD_CANCEL, panel), (Bytes{0x00, 0x10, 0x1C}));
    enhanced(true);
    EXPECT_EQ(build(CMD_STATUS_READ, panel), (Bytes{0x60, 0x01, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x1C}));
    EXPECT_EQ(build(CMD_CANCEL, panel), (Bytes{0x60, 0x10, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x1C}));
    for (int command : {0, 17, 22, 100, 101, -1}) EXPECT_TRUE(build(command, panel).empty()) << command;
}

TEST_F(RequestBuilder, BillCountMatchesTheWorkedExample) {
    selectValue(panel, ctl::BillsCount1, 12);
    selectValue(panel, ctl::RejectCount1, 3);
    selectValue(panel, ctl::PickRetry1, 2);
    const Bytes expected{0x60, 0x03, 0x15, 0xE4, 0xB1, 0xB2, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30,
                         0x33, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x02, 0x00, 0x00, 0x00, 0x1C};
    EXPECT_EQ(build(CMD_BILL_COUNT, panel), expected);
    // The family differs only in the device command code.
    for (auto [command, code] : {std::pair{CMD_BILL_COUNT_FRONT, 0x09}, {CMD_BILL_COUNT_REAR, 0x0A},
                                 {CMD_BILL_COUNT_REJECT, 0x11}}) {
        Bytes other = expected;
        other[1] = static_cast<uint8_t>(code);
        EXPECT_EQ(build(command, panel), other);
    }
    selectValue(panel, ctl::BillsCount1, 20);
    selectValue(panel, ctl::RejectCount1, 7);
    const Bytes request = build(CMD_BILL_COUNT, panel);
    EXPECT_EQ(Bytes(request.begin() + 4, request.begin() + 6), (Bytes{0xB2, 0x30}));
    EXPECT_EQ(Bytes(request.begin() + 12, request.begin() + 14), (Bytes{0x30, 0xB7}));
    for (uint8_t count = 0; count <= 20; ++count) {
        selectValue(panel, ctl::BillsCount1 + 1, count);
        const Bytes r = build(CMD_BILL_COUNT, panel);
        EXPECT_EQ(std::popcount(r[6]) % 2 + std::popcount(r[7]) % 2, 0) << int(count);
        EXPECT_EQ(std::string({char(r[6] & 0x7F), char(r[7] & 0x7F)}), (count < 10 ? "0" : "") + std::to_string(count));
    }
}

TEST_F(RequestBuilder, BillCountSlotsFollowTheCountOrder) {
    setDistinctCounts(panel);
    for (bool reversed : {false, true}) {
        panel.setChecked(ctl::CountOrderReversing, reversed);
        const std::vector<int> four = reversed ? std::vector{4, 3, 2, 1} : std::vector{1, 2, 3, 4};
        enhanced(false);
        EXPECT_EQ(build(CMD_BILL_COUNT, panel),
                  concat({{0x60, 0x03, 0x15, uint8_t(reversed ? 0x1B : 0xE4)}, slots(four, 0, true),
                          slots(four, 6, true), slots(four, 0, false), {0x1C}}));

        const std::vector<int> first = reversed ? std::vector{6, 5, 4, 3} : std::vector{1, 2, 3, 4};
        const std::vector<int> last = reversed ? std::vector{2, 1} : std::vector{5, 6};
        const Bytes mark = reversed ? Bytes{0xAB, 0xCD, 0xEF, 0x98} : Bytes{0xFE, 0xDC, 0xBA, 0x98};
        const Bytes zeros{0x30, 0x30, 0x30, 0x30};
        enhanced(true);
        EXPECT_EQ(build(CMD_BILL_COUNT_REJECT, panel),
                  concat({{0x60, 0x11, 0xFF, 0x00, 0x00, 0x2C}, mark, slots(first, 0, true), slots(first, 6, true),
                          slots(first, 0, false), slots(last, 0, true), zeros, slots(last, 6, true), zeros,
                          slots(last, 0, false), {0x00, 0x00, 0x1C}}));
    }
}

TEST_F(RequestBuilder, MechaResetCarriesFlagsLengthsAndThicknesses) {
    Bytes none(17, 0x00);  // nothing selected: every byte 0, thickness too
    none[0] = 0x60, none[1] = 0x02, none[2] = 0x0D, none[16] = 0x1C;
    EXPECT_EQ(build(CMD_MECHA_RESET, panel), none);

    for (int c = 1; c <= 6; ++c) {
        selectValue(panel, ctl::LengthL1 + c - 1, static_cast<uint8_t>(110 + c));
        selectValue(panel, ctl::LengthH1 + c - 1, static_cast<uint8_t>(180 - c));
        selectValue(panel, ctl::Thickness1 + c - 1, static_cast<uint8_t>(10 + c));
    }
    selectValue(panel, ctl::SpecialSpec, 0x80);
    panel.setChecked(ctl::ShutterFront, true);
    auto pair = [](int c) { return Bytes{uint8_t(180 - c), uint8_t(110 + c)}; };
    auto thick = [](int c) { return Bytes{uint8_t(10 + c)}; };
    EXPECT_EQ(build(CMD_MECHA_RESET, panel), concat({{0x60, 0x02, 0x0D, 0x81}, pair(1), pair(2), pair(3), pair(4),
                                                     thick(1), thick(2), thick(3), thick(4), {0x1C}}));
    panel.setChecked(ctl::ShutterRear, true);
    enhanced(true);
    EXPECT_EQ(build(CMD_MECHA_RESET, panel),
              concat({{0x60, 0x02, 0xFF, 0x00, 0x00, 0x1A, 0x00, 0x83}, pair(1), pair(2), pair(3), pair(4), thick(1),
                      thick(2), thick(3), thick(4), pair(5), pair(6), {0, 0, 0, 0}, thick(5), thick(6), {0, 0, 0x1C}}));
}

TEST_F(RequestBuilder, OneByteRequestsAndTheirDefaults) {
    EXPECT_EQ(build(CMD_BILL_TRANSPORT, panel), (Bytes{0x60, 0x05, 0x01, 0x00, 0x1C}));
    EXPECT_EQ(build(CMD_BILL_RETRIEVAL, panel), (Bytes{0x60, 0x06, 0x01, 0x00, 0x1C}));
    EXPECT_EQ(build(CMD_LOG_READ_CLEAR, panel), (Bytes{0x60, 0x12, 0x01, 0x00, 0x1C}));
    EXPECT_EQ(build(CMD_BILL_DIAGNOSIS, panel), (Bytes{0x60, 0x0F, 0x01, 0x10, 0x1C}));
    EXPECT_EQ(build(CMD_DEVICE_INFORMATION, panel), (Bytes{0x60, 0x0E, 0x01, 0x00, 0x1C}));
    EXPECT_EQ(build(CMD_SENSOR_TRANSITION, panel), (Bytes{0x60, 0x14, 0x05, 0, 0, 0, 0, 0, 0x1C}));
    selectValue(panel, ctl::LogMode, 3);
    selectValue(panel, ctl::DiagnosisMode, 32);
    enhanced(true);
    EXPECT_EQ(build(CMD_LOG_READ_CLEAR, panel), (Bytes{0x60, 0x12, 0xFF, 0, 0, 0x01, 0x03, 0x1C}));
    EXPECT_EQ(build(CMD_BILL_DIAGNOSIS, panel), (Bytes{0x60, 0x0F, 0xFF, 0, 0, 0x01, 0x20, 0x1C}));

    selectValue(panel, ctl::DischargeAmount, 112);  // "Test"
    const uint8_t transport[] = {0x70, 0x71, 0x02, 0x03, 0xF0, 0xF1, 0x82, 0x83};
    for (int i = 0; i < 8; ++i) {
        panel.setChecked(ctl::TransportFirst + i, true);
        EXPECT_EQ(build(CMD_BILL_TRANSPORT, panel), (Bytes{0x60, 0x05, 0xFF, 0, 0, 0x01, transport[i], 0x1C})) << i;
    }
    const uint8_t retrieval[] = {0x00, 0x01, 0x80, 0x81};
    enhanced(false);
    for (int i = 0; i < 4; ++i) {
        panel.setChecked(ctl::RetrievalFirst + i, true);
        EXPECT_EQ(build(CMD_BILL_RETRIEVAL, panel), (Bytes{0x60, 0x06, 0x01, retrieval[i], 0x1C})) << i;
    }
}

TEST_F(RequestBuilder, SequenceTransportTakesTheSideGivenNotTheRadioButtons) {
    selectValue(panel, ctl::DischargeAmount, 32);  // "+10mm"
    panel.setChecked(ctl::TransportFirst + 7, true);
    Bytes out(kRequestBufferSize, kUntouched);
    const struct { bool front, watch; uint8_t byte; } cases[] = {
        {true, false, 0x20}, {true, true, 0x21}, {false, false, 0xA0}, {false, true, 0xA1}};
    for (const auto &c : cases) {
        enhanced(false);
        ASSERT_EQ(buildSequenceTransport(panel, c.front, c.watch, out.data()), 5u);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), (Bytes{0x60, 0x05, 0x01, c.byte, 0x1C}));
        enhanced(true);
        ASSERT_EQ(buildSequenceTransport(panel, c.front, c.watch, out.data()), 8u);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), (Bytes{0x60, 0x05, 0xFF, 0, 0, 0x01, c.byte, 0x1C}));
    }
    panel.setSelection(ctl::DischargeAmount, std::nullopt);  // first item, "Standard"
    buildSequenceTransport(panel, false, true, out.data());
    EXPECT_EQ(out[6], 0x81);
}

TEST_F(RequestBuilder, LogAllClearAlwaysSendsModeThreeAndTheDate) {
    selectValue(panel, ctl::LogMode, 1);
    const LocalTime now{2024, 3, 7, 9, 5, 42, 123};
    const std::string text = "Log clear date : 2024.03.07 09:05:42";
    Bytes parameters{0x03};
    parameters.insert(parameters.end(), text.begin(), text.end());
    parameters.resize(41, 0x00);
    EXPECT_EQ(build(CMD_LOG_ALL_CLEAR, panel, now), concat({{0x60, 0x12, 0x29}, parameters, {0x1C}}));
    enhanced(true);
    EXPECT_EQ(build(CMD_LOG_ALL_CLEAR, panel, now), concat({{0x60, 0x12, 0xFF, 0, 0, 0x29}, parameters, {0x1C}}));
    // A date out of range never spills past its place.
    const Bytes odd = build(CMD_LOG_ALL_CLEAR, panel, LocalTime{123456, 99, -1, -1, 100, 7, 0});
    EXPECT_EQ(Bytes(odd.begin() + 43, odd.end()), (Bytes{0, 0, 0, 0, 0x1C}));
}

TEST_F(RequestBuilder, LogWithMessageAndDeviceInformationCarryTheCommittedText) {
    selectValue(panel, ctl::LogMode, 2);
    panel.setText(ctl::MessageText, "HELLO");
    panel.commitMessageText();
    panel.setText(ctl::MessageText, "not committed");
    Bytes hello{'H', 'E', 'L', 'L', 'O'};
    hello.resize(40, 0x00);
    EXPECT_EQ(build(CMD_LOG_WITH_MSG, panel), concat({{0x60, 0x12, 0x29, 0x02}, hello, {0x1C}}));
    EXPECT_EQ(build(CMD_DEVICE_INFORMATION, panel), (Bytes{0x60, 0x0E, 0x01, 0x00, 0x1C}));  // "read": no text
    selectValue(panel, ctl::DeviceInfoMode, 128);
    enhanced(true);
    EXPECT_EQ(build(CMD_DEVICE_INFORMATION, panel), concat({{0x60, 0x0E, 0xFF, 0, 0, 0x29, 0x80}, hello, {0x1C}}));

    panel.setText(ctl::MessageText, "");
    panel.commitMessageText();
    selectValue(panel, ctl::DeviceInfoMode, 1);
    enhanced(false);
    EXPECT_EQ(build(CMD_DEVICE_INFORMATION, panel), concat({{0x60, 0x0E, 0x29, 0x01}, Bytes(40, 0x00), {0x1C}}));
}

// A committed text longer than the field can hold is cut, never overflowed.
class LongTextPanel : public MemoryPanel {
public:
    std::string committedMessageText() const override { return std::string(2000, 'y'); }
};

TEST(RequestBuilderText, AnOverlongCommittedTextIsCutAtForty) {
    LongTextPanel panel;
    selectValue(panel, ctl::DeviceInfoMode, 1);
    panel.setChecked(ctl::Enhanced, true);
    EXPECT_EQ(build(CMD_DEVICE_INFORMATION, panel), concat({{0x60, 0x0E, 0xFF, 0, 0, 0x29, 0x01}, Bytes(40, 'y'), {0x1C}}));
    EXPECT_EQ(build(CMD_LOG_WITH_MSG, panel).size(), 48u);
}

TEST_F(RequestBuilder, SensorTransitionCollectsTheGrid) {
    // Cassette c ticks column c - 1 (NES, A, B, C, D, NES); cassette 3 also "D".
    for (int c = 1; c <= 6; ++c) panel.setChecked(ctl::SensorGridFirst + 5 * (c - 1) + (c - 1) % 5, true);
    panel.setChecked(ctl::SensorGridFirst + 5 * 2 + 4, true);
    panel.setChecked(ctl::SensorFrontEjs, true);
    panel.setChecked(ctl::SensorFrontEjs + 2, true);  // front SCS
    panel.setChecked(ctl::SensorRearEjs + 1, true);   // rear SOS
    EXPECT_EQ(build(CMD_SENSOR_TRANSITION, panel), (Bytes{0x60, 0x14, 0x05, 0x10, 0x08, 0x05, 0x02, 0x29, 0x1C}));
    for (int box = ctl::SensorFrontEjs; box <= ctl::SensorRearEjs + 2; ++box) panel.setChecked(box, true);
    enhanced(true);
    EXPECT_EQ(build(CMD_SENSOR_TRANSITION, panel),
              (Bytes{0x60, 0x14, 0xFF, 0, 0, 0x0A, 0x10, 0x08, 0x05, 0x02, 0x01, 0x10, 0, 0, 0xBB, 0, 0x1C}));
}

TEST_F(RequestBuilder, OperationalLogIsAlwaysNineEnhancedBytes) {
    EXPECT_EQ(build(CMD_OPERATIONAL_LOG, panel), (Bytes{0x60, 0x13, 0xFF, 0x00, 0x00, 0x02, 0x00, 0x00, 0x1C}));
    selectValue(panel, ctl::OplogP1, 255);
    selectValue(panel, ctl::OplogP2, 6);
    for (bool on : {false, true}) {
        enhanced(on);
        EXPECT_EQ(build(CMD_OPERATIONAL_LOG, panel), (Bytes{0x60, 0x13, 0xFF, 0x00, 0x00, 0x02, 0xFF, 0x06, 0x1C}));
    }
    Bytes out(kRequestBufferSize, kUntouched);
    ASSERT_EQ(buildOperationalLogRequest(3, 1, out.data()), 9u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 10), (Bytes{0x60, 0x13, 0xFF, 0, 0, 0x02, 3, 1, 0x1C, kUntouched}));
}

// A panel on which the operator flips a check box between any two reads.
class FlippingPanel : public MemoryPanel {
public:
    explicit FlippingPanel(int box) : box_(box) {}
    bool checked(int control) const override {
        if (control != box_) return MemoryPanel::checked(control);
        return flipped_ = !flipped_;
    }

private:
    int box_;
    mutable bool flipped_ = false;
};

// Whatever the controls do meanwhile, a request is whole: its header's
// count matches its length, and the order mark matches the slots.
TEST(RequestBuilderRace, EveryRequestIsWholeWhileTheOperatorChangesControls) {
    for (int box : {ctl::Enhanced, ctl::CountOrderReversing, ctl::ShutterFront}) {
        FlippingPanel panel(box);
        for (int combo : allCombos()) panel.setSelection(combo, int(tableFor(combo)->items.size()) - 1);
        setDistinctCounts(panel);
        panel.setText(ctl::MessageText, std::string(40, 'z'));
        panel.commitMessageText();
        for (int round = 0; round < 2; ++round)
            for (int command = 1; command <= 16; ++command) {
                const Bytes request = build(command, panel, LocalTime{2030, 12, 31, 23, 59, 59, 999});
                ASSERT_GE(request.size(), 3u);
                EXPECT_EQ(request.back(), 0x1C) << command;
                if (request[0] == 0x00) continue;  // the bare basic form
                const bool enhancedForm = request[2] == 0xFF;
                EXPECT_EQ(request.size(), (enhancedForm ? request[5] + 7u : request[2] + 4u)) << command;
                if (command == CMD_BILL_COUNT && !enhancedForm) {
                    EXPECT_EQ(request[5] & 0x7F, request[3] == 0x1B ? '4' : '1');
                }
            }
    }
}

TEST(LocalNow, GivesTheLocalDateAndTime) {
    const std::time_t before = std::time(nullptr);
    const LocalTime now = localNow();
    const std::time_t after = std::time(nullptr);
    bool matched = false;
    for (std::time_t t = before; t <= after + 1 && !matched; ++t) {
        std::tm local{};
        localtime_r(&t, &local);
        matched = now.year == local.tm_year + 1900 && now.month == local.tm_mon + 1 && now.day == local.tm_mday &&
                  now.hour == local.tm_hour && now.minute == local.tm_min && now.second == local.tm_sec;
    }
    EXPECT_TRUE(matched);
    EXPECT_TRUE(now.millisecond >= 0 && now.millisecond <= 999);
}

}  // namespace
}  // namespace valdor
