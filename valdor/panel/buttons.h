// The push buttons of the console window and their captions, for front ends
// that name a button by what it says, and for the window's layout, which
// takes its captions from here.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "valdor/panel/controls.h"

namespace valdor {

struct ButtonCaption {
    int id;
    const char *caption;  // "" for the six buttons without a caption
};

// Every push button, ascending by number without a gap.
inline constexpr ButtonCaption kButtonCaptions[] = {
    {ctl::Exit, "Exit"},
    {ctl::Clear, "Clear"},
    {ctl::LoadData, "LoadData"},
    {ctl::SaveData, "SaveData"},
    {ctl::DownLoad, "DownLoad"},
    {ctl::ComOpen, "COM Open"},
    {ctl::ComClose, "COM Close"},
    {ctl::LogAllClear, "Log All Clear"},
    {ctl::LogWithMsg, "Log with Msg"},
    {ctl::AcquireOpeLog, "Acquire Ope-Log"},
    {ctl::BillCountTransport, "Bill Count / Transport"},
    {ctl::StatusRead, "Status Read"},
    {ctl::MechaReset, "Mecha Reset"},
    {ctl::BillCount, "Bill Count"},
    {ctl::BillCountFront, "Bill Count <Front>"},
    {ctl::BillCountRear, "Bill Count <Rear>"},
    {ctl::BillTransport, "Bill Transport"},
    {ctl::BillRetrieval, "Bill Retrieval"},
    {ctl::Cancel, "Cancel"},
    {ctl::BillCountReject, "Bill Count <Reject>"},
    {ctl::LogReadClear, "Log Read/Clear"},
    {ctl::SensorTransition, "Sensor Transition"},
    {ctl::OperationalLog, "Operational Log"},
    {ctl::BillDiagnosis, "Bill Diagnosis"},
    {ctl::DeviceInformation, "Device Information"},
    {ctl::FirstBlankButton + 0, ""},
    {ctl::FirstBlankButton + 1, ""},
    {ctl::FirstBlankButton + 2, ""},
    {ctl::FirstBlankButton + 3, ""},
    {ctl::FirstBlankButton + 4, ""},
    {ctl::FirstBlankButton + 5, ""},
};

constexpr bool isButton(int id) { return id >= ctl::Exit && id <= ctl::LastBlankButton; }

// Looking a caption up by position needs the table whole and in order.
static_assert(std::size(kButtonCaptions) == ctl::LastBlankButton - ctl::Exit + 1);
static_assert([] {
    for (size_t i = 0; i < std::size(kButtonCaptions); ++i)
        if (kButtonCaptions[i].id != ctl::Exit + static_cast<int>(i)) return false;
    return true;
}());

// The caption of a button ("" for a blank one); nullptr for a number that
// is not a push button.
constexpr const char *buttonCaption(int id) {
    return isButton(id) ? kButtonCaptions[id - ctl::Exit].caption : nullptr;
}

constexpr std::span<const ButtonCaption> buttonCaptions() { return kButtonCaptions; }

// The button with exactly this caption.
std::optional<int> buttonByCaption(std::string_view caption);

}  // namespace valdor
