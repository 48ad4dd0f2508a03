#include "valdor/responses/response_decoder.h"

#include <array>
#include <cstdio>
#include <string>

#include "rslink/core/hex.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/panel.h"
#include "valdor/panel/panel_writes.h"
#include "valdor/responses/error_catalogue.h"
#include "valdor/responses/response_bytes.h"

namespace valdor {

namespace {

constexpr uint8_t kMechanicalReset = 0x02;

// The bytes that carry indicator bits.  The basic layout has no C5 and C6.
enum Source : uint8_t { S1, S2, S3, S4, S5, S6, C1, C2, C3, C4, C5, C6, kSourceCount };

constexpr size_t kNowhere = static_cast<size_t>(-1);

// Where each item stands; differs between the two layouts.
struct Layout {
    size_t errorCode;  // main code, then sub-code
    size_t address;
    size_t addressBytes;
    size_t version;
    size_t versionBytes;
    size_t date;  // kNowhere: the field is emptied
    size_t dateBytes;
    size_t errorRegister;
    size_t errorRegister2;  // kNowhere: the field is emptied
    size_t dfcs;
    size_t resetLevels;
    size_t countLevels;
    size_t counted[6];   // kNowhere: the field is emptied
    size_t rejected[6];  // kNowhere: the field is emptied
    size_t source[kSourceCount];
};

constexpr Layout kBasic{
    .errorCode = 3,
    .address = 5,
    .addressBytes = 2,
    .version = 7,
    .versionBytes = 2,
    .date = kNowhere,
    .dateBytes = 0,
    .errorRegister = 9,
    .errorRegister2 = kNowhere,
    .dfcs = 22,
    .resetLevels = 39,
    .countLevels = 140,
    .counted = {39, 41, 43, 45, kNowhere, kNowhere},
    .rejected = {47, 49, 51, 53, kNowhere, kNowhere},
    .source = {12, 13, 14, 15, 16, 17, 18, 19, 20, 21, kNowhere, kNowhere},
};

constexpr Layout kEnhanced{
    .errorCode = 6,
    .address = 54,
    .addressBytes = 4,
    .version = 48,
    .versionBytes = 6,
    .date = 42,
    .dateBytes = 6,
    .errorRegister = 12,
    .errorRegister2 = 60,
    .dfcs = 25,
    .resetLevels = 90,
    .countLevels = 191,
    .counted = {90, 92, 94, 96, 207, 209},
    .rejected = {98, 100, 102, 104, 215, 217},
    .source = {15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 69, 70},
};

// The 15 sensor levels in the order the unit sends them, and the field of each.
constexpr int kLevelFields[15] = {
    ctl::LevelFdls1,     ctl::LevelFdls1 + 1, ctl::LevelFdls1 + 2, ctl::LevelFdls1 + 3,
    ctl::LevelFdls1 + 4, ctl::LevelFdls1 + 5, ctl::LevelDfss,      ctl::LevelRejs,
    ctl::LevelBps,       ctl::LevelBrs1,      ctl::LevelBrs2,      ctl::LevelBrs3,
    ctl::LevelEjsr,      ctl::LevelEjsf,      ctl::LevelBcs,
};

// An indicator is ticked when its bit is set and the option byte S4 has
// the bits `whenS4Mask` equal to `whenS4` (the option rules: a shutter's
// sensors count only when that side has a shutter, and so on).
struct Indicator {
    Source source;
    uint8_t bit;
    int box;
    uint8_t whenS4Mask = 0;
    uint8_t whenS4 = 0;
};

constexpr Indicator kStatusIndicators[] = {
    {S1, 0, ctl::Fdls1},     {S1, 1, ctl::Fdls1 + 1}, {S1, 2, ctl::Fdls1 + 2},
    {S1, 3, ctl::Fdls1 + 3}, {S1, 4, ctl::Fdls1 + 4}, {S1, 5, ctl::Fdls1 + 5},  // FDLS1-FDLS6
    {S2, 0, ctl::Dfss},
    {S2, 1, ctl::Bps},
    {S2, 2, ctl::Rejs},
    {S2, 3, ctl::Ejsr},
    {S2, 4, ctl::Ejsf},
    {S2, 5, ctl::Brs3},
    {S2, 6, ctl::Brs2},
    {S2, 7, ctl::Brs1},
    {S3, 7, ctl::Balm},
    {S3, 3, ctl::OptionSensor},
    {S3, 4, ctl::Bcs},
    {S3, 5, ctl::Rbst},
    {S3, 6, ctl::RejectOption},
    {S3, 1, ctl::Tus},
    {S3, 0, ctl::Ths},
    {S4, 7, ctl::SprayType},
    {S4, 6, ctl::RearSpray, 0x80, 0x80},  // only with a spray type
    // Front option: present (bit 2) with a capture box (bit 1) or a shutter.
    {S4, 2, ctl::FrontOptAvailable},
    {S4, 1, ctl::FrontOptCaptureBox, 0x04, 0x04},
    {S4, 0, ctl::FrontOptRjb, 0x06, 0x06},
    {S4, 2, ctl::FrontOptShutter, 0x02, 0x00},
    {S5, 1, ctl::FrontOptSos, 0x06, 0x04},
    {S5, 0, ctl::FrontOptScs, 0x06, 0x04},
    {S5, 3, ctl::FrontOptShtOpn, 0x06, 0x04},
    {S5, 2, ctl::FrontOptShtMgOn, 0x06, 0x04},
    // Rear option: present (bit 5) with a capture box (bit 4) or a shutter.
    {S4, 5, ctl::RearOptAvailable},
    {S4, 4, ctl::RearOptCaptureBox, 0x20, 0x20},
    {S4, 3, ctl::RearOptRjb, 0x30, 0x30},
    {S4, 5, ctl::RearOptShutter, 0x10, 0x00},
    {S5, 5, ctl::RearOptSos, 0x30, 0x20},
    {S5, 4, ctl::RearOptScs, 0x30, 0x20},
    {S5, 7, ctl::RearOptShtOpn, 0x30, 0x20},
    {S5, 6, ctl::RearOptShtMgOn, 0x30, 0x20},
    {S6, 7, ctl::Spb7},
    {S6, 6, ctl::Spb6},
    {S6, 5, ctl::Alarm},
    {S6, 4, ctl::DfcsAlm},
    {S6, 3, ctl::Unnote},
    {S6, 2, ctl::Inibl},
    {S6, 1, ctl::Rejbl},
    {S6, 0, ctl::Rtvbl},
};

// The cassette grid: rows Cst1-Cst6, columns NES, A, B, C, D; box
// 1315 + 5 * (cassette - 1) + column.  Bits 6, 5 and 4 are not shown.
constexpr uint8_t kCassetteColumnBits[5] = {7, 3, 2, 1, 0};

constexpr auto kCassetteIndicators = [] {
    std::array<Indicator, 6 * std::size(kCassetteColumnBits)> indicators{};
    size_t at = 0;
    for (int c = 0; c < 6; ++c)
        for (int column = 0; column < 5; ++column)
            indicators[at++] = {static_cast<Source>(C1 + c), kCassetteColumnBits[column],
                                ctl::CstGridFirst + 5 * c + column};
    return indicators;
}();

static_assert(std::size(kStatusIndicators) + std::size(kCassetteIndicators) == 77,
              "every indicator box is written once per response");

std::string hexByte(uint8_t byte) {
    std::string text;
    rslink::core::appendHex(text, byte);
    return text;
}

std::string hexRun(const ResponseBytes &bytes, size_t at, size_t count, const char *separator) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        if (i != 0) text += separator;
        text += hexByte(bytes[at + i]);
    }
    return text;
}

