// Dialog units to pixels.  The window is laid out in dialog units; a
// horizontal unit is a quarter of the layout font's average character width
// and a vertical unit an eighth of its height, so the arrangement keeps its
// proportions with whatever font the machine has.
#pragma once

#include <QFont>
#include <QRect>

namespace valdor::qt {

// The face used everywhere.  DejaVu Sans ships with every Debian desktop
// (fonts-dejavu-core) and stays legible at small sizes.
inline constexpr char kFontFamily[] = "DejaVu Sans";
// The font the dialog units are measured in, and the smaller one that every
// control shows its text in, so that captions sit comfortably in their boxes.
inline constexpr int kLayoutFontPixels = 11;
inline constexpr int kControlFontPixels = 10;

QFont layoutFont();
QFont controlFont();

class DialogUnits {
public:
    explicit DialogUnits(const QFont &font);
    DialogUnits() : DialogUnits(layoutFont()) {}

    int x(double du) const;
    int y(double du) const;
    // The pixel rectangle of (x, y, width, height) in dialog units; adjacent
    // rectangles stay adjacent because both edges are rounded, not the size.
    QRect rect(double x, double y, double width, double height) const;

    double pixelsPerUnitX() const { return perX_; }
    double pixelsPerUnitY() const { return perY_; }

private:
    double perX_;
    double perY_;
};

}  // namespace valdor::qt
