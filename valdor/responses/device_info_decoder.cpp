#include "valdor/responses/device_info_decoder.h"

#include <cstdio>
#include <span>
#include <string>

#include "valdor/panel/controls.h"
#include "valdor/panel/panel.h"
#include "valdor/panel/panel_writes.h"
#include "valdor/responses/response_bytes.h"

namespace valdor {

namespace {

constexpr uint8_t kLogRead = 0x12;
constexpr uint8_t kBillDiagnosis = 0x0F;
constexpr uint8_t kDeviceInformation = 0x0E;

constexpr size_t kEnhancedShift = 51;  // every item stands this much further on in the enhanced layout
constexpr int kRows = 13;
constexpr int kBasicCassettes = 4;
constexpr int kEnhancedCassettes = 6;

int gridField(int cassette, int row) { return ctl::DevGridFirst + kRows * (cassette - 1) + (row - 1); }

std::string format(const char *pattern, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

uint32_t bigEndian(const ResponseBytes &bytes, size_t at, size_t count) {
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i) value = value << 8 | bytes[at + i];
    return value;
}

// --- Log read ------------------------------------------------------------

constexpr size_t kLogMessage = 40;
constexpr size_t kLogMessageBytes = 40;
constexpr size_t kLogBlocks = 80;
constexpr size_t kLogBlockBytes = 32;

void showLogRead(PanelWrites &panel, const ResponseBytes &bytes, size_t shift, int cassettes) {
    panel.setText(ctl::DevTitle, "Total Log Counter");
    panel.setText(ctl::DevLogMessage, bytes.text(kLogMessage + shift, kLogMessageBytes));
    for (int c = 1; c <= cassettes; ++c) {
        const size_t block = kLogBlocks + shift + kLogBlockBytes * static_cast<size_t>(c - 1);
        panel.setText(gridField(c, 1), format("%u", bigEndian(bytes, block, 4)));
        for (int row = 2; row <= kRows; ++row)
            panel.setText(gridField(c, row),
                          format("%u", bigEndian(bytes, block + 4 + 2 * static_cast<size_t>(row - 2), 2)));
    }
}

// --- Bill count ----------------------------------------------------------

// Where rows 2-13 of each cassette start, one byte per row.
constexpr size_t kBasicCountResults[kBasicCassettes] = {55, 71, 87, 103};
constexpr size_t kEnhancedCountResults[kEnhancedCassettes] = {106, 122, 138, 154, 223, 239};

void showBillCount(PanelWrites &panel, const ResponseBytes &bytes, std::span<const size_t> starts) {
    panel.setText(ctl::DevTitle, "");
    for (int c = 1; c <= kEnhancedCassettes; ++c) panel.setText(gridField(c, 1), "");
    for (size_t i = 0; i < starts.size(); ++i) {
        const int cassette = static_cast<int>(i) + 1;
        for (int row = 2; row <= kRows; ++row)
            panel.setText(gridField(cassette, row), format("%u", bytes[starts[i] + static_cast<size_t>(row - 2)]));
    }
}

// --- Bill diagnosis ------------------------------------------------------

constexpr size_t kDiagnosisData = 40;
constexpr size_t kDiagnosisBytes = 4;

std::string thicknessText(uint8_t hundredths) { return "0." + format("%02u", hundredths); }

void showDiagnosisOf(PanelWrites &panel, int c, const std::string &denomination, const std::string &length,
                     const std::string &thickness, const std::string &reservation) {
    panel.setText(ctl::DevDenomination0 + c, denomination);
    panel.setText(ctl::DevLength0 + c, length);
    panel.setText(ctl::DevThickness0 + c, thickness);
    panel.setText(ctl::DevReservation0 + c, reservation);
}

void showBillDiagnosis(PanelWrites &panel, const ResponseBytes &bytes, size_t shift, int cassettes) {
    for (int c = 1; c <= cassettes; ++c) {
        const size_t at = kDiagnosisData + shift + kDiagnosisBytes * static_cast<size_t>(c - 1);
        showDiagnosisOf(panel, c, format("%x", bytes[at]), format("%u", bytes[at + 1]),
                        thicknessText(bytes[at + 2]), format("%x", bytes[at + 3]));
    }
    // The basic layout carries no 5th and 6th cassette: show them as unset.
    for (int c = cassettes + 1; c <= kEnhancedCassettes; ++c) showDiagnosisOf(panel, c, "0", "0", "0.0", "0");
}

// --- Device information --------------------------------------------------

struct Choice {
    char byte;
    const char *text;
};

constexpr Choice kMachineTypes[] = {
    {'0', "Front service machine"}, {'1', "Rear service machine"}, {'2', "Dual service machine"}};
constexpr Choice kOptions[] = {{'0', "Not available"}, {'1', "Shutter"}, {'2', "Capture Box"}};
constexpr Choice kAvailability[] = {{'0', "Not available"}, {'1', "Available"}};
constexpr Choice kRejectOptions[] = {{'0', "Not available(Reject tray)"}, {'1', "Available(Reject box)"}};

// A text of `count` bytes, or, with choices, one byte shown by its text.
struct DeviceItem {
    int field;
    size_t offset;
    size_t count;
    std::span<const Choice> choices;
};

constexpr size_t kDeviceData = 40;

constexpr DeviceItem kDeviceItems[] = {
    {ctl::DevUserSetting, 0, 40, {}},
    {ctl::DevCode1, 40, 8, {}},
    {ctl::DevCode2, 48, 4, {}},
    {ctl::DevCode3, 52, 4, {}},
    {ctl::DevMaxSheets, 56, 3, {}},
    {ctl::DevMachineType, 59, 1, kMachineTypes},
    {ctl::DevFrontOption, 60, 1, kOptions},
    {ctl::DevRearOption, 61, 1, kOptions},
    {ctl::DevJamRetry, 62, 1, kAvailability},
    {ctl::DevBcsSensor, 63, 1, kAvailability},
    {ctl::DevThicknessAdjust, 64, 2, {}},
    {ctl::DevRomVersion, 66, 3, {}},
    {ctl::DevRejectOption, 69, 1, kRejectOptions},
    {ctl::DevCode4, 72, 20, {}},
};

// A byte that is none of the listed ones shows as itself.
std::string choiceText(const ResponseBytes &bytes, size_t at, std::span<const Choice> choices) {
    const char byte = static_cast<char>(bytes[at]);
    for (const Choice &choice : choices)
        if (choice.byte == byte) return choice.text;
    return bytes.text(at, 1);
}

void showDeviceInformation(PanelWrites &panel, const ResponseBytes &bytes, size_t shift) {
    for (const DeviceItem &item : kDeviceItems) {
        const size_t at = kDeviceData + shift + item.offset;
        panel.setText(item.field, item.choices.empty() ? bytes.text(at, item.count)
                                                       : choiceText(bytes, at, item.choices));
    }
}

}  // namespace

PanelWrites decodeDeviceResponse(std::span<const uint8_t> text) {
    PanelWrites panel;
    const ResponseBytes bytes(text);
    const bool enhanced = bytes.enhanced();
    const size_t shift = enhanced ? kEnhancedShift : 0;
    const int cassettes = enhanced ? kEnhancedCassettes : kBasicCassettes;
    const uint8_t dh1 = bytes[1];
    if (dh1 == kLogRead) {
        panel.showDeviceWindow();
        showLogRead(panel, bytes, shift, cassettes);
    } else if (isBillCountCode(dh1)) {
        panel.showDeviceWindow();
        if (enhanced)
            showBillCount(panel, bytes, kEnhancedCountResults);
        else
            showBillCount(panel, bytes, kBasicCountResults);
    } else if (dh1 == kBillDiagnosis) {
        panel.showDeviceWindow();
        showBillDiagnosis(panel, bytes, shift, cassettes);
    } else if (dh1 == kDeviceInformation) {
        panel.showDeviceWindow();
        showDeviceInformation(panel, bytes, shift);
    }
    return panel;
}

void showDeviceResponse(Panel &panel, std::span<const uint8_t> text) { panel.apply(decodeDeviceResponse(text).span()); }

}  // namespace valdor
