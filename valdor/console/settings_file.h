// "SaveData" and "LoadData": the list positions of the 37 combo boxes of the
// "Bill Setting Information (mm)" and "Bill Count" groups, one byte each, in
// the file "valdor.dat".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace valdor {

class Panel;

inline constexpr char kSettingsFileName[] = "valdor.dat";
inline constexpr size_t kSettingsSize = 37;
inline constexpr uint8_t kNoPosition = 255;

using SettingsRecord = std::array<uint8_t, kSettingsSize>;

// The 37 combo boxes, in the order of their bytes in the file.
std::span<const int> settingsCombos();

// The record of the panel's selections: each box's position, 255 for none.
SettingsRecord collectSettings(const Panel &panel);

// Sets each box to the position in its byte; a byte that is no position of
// the box's list leaves it with no selection.
void applySettings(Panel &panel, const SettingsRecord &record);

// The buttons.  Each opens and closes its own file, so that a report or a
// program file that a transfer holds open is never disturbed.  Failures are
// reported through the panel's message box; nothing is reported on success.
void saveSettings(Panel &panel, const std::string &path = kSettingsFileName);
void loadSettings(Panel &panel, const std::string &path = kSettingsFileName);

}  // namespace valdor