const char *levelMark(uint8_t level) {
    if (level <= 0x08) return "";
    if (level <= 0x0C) return "*";
    return "**";
}

const char *dfcsMark(uint8_t level) {
    if (level >= 0xD7 && level <= 0xE8) return "";
    if (level >= 0xE9 && level <= 0xF7) return "*";
    return "**";
}

void writeText(PanelWrites &panel, int field, const ResponseBytes &bytes, size_t at, size_t count) {
    if (at == kNowhere) {
        panel.setText(field, "");
        return;
    }
    panel.setText(field, bytes.text(at, count));
}

void showHeader(PanelWrites &panel, const ResponseBytes &bytes, const Layout &layout) {
    panel.setText(ctl::Dh0Dh1, hexRun(bytes, 0, 2, ""));
    const uint8_t mainCode = bytes[layout.errorCode];
    const uint8_t subCode = bytes[layout.errorCode + 1];
    panel.setText(ctl::ErrorCode, hexByte(mainCode) + hexByte(subCode));
    panel.setText(ctl::ErrorMessage, lookupErrorMessage(mainCode, subCode));
    panel.setText(ctl::ErrorAddress, hexRun(bytes, layout.address, layout.addressBytes, ""));
    panel.setText(ctl::ErrorRegister, hexRun(bytes, layout.errorRegister, 3, " "));
    panel.setText(ctl::ErrorRegister2, layout.errorRegister2 == kNowhere
                                           ? std::string()
                                           : hexRun(bytes, layout.errorRegister2, 3, " "));
    writeText(panel, ctl::Version, bytes, layout.version, layout.versionBytes);
    writeText(panel, ctl::Date, bytes, layout.date, layout.dateBytes);
    const uint8_t dfcs = bytes[layout.dfcs];
    panel.setText(ctl::LevelDfcs, hexByte(dfcs) + dfcsMark(dfcs));
}

