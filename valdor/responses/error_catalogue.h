// The unit's error codes explained in words.
#pragma once

#include <cstdint>
#include <span>

namespace valdor {

struct ERR_MSG_ENTRY {
    uint8_t kind;   // 0 end of table, 1 main code alone, 2 main code and sub-code
    uint16_t code;  // high byte main code, low byte sub-code
    char text[150];
};

// The whole table: 288 message entries and the end entry.
std::span<const ERR_MSG_ENTRY> errorCatalogue();

// The text of the first entry that matches, or the end entry's text.
const char *lookupErrorMessage(uint8_t mainCode, uint8_t subCode);

}  // namespace valdor
