#include "valdor/panel/param_tables.h"

#include <array>
#include <cstddef>

#include "valdor/panel/controls.h"
#include "valdor/panel/panel.h"

namespace valdor {

namespace {

// Most lists are runs of numbers whose text is the number itself, padded
// the way the list shows it.  The texts of a run are generated at compile
// time into static storage, so every table is still constant data.

constexpr size_t kRunTextSize = 8;  // room for "0.30" or "  7" and the NUL

struct Run {
    int first;           // value of the first item
    int last;            // value of the last item; below `first` for a descending run
    char prefix[3];      // written before the digits
    int width;           // the digits are padded on the left to this width...
    char pad;            // ...with this character
};

constexpr size_t runLength(const Run &run) {
    return static_cast<size_t>(run.first <= run.last ? run.last - run.first : run.first - run.last) + 1;
}

template <size_t N>
struct RunTexts {
    char text[N][kRunTextSize];
    uint8_t value[N];
};

constexpr void writeRunText(const Run &run, int value, char *out) {
    char digits[4] = {};
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && count < 3);
    size_t at = 0;
    for (size_t i = 0; i < sizeof run.prefix && run.prefix[i] != '\0'; ++i) out[at++] = run.prefix[i];
    for (int padding = run.width - count; padding > 0; --padding) out[at++] = run.pad;
    while (count > 0) out[at++] = digits[--count];
    out[at] = '\0';
}

template <size_t N>
constexpr RunTexts<N> makeRun(const Run &run) {
    RunTexts<N> texts{};
    const int step = run.first <= run.last ? 1 : -1;
    for (size_t i = 0; i < N; ++i) {
        const int value = run.first + step * static_cast<int>(i);
        writeRunText(run, value, texts.text[i]);
        texts.value[i] = static_cast<uint8_t>(value);
    }
    return texts;
}

// Fixed items before the run, the run, fixed items after it.
template <size_t H, size_t N, size_t T>
constexpr std::array<ParamItem, H + N + T> joinItems(const std::array<ParamItem, H> &head,
                                                     const RunTexts<N> &run,
                                                     const std::array<ParamItem, T> &tail) {
    std::array<ParamItem, H + N + T> items{};
    size_t at = 0;
    for (const ParamItem &item : head) items[at++] = item;
    for (size_t i = 0; i < N; ++i) items[at++] = ParamItem{run.text[i], run.value[i]};
    for (const ParamItem &item : tail) items[at++] = item;
    return items;
}

constexpr std::array<ParamItem, 0> kNothing{};
constexpr std::array<ParamItem, 2> kNoAndDiag{{{" No", 0}, {"diag", 255}}};
constexpr std::array<ParamItem, 1> kClear{{{"Clr", 255}}};

// Each distinct run is one variable, in static storage, that items point into.
template <Run R>
constexpr RunTexts<runLength(R)> kRunTexts = makeRun<runLength(R)>(R);

constexpr auto kLengthLowItems = joinItems(kNoAndDiag, kRunTexts<Run{110, 187, "", 3, ' '}>, kNothing);
constexpr auto kLengthHighItems = joinItems(kNoAndDiag, kRunTexts<Run{187, 110, "", 3, ' '}>, kNothing);
constexpr auto kLengthLow2Items = joinItems(kNoAndDiag, kRunTexts<Run{76, 180, "", 3, ' '}>, kNothing);
constexpr auto kLengthHigh2Items = joinItems(kNoAndDiag, kRunTexts<Run{180, 76, "", 3, ' '}>, kNothing);
constexpr auto kThicknessItems = joinItems(kNothing, kRunTexts<Run{9, 20, "0.", 2, '0'}>, kNothing);
constexpr auto kThickness2Items = joinItems(kNothing, kRunTexts<Run{9, 30, "0.", 2, '0'}>, kNothing);
constexpr auto kCountItems = joinItems(kNothing, kRunTexts<Run{0, 20, "", 2, ' '}>, kNothing);
constexpr auto kRetryItems = joinItems(kNothing, kRunTexts<Run{0, 15, "", 2, ' '}>, kNothing);
constexpr auto kP1Items = joinItems(kNothing, kRunTexts<Run{0, 3, "", 3, ' '}>, kClear);
constexpr auto kP2Items = joinItems(kNothing, kRunTexts<Run{0, 7, "", 3, ' '}>, kClear);

constexpr ParamItem kSpecialSettingItems[] = {{"00", 0}, {"01", 64}, {"10", 128}, {"11", 192}};

constexpr ParamItem kDischargeItems[] = {
    {"Standard", 0}, {"+5mm    ", 16}, {"+10mm   ", 32},
    {"+15mm   ", 48}, {"+20mm   ", 64}, {"Test    ", 112},
};

constexpr ParamItem kLogModeItems[] = {
    {"read only", 0}, {"clear error counter", 1}, {"clear pick counter", 2}, {"clear all", 3},
};

constexpr ParamItem kDiagnosisItems[] = {
    {"diag all", 0},  {"diag 1cst", 1}, {"diag 2cst", 2}, {"diag 3cst", 3}, {"diag 4cst", 4},
    {"diag 5cst", 5}, {"diag 6cst", 6}, {"read", 16},     {"reset", 17},    {"denomi", 32},
};

constexpr ParamItem kDeviceInfoItems[] = {{"read ", 0}, {"write", 1}, {"factory", 128}};

constexpr ParamItem kComPortItems[] = {
    {"COM1", 1}, {"COM2", 2}, {"COM3", 3}, {"COM4", 4},
    {"COM5", 5}, {"COM6", 6}, {"COM7", 7}, {"COM8", 8},
};

constexpr ParamTable kLengthLow{kLengthLowItems, 0};
constexpr ParamTable kLengthHigh{kLengthHighItems, 0};
constexpr ParamTable kLengthLow2{kLengthLow2Items, 0};
constexpr ParamTable kLengthHigh2{kLengthHigh2Items, 0};
constexpr ParamTable kThickness{kThicknessItems, 0};  // no item carries 0: "not set"
constexpr ParamTable kThickness2{kThickness2Items, 0};
constexpr ParamTable kCount{kCountItems, 0};
constexpr ParamTable kRetry{kRetryItems, 0};
constexpr ParamTable kP1{kP1Items, 0};
constexpr ParamTable kP2{kP2Items, 0};
constexpr ParamTable kSpecialSetting{kSpecialSettingItems, 0};
constexpr ParamTable kDischarge{kDischargeItems, 0};
constexpr ParamTable kLogMode{kLogModeItems, 0};
constexpr ParamTable kDiagnosis{kDiagnosisItems, 16};  // nothing chosen reads the data back
constexpr ParamTable kDeviceInfo{kDeviceInfoItems, 0};
constexpr ParamTable kComPort{kComPortItems, 0};     // no port: COM Open does nothing

// Combo boxes first..last share one table.  Cassette 2 has wider lists.
struct ComboTables {
    int first;
    int last;
    const ParamTable *table;
};

constexpr ComboTables kComboTables[] = {
    {ctl::LengthL1, ctl::LengthL1, &kLengthLow},
    {ctl::LengthL1 + 1, ctl::LengthL1 + 1, &kLengthLow2},
    {ctl::LengthL1 + 2, ctl::LengthL1 + 5, &kLengthLow},
    {ctl::LengthH1, ctl::LengthH1, &kLengthHigh},
    {ctl::LengthH1 + 1, ctl::LengthH1 + 1, &kLengthHigh2},
    {ctl::LengthH1 + 2, ctl::LengthH1 + 5, &kLengthHigh},
    {ctl::Thickness1, ctl::Thickness1, &kThickness},
    {ctl::Thickness1 + 1, ctl::Thickness1 + 1, &kThickness2},
    {ctl::Thickness1 + 2, ctl::Thickness1 + 5, &kThickness},
    {ctl::BillsCount1, ctl::BillsCount1 + 5, &kCount},
    {ctl::RejectCount1, ctl::RejectCount1 + 5, &kCount},
    {ctl::PickRetry1, ctl::PickRetry1 + 5, &kRetry},
    {ctl::LogMode, ctl::LogMode, &kLogMode},
    {ctl::ComPort, ctl::ComPort, &kComPort},
    {ctl::OplogP1, ctl::OplogP1, &kP1},
    {ctl::OplogP2, ctl::OplogP2, &kP2},
    {ctl::SpecialSpec, ctl::SpecialSpec, &kSpecialSetting},
    {ctl::DiagnosisMode, ctl::DiagnosisMode, &kDiagnosis},
    {ctl::DeviceInfoMode, ctl::DeviceInfoMode, &kDeviceInfo},
    {ctl::DischargeAmount, ctl::DischargeAmount, &kDischarge},
};

constexpr size_t countCombos() {
    size_t count = 0;
    for (const ComboTables &range : kComboTables) count += static_cast<size_t>(range.last - range.first + 1);
    return count;
}

// kComboTables is in ascending order, so this list is too.
constexpr auto kAllCombos = [] {
    std::array<int, countCombos()> combos{};
    size_t at = 0;
    for (const ComboTables &range : kComboTables)
        for (int combo = range.first; combo <= range.last; ++combo) combos[at++] = combo;
    return combos;
}();

}  // namespace

const ParamTable *tableFor(int combo) {
    for (const ComboTables &range : kComboTables)
        if (combo >= range.first && combo <= range.last) return range.table;
    return nullptr;
}

std::span<const int> allCombos() { return kAllCombos; }

uint8_t comboValue(const Panel &panel, int combo) {
    const ParamTable *table = tableFor(combo);
    if (table == nullptr) return 0;
    const std::optional<int> position = panel.selection(combo);
    if (!position || *position < 0 || static_cast<size_t>(*position) >= table->items.size())
        return table->noneValue;
    return table->items[static_cast<size_t>(*position)].value;
}

}  // namespace valdor
