// The program's icon, drawn rather than shipped as an image file: a
// dispenser with a note leaving its slot.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace valdor::qt {

QPixmap dispenserPixmap(int size);
QIcon dispenserIcon();

}  // namespace valdor::qt
