// Takes the README's pictures of both windows: the console against the
// simulated unit after a few real exchanges, saved as FOLDER/console.png
// and FOLDER/device-information.png.  With a SUFFIX only the main window,
// as FOLDER/console<SUFFIX>.png (console-125.png, taken at 125 %).
// scripts/screenshots.sh runs it under a virtual X server.
//   valdor_screenshots BDUSIM FOLDER [SUFFIX]
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QProcess>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <initializer_list>
#include <utility>

#include "valdor/console/console.h"
#include "valdor/panel/controls.h"
#include "valdor/qt/dialog_units.h"
#include "valdor/qt/log_dlg.h"
#include "valdor/qt/rs_dlg.h"

using namespace valdor;

namespace {

constexpr int kWaitMs = 20000;

int fail(const QString &why) {
    std::fprintf(stderr, "valdor_screenshots: %s\n", why.toLocal8Bit().constData());
    return 1;
}

// Clicks a control with the mouse, as the operator does.
bool click(qt::CRsDlg &window, int id) {
    QWidget *widget = window.control(id);
    if (!widget) return false;
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, QPoint(widget->width() / 2, widget->height() / 2));
    return true;
}

// Presses a command button and waits until its response has been handled.
bool exchange(qt::CRsDlg &window, int button) {
    auto &worker = window.console().worker();
    const auto before = worker.framesHandled();
    if (!click(window, button) ||
        !QTest::qWaitFor([&] { return worker.framesHandled() > before; }, kWaitMs))
        return false;
    QTest::qWait(100);
    return true;
}

// The simulated unit; the console's COM1 opens it.
class Unit {
public:
    bool start(const QString &program) {
        process_.start(program, {});
        while (!process_.canReadLine())
            if (!process_.waitForReadyRead(10000)) return false;
        const QByteArray path = process_.readLine().trimmed();
        return !path.isEmpty() && qputenv("RSLINK_COM1", path);
    }
    ~Unit() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) process_.kill();
        process_.waitForFinished(5000);
    }

private:
    QProcess process_;
};

}  // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 3 || args.size() > 4) return fail("usage: valdor_screenshots BDUSIM FOLDER [SUFFIX]");
    const QString folder = QDir(args[2]).absolutePath() + QLatin1Char('/');
    const QString suffix = args.size() == 4 ? args[3] : QString();
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setFont(qt::controlFont());

    Unit unit;
    if (!unit.start(args[1])) return fail("the simulated unit " + args[1] + " did not start");
    // A folder of its own, so that no "valdor.dat" lying about sets the window.
    QTemporaryDir scratch;
    if (!scratch.isValid() || !QDir::setCurrent(scratch.path())) return fail("no scratch folder");

    qt::CRsDlg w;
    w.show();
    (void)QTest::qWaitForWindowExposed(&w);
    // Parameters an engineer would set for a count on cassettes 1 and 2:
    // lengths 148 and 149, 0.11 mm, 5 bills, "+10mm", the first of each mode.
    for (auto [combo, position] : {std::pair{1100, 40}, {1106, 40}, {1112, 2}, {1101, 2}, {1107, 2}, {1113, 3},
                                   {1118, 5}, {1119, 3}, {1143, 2}, {1136, 0}, {1141, 0}, {1142, 0}, {1138, 0},
                                   {1139, 0}})
        w.setSelection(combo, position);
    for (int box : {1282, 1245, 1251, int(ctl::SequenceFront)}) click(w, box);
    w.setSelection(ctl::ComPort, 0);
    click(w, ctl::ComOpen);
    if (!w.console().portOpen()) return fail("COM Open failed: " + QString::fromStdString(w.text(ctl::MessageBox)));

    click(w, ctl::Enhanced);
    for (int button : {ctl::StatusRead, ctl::BillCount, ctl::BillDiagnosis, ctl::DeviceInformation, ctl::LogReadClear})
        if (!exchange(w, button)) return fail(QStringLiteral("no response to %1").arg(button));

    if (!QDir().mkpath(folder)) return fail("cannot make " + folder);
    const QString console = folder + QStringLiteral("console") + suffix + QStringLiteral(".png");
    if (!w.grab().save(console)) return fail("cannot save " + console);
    if (suffix.isEmpty()) {
        const QString device = folder + QStringLiteral("device-information.png");
        if (!w.deviceWindow() || !w.deviceWindow()->grab().save(device)) return fail("cannot save " + device);
    }
    QDir::setCurrent(QDir::rootPath());
    return 0;
}
