// Pictures of both windows after a few real exchanges with the simulated
// unit, for the README.  Runs only when VALDOR_SCREENSHOT_DIR names the
// folder to write them to (scripts/screenshots.sh sets it);
// VALDOR_SCREENSHOT_SUFFIX is added to the file names (console-125.png).
#include <gtest/gtest.h>

#include <QDir>
#include <QPixmap>
#include <cstdlib>

#include "qt/qt_support.h"
#include "support/bdusim_process.h"
#include "valdor/qt/log_dlg.h"

using namespace valdor;
using namespace qtsupport;

namespace {

// Presses a command button and waits for its response to be handled.
void exchange(valdor::qt::CRsDlg &w, int button) {
    auto &worker = w.console().worker();
    auto before = worker.framesHandled();
    click(w, button);
    ASSERT_TRUE(waitFor([&] { return worker.framesHandled() > before; })) << "no response to " << button;
    QTest::qWait(100);
}

TEST(Screenshots, BothWindowsAfterAFewExchanges) {
    const char *dir = std::getenv("VALDOR_SCREENSHOT_DIR");
    if (!dir || !*dir) GTEST_SKIP() << "VALDOR_SCREENSHOT_DIR is not set";

    testsupport::Bdusim sim;
    sim.mapCom(1);
    Shown shown;
    auto &w = *shown.window;
    // Parameters an engineer would set for a count on cassettes 1 and 2:
    // lengths 148 and 149, 0.11 mm, 5 bills, "+10mm", the first of each mode.
    for (auto [combo, position] : {std::pair{1100, 40}, {1106, 40}, {1112, 2}, {1101, 2}, {1107, 2}, {1113, 3},
                                   {1118, 5}, {1119, 3}, {1143, 2}, {1136, 0}, {1141, 0}, {1142, 0}, {1138, 0},
                                   {1139, 0}})
        w.setSelection(combo, position);
    for (int box : {1282, 1245, 1251, int(ctl::SequenceFront)}) click(w, box);
    w.setSelection(ctl::ComPort, 0);
    click(w, ctl::ComOpen);
    ASSERT_TRUE(w.console().portOpen()) << w.text(ctl::MessageBox);

    click(w, ctl::Enhanced);
    exchange(w, ctl::StatusRead);
    exchange(w, ctl::BillCount);
    exchange(w, ctl::BillDiagnosis);
    exchange(w, ctl::DeviceInformation);
    exchange(w, ctl::LogReadClear);

    ASSERT_TRUE(QDir().mkpath(QString::fromLocal8Bit(dir)));
    const QString folder = QString::fromLocal8Bit(dir) + QLatin1Char('/');
    const char *suffixSet = std::getenv("VALDOR_SCREENSHOT_SUFFIX");
    const QString suffix = QString::fromLocal8Bit(suffixSet ? suffixSet : "");
    EXPECT_TRUE(w.grab().save(folder + QStringLiteral("console") + suffix + QStringLiteral(".png")));
    ASSERT_NE(w.deviceWindow(), nullptr);
    if (suffix.isEmpty()) {
        EXPECT_TRUE(w.deviceWindow()->grab().save(folder + QStringLiteral("device-information.png")));
    }
}

}  // namespace
