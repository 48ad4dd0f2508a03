// Writes the icon the console window draws as PNG files of the freedesktop
// icon theme layout (DIR/NxN/apps/NAME.png), so the desktop entry shows the
// very same picture.  Usage: valdor_icon DIR NAME
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

#include "valdor/qt/icons.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fputs("usage: valdor_icon DIR NAME\n", stderr);
        return 2;
    }
    // No display at build time.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString sub = QStringLiteral("%1/%2x%2/apps").arg(dir).arg(size);
        if (!QDir().mkpath(sub)) {
            std::fprintf(stderr, "valdor_icon: cannot create %s\n", qPrintable(sub));
            return 1;
        }
        const QString file = QStringLiteral("%1/%2.png").arg(sub, name);
        if (!valdor::qt::dispenserPixmap(size).save(file, "PNG")) {
            std::fprintf(stderr, "valdor_icon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
