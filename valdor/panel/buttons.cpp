#include "valdor/panel/buttons.h"

namespace valdor {

std::optional<int> buttonByCaption(std::string_view caption) {
    if (caption.empty()) return std::nullopt;
    for (const auto &b : kButtonCaptions)
        if (caption == b.caption) return b.id;
    return std::nullopt;
}

}  // namespace valdor
