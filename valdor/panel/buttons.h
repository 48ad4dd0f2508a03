// The push buttons of the console window and their captions, for front ends
// that name a button by what it says.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace valdor {

struct ButtonCaption {
    int id;
    const char *caption;  // "" for the six buttons without a caption
};

// Buttons 1001 to 1031, ascending.
std::span<const ButtonCaption> buttonCaptions();

// The button with exactly this caption.
std::optional<int> buttonByCaption(std::string_view caption);

constexpr bool isButton(int id) { return id >= 1001 && id <= 1031; }

}  // namespace valdor
