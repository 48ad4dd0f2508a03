#include "valdor/panel/buttons.h"

namespace valdor {

namespace {

constexpr ButtonCaption kButtons[] = {
    {1001, "Exit"},
    {1002, "Clear"},
    {1003, "LoadData"},
    {1004, "SaveData"},
    {1005, "DownLoad"},
    {1006, "COM Open"},
    {1007, "COM Close"},
    {1008, "Log All Clear"},
    {1009, "Log with Msg"},
    {1010, "Acquire Ope-Log"},
    {1011, "Bill Count / Transport"},
    {1012, "Status Read"},
    {1013, "Mecha Reset"},
    {1014, "Bill Count"},
    {1015, "Bill Count <Front>"},
    {1016, "Bill Count <Rear>"},
    {1017, "Bill Transport"},
    {1018, "Bill Retrieval"},
    {1019, "Cancel"},
    {1020, "Bill Count <Reject>"},
    {1021, "Log Read/Clear"},
    {1022, "Sensor Transition"},
    {1023, "Operational Log"},
    {1024, "Bill Diagnosis"},
    {1025, "Device Information"},
    {1026, ""},
    {1027, ""},
    {1028, ""},
    {1029, ""},
    {1030, ""},
    {1031, ""},
};

}  // namespace

std::span<const ButtonCaption> buttonCaptions() { return kButtons; }

std::optional<int> buttonByCaption(std::string_view caption) {
    if (caption.empty()) return std::nullopt;
    for (const auto &b : kButtons)
        if (caption == b.caption) return b.id;
    return std::nullopt;
}

}  // namespace valdor
