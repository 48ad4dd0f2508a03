#include "valdor/qt/dialog_units.h"

#include <QFontMetricsF>
#include <QString>
#include <cmath>

namespace valdor::qt {

namespace {

QFont sansPixels(int pixels) {
    QFont font(kFontFamily);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    font.setWeight(QFont::Normal);
    return font;
}

}  // namespace

QFont layoutFont() { return sansPixels(kLayoutFontPixels); }
QFont controlFont() { return sansPixels(kControlFontPixels); }

DialogUnits::DialogUnits(const QFont &font) {
    // The average width of the 52 letters, as dialog units have always been
    // measured, rather than the font's own average that digits and blanks
    // pull down.
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    QFontMetricsF metrics(font);
    perX_ = metrics.horizontalAdvance(letters) / letters.size() / 4.0;
    perY_ = std::ceil(metrics.height()) / 8.0;
}

int DialogUnits::x(double du) const { return static_cast<int>(std::lround(du * perX_)); }
int DialogUnits::y(double du) const { return static_cast<int>(std::lround(du * perY_)); }

QRect DialogUnits::rect(double left, double top, double width, double height) const {
    int l = x(left), t = y(top);
    return QRect(l, t, x(left + width) - l, y(top + height) - t);
}

}  // namespace valdor::qt
