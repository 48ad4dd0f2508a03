// The unit's responses: the layout of each kind, the positions the
// console's decoders read, and the contents unit_data.h promises.
#include <string>

#include <gtest/gtest.h>

#include "scripted_host.h"
#include "tools/bdusim/unit_data.h"

namespace toolstest {
namespace {

using namespace bdusim;

Bytes slice(const Bytes &bytes, size_t at, size_t count) {
    if (at + count > bytes.size()) return {};
    return Bytes(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + count));
}
Bytes textBytes(const char *text) { return Bytes(text, text + std::char_traits<char>::length(text)); }
template <size_t N>
Bytes arrayBytes(const std::array<uint8_t, N> &a) { return Bytes(a.begin(), a.end()); }

uint32_t big(const Bytes &bytes, size_t at, int size) {
    uint32_t value = 0;
    for (int i = 0; i < size; ++i) value = value << 8 | bytes.at(at + static_cast<size_t>(i));
    return value;
}

class Responses : public ::testing::Test {
protected:
    Rig rig;
};

TEST_F(Responses, BasicStatusCarriesTheStatusBlockAtTheBasicPositions) {
    const Bytes r = rig.host.exchange({0x00, 0x01, 0x1C});
    ASSERT_GE(r.size(), 23u);
    EXPECT_EQ(slice(r, 0, 5), (Bytes{0xE0, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(slice(r, 5, 2), (Bytes{kErrorAddress[2], kErrorAddress[3]}));
    EXPECT_EQ(slice(r, 7, 2), textBytes(kVersionBasic));
    EXPECT_EQ(slice(r, 9, 3), arrayBytes(kErrorRegister));
    EXPECT_EQ(slice(r, 12, 6), arrayBytes(kIndicators));
    EXPECT_EQ(slice(r, 18, 4), slice(arrayBytes(kCassetteBytes), 0, 4));
    EXPECT_EQ(r[22], kDfcsLevel);
}

TEST_F(Responses, EnhancedStatusCarriesTheStatusBlockAtTheEnhancedPositions) {
    const Bytes r = rig.host.exchange(enhanced(0x01, {0x00}));
    ASSERT_GE(r.size(), 71u);
    EXPECT_EQ(slice(r, 0, 3), (Bytes{0xE0, 0x01, 0xFF}));
    EXPECT_EQ(big(r, 3, 3), r.size() - 6) << "bytes 3-5 count what follows them";
    EXPECT_EQ(slice(r, 6, 2), (Bytes{0x00, 0x00}));
    EXPECT_EQ(slice(r, 12, 3), arrayBytes(kErrorRegister));
    EXPECT_EQ(slice(r, 15, 6), arrayBytes(kIndicators));
    EXPECT_EQ(slice(r, 21, 4), slice(arrayBytes(kCassetteBytes), 0, 4));
    EXPECT_EQ(r[25], kDfcsLevel);
    EXPECT_EQ(slice(r, 42, 6), textBytes(kDate));
    EXPECT_EQ(slice(r, 48, 6), textBytes(kVersionEnhanced));
    EXPECT_EQ(slice(r, 54, 4), arrayBytes(kErrorAddress));
    EXPECT_EQ(slice(r, 60, 3), arrayBytes(kErrorRegister2));
    EXPECT_EQ(slice(r, 69, 2), slice(arrayBytes(kCassetteBytes), 4, 2));
}

TEST_F(Responses, MechanicalResetCarriesTheSensorLevels) {
    Bytes params(13, 0x00);
    const Bytes b = rig.host.exchange(basic(0x02, params));
    ASSERT_GE(b.size(), 54u);
    EXPECT_EQ(slice(b, 39, 15), arrayBytes(kSensorLevels));
    const Bytes e = rig.host.exchange(enhanced(0x02, Bytes(26, 0x00)));
    ASSERT_GE(e.size(), 105u);
    EXPECT_EQ(slice(e, 90, 15), arrayBytes(kSensorLevels));
}

// Bill-count parameters: counts of each slot as parity digits.
Bytes digits(int value) { return {parityDigit(value / 10), parityDigit(value % 10)}; }

TEST_F(Responses, BillCountEchoesTheCountsByCassette) {
    // Cassette 1 at 12 bills, 3 rejects and 2 retries, the rest 0.
    const Bytes r = rig.host.exchange(basic(0x03, {0xE4, 0xB1, 0xB2, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30,
                                                   0x33, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x02, 0x00, 0x00, 0x00}));
    ASSERT_GE(r.size(), 155u);
    EXPECT_EQ(slice(r, 0, 2), (Bytes{0xE0, 0x03}));
    EXPECT_EQ(slice(r, 39, 8), (Bytes{0xB1, 0xB2, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30}));
    EXPECT_EQ(slice(r, 47, 8), (Bytes{0x30, 0x33, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30}));
    EXPECT_EQ(slice(r, 140, 15), arrayBytes(kSensorLevels));
    for (int cassette = 1; cassette <= 4; ++cassette) {
        const size_t at = 55 + 16 * static_cast<size_t>(cassette - 1);
        EXPECT_EQ(r[at], countDetail(cassette, 2));
        EXPECT_EQ(r[at + 11], countDetail(cassette, 13));
    }
}

TEST_F(Responses, EnhancedBillCountUndoesAReversedOrder) {
    // Reversed: slot 1 holds cassette 6, slot 6 cassette 1.
    Bytes params{0xAB, 0xCD, 0xEF, 0x98};
    auto append = [&](const Bytes &more) { params.insert(params.end(), more.begin(), more.end()); };
    for (int slot = 1; slot <= 4; ++slot) append(digits(slot));        // bills, slots 1-4
    for (int slot = 1; slot <= 4; ++slot) append(digits(10 + slot));   // rejects, slots 1-4
    append({0, 0, 0, 0});                                                // retries
    append(digits(5));
    append(digits(20));                                                  // bills, slots 5-6
    append({0x30, 0x30, 0x30, 0x30});
    append(digits(15));
    append(digits(16));                                                  // rejects, slots 5-6
    append({0x30, 0x30, 0x30, 0x30, 0, 0, 0, 0});
    ASSERT_EQ(params.size(), 44u);
    const Bytes r = rig.host.exchange(enhanced(0x09, params));
    ASSERT_GE(r.size(), 251u);
    EXPECT_EQ(slice(r, 0, 3), (Bytes{0xE0, 0x09, 0xFF}));
    // Counted: cassette c holds slot 7 - c.
    EXPECT_EQ(slice(r, 90, 2), digits(20));    // cassette 1 <- slot 6
    EXPECT_EQ(slice(r, 92, 2), digits(5));     // cassette 2 <- slot 5
    EXPECT_EQ(slice(r, 96, 2), digits(3));     // cassette 4 <- slot 3
    EXPECT_EQ(slice(r, 207, 2), digits(2));    // cassette 5 <- slot 2
    EXPECT_EQ(slice(r, 209, 2), digits(1));    // cassette 6 <- slot 1
    EXPECT_EQ(slice(r, 98, 2), digits(16));    // rejected, cassette 1 <- slot 6
    EXPECT_EQ(slice(r, 217, 2), digits(11));   // rejected, cassette 6 <- slot 1
    EXPECT_EQ(slice(r, 191, 15), arrayBytes(kSensorLevels));
    EXPECT_EQ(r[223], countDetail(5, 2));
    EXPECT_EQ(r[250], countDetail(6, 13));
}

TEST_F(Responses, BillCountRefusesCountsItCannotTake) {
    Bytes tooMany(21, 0x30);
    tooMany[0] = 0xE4;
    tooMany[1] = parityDigit(2);
    tooMany[2] = parityDigit(1);   // 21 bills
    tooMany[17] = tooMany[18] = tooMany[19] = tooMany[20] = 0;
    const Bytes r = rig.host.exchange(basic(0x03, tooMany));
    EXPECT_NE(r.at(0), 0xE0);
    EXPECT_EQ(slice(r, 3, 2), (Bytes{0xE5, 0x02}));
    tooMany[2] = 0xB1 ^ 0x80;      // "1" without its parity bit
    EXPECT_EQ(slice(rig.host.exchange(basic(0x03, tooMany)), 3, 2), (Bytes{0xEA, 0x00}));
}

TEST_F(Responses, LogReadShowsTheCountersThenClearsAsTheModeSays) {
    const Bytes r = rig.host.exchange(enhanced(0x12, {0x01}));
    ASSERT_GE(r.size(), 319u);
    EXPECT_EQ(slice(r, 91, std::char_traits<char>::length(kInitialLogMessage)), textBytes(kInitialLogMessage));
    for (int cassette = 1; cassette <= 6; ++cassette) {
        const size_t block = 131 + 32 * static_cast<size_t>(cassette - 1);
        EXPECT_EQ(big(r, block, 4), logPickCount(cassette));
        EXPECT_EQ(big(r, block + 4, 2), logCounter(cassette, 2));
        EXPECT_EQ(big(r, block + 26, 2), logCounter(cassette, 13));
    }
    // Mode 1 cleared the error counters but not the pick operations.
    const Bytes after = rig.host.exchange(basic(0x12, {0x00}));
    ASSERT_GE(after.size(), 208u);
    EXPECT_EQ(big(after, 80 + 32 * 3, 4), logPickCount(4));
    EXPECT_EQ(big(after, 80 + 4, 2), 0u);
    EXPECT_EQ(big(after, 80 + 32 * 3 + 26, 2), 0u);
}

TEST_F(Responses, LogWithMessageStoresTheMessage) {
    Bytes params(41, 0x00);
    const std::string message = "checked by the night shift";
    std::copy(message.begin(), message.end(), params.begin() + 1);
    const Bytes r = rig.host.exchange(basic(0x12, params));
    EXPECT_EQ(slice(r, 40, message.size() + 1), [&] {
        Bytes b(message.begin(), message.end());
        b.push_back(0);
        return b;
    }());
    const Bytes again = rig.host.exchange(enhanced(0x12, {0x00}));
    EXPECT_EQ(slice(again, 91, message.size()), Bytes(message.begin(), message.end()));
}

TEST_F(Responses, DeviceInformationFieldsStandFromTheBase) {
    for (const bool isEnhanced : {false, true}) {
        const Bytes r = rig.host.exchange(isEnhanced ? enhanced(0x0E, {0x00}) : basic(0x0E, {0x00}));
        const size_t b = isEnhanced ? 91 : 40;
        ASSERT_GE(r.size(), b + 92) << isEnhanced;
        EXPECT_EQ(slice(r, b, std::char_traits<char>::length(kUserSettingData)), textBytes(kUserSettingData));
        EXPECT_EQ(slice(r, b + 40, 8), textBytes(kDeviceCode1));
        EXPECT_EQ(slice(r, b + 48, 4), textBytes(kDeviceCode2));
        EXPECT_EQ(slice(r, b + 52, 4), textBytes(kDeviceCode3));
        EXPECT_EQ(slice(r, b + 56, 3), textBytes(kMaximumSheets));
        EXPECT_EQ(slice(r, b + 59, 5),
                  (Bytes{kMachineType, kFrontOption, kRearOption, kJamRetryControl, kBcsSensor}));
        EXPECT_EQ(slice(r, b + 64, 2), textBytes(kThicknessAdjustment));
        EXPECT_EQ(slice(r, b + 66, 3), textBytes(kRomVersion));
        EXPECT_EQ(r[b + 69], kRejectOption);
        EXPECT_EQ(slice(r, b + 72, 20), textBytes(kDeviceCode4));
    }
}

TEST_F(Responses, BillDiagnosisDataPerCassette) {
    const Bytes r = rig.host.exchange(enhanced(0x0F, {0x10}));
    ASSERT_GE(r.size(), 115u);
    for (size_t c = 0; c < 6; ++c) {
        const DiagnosisData &d = kDiagnosis[c];
        EXPECT_EQ(slice(r, 91 + 4 * c, 4), (Bytes{d.denomination, d.length, d.thickness, d.reservation}));
    }
    EXPECT_NE(rig.host.exchange(basic(0x0F, {0x07})).at(0), 0xE0) << "no diagnosis mode 7";
}

TEST_F(Responses, OperationalLogBlocksAreFixedAndDifferFromEachOther) {
    const Bytes a = rig.host.exchange(enhanced(0x13, {0x01, 0x03}));
    ASSERT_EQ(a.size(), 1114u);
    EXPECT_EQ(slice(a, 0, 3), (Bytes{0xE0, 0x13, 0xFF}));
    for (size_t i = 0; i < kOplogDataSize; ++i) ASSERT_EQ(a[90 + i], oplogByte(1, 3, static_cast<int>(i))) << i;
    EXPECT_EQ(rig.host.exchange(enhanced(0x13, {0x01, 0x03})), a) << "the same block twice";
    // Every two blocks of an acquisition differ at every position after the
    // two that name the block.
    const std::pair<int, int> blocks[] = {{0, 7}, {1, 0}, {1, 7}, {2, 3}, {3, 1}};
    for (auto [section, block] : blocks) {
        for (auto [otherSection, otherBlock] : blocks) {
            if (section == otherSection && block == otherBlock) continue;
            for (int i = 2; i < 1024; i += 97)
                EXPECT_NE(oplogByte(section, block, i), oplogByte(otherSection, otherBlock, i));
        }
    }
}

TEST_F(Responses, MalformedAndUnknownRequestsAreAnsweredNegatively) {
    struct Case {
        Bytes request;
        Bytes error;   // at the layout's error position
    };
    const Case cases[] = {
        {{0x60, 0x01, 0x01, 0x00, 0x1C}, {0xEE, 0x00}},     // status read has a three-byte basic form only
        {basic(0x7F, {0x00}), {0xE0, 0x00}},                // no such command
        {{0x60, 0x05, 0x02, 0x00, 0x1C}, {0xEE, 0x00}},     // count byte says 2, one follows
        {basic(0x13, {0x00, 0x00}), {0xEE, 0x00}},          // operational log is enhanced only
        {basic(0x06, {0x02}), {0xEA, 0x00}},                // no such retrieval action
    };
    for (const Case &c : cases) {
        const Bytes r = rig.host.exchange(c.request);
        ASSERT_GE(r.size(), 5u);
        EXPECT_NE(r[0], 0xE0);
        EXPECT_EQ(r[1], c.request[1]);
        EXPECT_EQ(slice(r, 3, 2), c.error) << c.request.size();
    }
}

}  // namespace
}  // namespace toolstest
