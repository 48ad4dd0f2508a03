// The console's side of the line capture: one capture at a time, started by
// --capture, the script's capture statement or the message box's menu.
#pragma once

#include <string>

namespace valdor {

// Starts (or moves) the capture to FILE.  False with the system's error
// number in `error`.
bool startCapture(const std::string &path, int &error);
void stopCapture();
// The file being captured to, or "" when none.
std::string capturePath();

}  // namespace valdor
