// The arrangement of the main console window, in dialog units.
#pragma once

#include "valdor/qt/form.h"

namespace valdor::qt {

inline constexpr double kConsoleWidth = 567;
inline constexpr double kConsoleHeight = 431;

// Makes every control of the main window on `form`, except the message box,
// the progress bar and the image, which the window makes itself.
void buildConsoleControls(Form &form);

// Where the window puts the controls it makes itself.
struct Placement {
    double x, y, w, h;
};
inline constexpr Placement kMessageBoxPlace{2, 339, 563, 77};
inline constexpr Placement kProgressPlace{88, 420, 477, 8};
inline constexpr Placement kImagePlace{515, 163, 14, 14};

}  // namespace valdor::qt
