// What a unit's process tells the run, over a pipe, one line an event:
//   begin  INDEX START                    a step starts
//   end    INDEX OUTCOME START SECONDS SERIAL MESSAGE N {CONTROL OP EXPECTED ACTUAL HELD}*N
//   done                                  every step reported; the port closes next
// Fields are separated by tabs; a backslash, tab, line feed or carriage
// return inside one is written \\ \t \n \r, so any byte passes.  START is
// microseconds since the epoch (UTC), SECONDS as written by to_chars, so
// that the parent's copy of a step is the child's exactly.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "valdor/production/result.h"

namespace valdor {

struct UnitEvent {
    enum class Kind { Begin, End, Done };
    Kind kind = Kind::Done;
    size_t index = 0;    // of the step in UnitResult::steps
    StepResult step;     // begin: its start; end: all of it (the name is not sent)
    std::string serial;  // end: the unit's serial as the step left it
};

// The line of an event, with its "\n".
std::string encodeUnitEvent(const UnitEvent &event);
// The event of a line (without its "\n"), or none for a line that is no event.
std::optional<UnitEvent> decodeUnitEvent(std::string_view line);

}  // namespace valdor
