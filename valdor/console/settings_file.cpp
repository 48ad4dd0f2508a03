#include "valdor/console/settings_file.h"

#include <cstdio>

#include "valdor/panel/controls.h"
#include "valdor/panel/panel.h"
#include "valdor/panel/param_tables.h"
#include "valdor/transfers/transfer_file.h"

namespace valdor {

namespace {

// Runs of consecutive combo boxes, in file order.
struct ComboRun {
    int first;
    int count;
};

constexpr ComboRun kRuns[] = {
    {ctl::LengthL1, 6},     {ctl::LengthH1, 6},     {ctl::Thickness1, 6}, {ctl::SpecialSpec, 1},
    {ctl::BillsCount1, 6},  {ctl::RejectCount1, 6}, {ctl::PickRetry1, 6},
};

constexpr auto kCombos = [] {
    std::array<int, kSettingsSize> out{};
    size_t i = 0;
    for (const auto &run : kRuns)
        for (int k = 0; k < run.count; ++k) out[i++] = run.first + k;
    return out;
}();

void report(Panel &panel, const char *format, int error) {
    char line[64];
    std::snprintf(line, sizeof line, format, static_cast<unsigned>(error));
    panel.appendMessage(line);
}

}  // namespace

std::span<const int> settingsCombos() { return kCombos; }

SettingsRecord collectSettings(const Panel &panel) {
    SettingsRecord record;
    for (size_t i = 0; i < kSettingsSize; ++i) {
        auto position = panel.selection(kCombos[i]);
        bool storable = position && *position >= 0 && *position < kNoPosition;
        record[i] = storable ? static_cast<uint8_t>(*position) : kNoPosition;
    }
    return record;
}

void applySettings(Panel &panel, const SettingsRecord &record) {
    for (size_t i = 0; i < kSettingsSize; ++i) {
        const ParamTable *table = tableFor(kCombos[i]);
        size_t length = table ? table->items.size() : 0;
        if (record[i] < length)
            panel.setSelection(kCombos[i], record[i]);
        else
            panel.setSelection(kCombos[i], std::nullopt);
    }
}

void saveSettings(Panel &panel, const std::string &path) {
    SettingsRecord record = collectSettings(panel);
    auto replacement = Replacement::create(path);
    if (!replacement) {
        report(panel, "FILE OPEN ERROR CODE=0x%08x", replacement.failure().error);
        return;
    }
    // A full disk must not pass for a saved file.
    if (const auto put = replacement->put(record); !put)
        report(panel, "FILE WRITE ERROR CODE=0x%08x", put.failure().error);
}

void loadSettings(Panel &panel, const std::string &path) {
    TransferFile file;
    if (const auto opened = file.openForReading(path); !opened) {
        report(panel, "FILE OPEN ERROR CODE=0x%08x", opened.failure().error);
        return;
    }
    SettingsRecord record{};
    const auto read = file.read(record.data(), record.size());
    file.close();
    // A short file is no system failure: it reports error number 0.
    if (!read || *read != kSettingsSize) {
        report(panel, "FILE READ ERROR CODE=0x%08x", read ? 0 : read.failure().error);
        return;
    }
    applySettings(panel, record);
}

}  // namespace valdor
