#include "valdor/qt/icons.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace valdor::qt {

QPixmap dispenserPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);

    // The cabinet.
    QLinearGradient body(0, 4, 0, 30);
    body.setColorAt(0, QColor(96, 112, 132));
    body.setColorAt(1, QColor(52, 62, 78));
    p.setPen(QPen(QColor(30, 36, 46), 1));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(3.5, 9.5, 25, 20), 3, 3);
    // The delivery slot.
    p.setBrush(QColor(20, 24, 30));
    p.drawRoundedRect(QRectF(7.5, 13.5, 17, 3), 1, 1);
    // Cassette fronts.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(150, 166, 186));
    for (int i = 0; i < 3; ++i) p.drawRect(QRectF(7 + 6.5 * i, 21, 5, 5));
    // The note leaving the slot.
    QPainterPath note;
    note.addRoundedRect(QRectF(9, 2.5, 14, 12.5), 1.2, 1.2);
    p.setPen(QPen(QColor(24, 92, 48), 1));
    p.setBrush(QColor(96, 196, 120));
    p.drawPath(note);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(236, 248, 238));
    p.drawEllipse(QPointF(16, 8.5), 3, 3);
    p.setBrush(QColor(24, 92, 48));
    p.drawRect(QRectF(15.4, 6.8, 1.2, 3.4));
    // Status lamp.
    p.setBrush(QColor(255, 196, 40));
    p.drawEllipse(QPointF(25.5, 12), 1.3, 1.3);
    return pixmap;
}

QIcon dispenserIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(dispenserPixmap(size));
    return icon;
}

}  // namespace valdor::qt
