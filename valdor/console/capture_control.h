// The console's side of the line capture: one capture at a time, started by
// --capture, the script's capture statement or the message box's menu.
#pragma once

#include <string>

#include "rslink/core/result.h"

namespace valdor {

// Starts (or moves) the capture to FILE.  A failure carries the system's
// error number; the earlier capture has been finished either way.
rslink::Result<> startCapture(const std::string &path);
void stopCapture();
// The file being captured to, or "" when none.
std::string capturePath();

}  // namespace valdor
