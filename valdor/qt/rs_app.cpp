#include "valdor/qt/rs_app.h"

#include <QApplication>
#include <QStyleFactory>
#include <cstdlib>

#include "valdor/qt/dialog_units.h"
#include "valdor/qt/icons.h"
#include "valdor/qt/rs_dlg.h"

namespace valdor::qt {

namespace {

bool set(const char *name) {
    const char *value = std::getenv(name);
    return value && *value;
}

}  // namespace

bool CRsApp::displayAvailable() {
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

int CRsApp::run(int &argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("valdor"));
    // One look on every desktop, so the dialog-unit layout holds everywhere.
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);
    QApplication::setFont(controlFont());
    QApplication::setWindowIcon(dispenserIcon());

    CRsDlg window;
    window.exec();
    return 0;
}

}  // namespace valdor::qt