uint8_t sourceByte(const ResponseBytes &bytes, const Layout &layout, Source source) {
    const size_t at = layout.source[source];
    return at == kNowhere ? 0 : bytes[at];
}

// Every indicator is written exactly once: unticked unless its bit counts.
void showIndicators(PanelWrites &panel, const ResponseBytes &bytes, const Layout &layout) {
    const uint8_t s4 = sourceByte(bytes, layout, S4);
    auto show = [&](const Indicator &indicator) {
        const bool bitSet = (sourceByte(bytes, layout, indicator.source) >> indicator.bit) & 1;
        const bool counts = (s4 & indicator.whenS4Mask) == indicator.whenS4;
        panel.setChecked(indicator.box, bitSet && counts);
    };
    for (const Indicator &indicator : kStatusIndicators) show(indicator);
    for (const Indicator &indicator : kCassetteIndicators) show(indicator);
}

void showLevels(PanelWrites &panel, const ResponseBytes &bytes, size_t first) {
    for (size_t i = 0; i < std::size(kLevelFields); ++i) {
        const uint8_t level = bytes[first + i];
        panel.setText(kLevelFields[i], hexByte(level) + levelMark(level));
    }
}

// The unit sends counts as two digits with parity in bit 7.
void showCount(PanelWrites &panel, int field, const ResponseBytes &bytes, size_t at) {
    if (at == kNowhere) {
        panel.setText(field, "");
        return;
    }
    const char digits[2] = {static_cast<char>(bytes[at] & 0x7F), static_cast<char>(bytes[at + 1] & 0x7F)};
    panel.setText(field, untilNul(std::string_view(digits, 2)));
}

void showBillsCounted(PanelWrites &panel, const ResponseBytes &bytes, const Layout &layout) {
    for (int c = 0; c < 6; ++c) showCount(panel, ctl::Counted1 + c, bytes, layout.counted[c]);
    for (int c = 0; c < 6; ++c) showCount(panel, ctl::Rejected1 + c, bytes, layout.rejected[c]);
}

}  // namespace

PanelWrites decodeResponse(std::span<const uint8_t> text) {
    PanelWrites panel;
    const ResponseBytes bytes(text);
    const Layout &layout = bytes.enhanced() ? kEnhanced : kBasic;
    showHeader(panel, bytes, layout);
    showIndicators(panel, bytes, layout);
    const uint8_t dh1 = bytes[1];
    if (dh1 == kMechanicalReset) {
        showLevels(panel, bytes, layout.resetLevels);
    } else if (isBillCountCode(dh1)) {
        showLevels(panel, bytes, layout.countLevels);
        showBillsCounted(panel, bytes, layout);
    }
    return panel;
}

void showResponse(Panel &panel, std::span<const uint8_t> text) { panel.apply(decodeResponse(text).span()); }

}  // namespace valdor
