// AppendMessage in the real window: the time of one line as the message box
// fills, each line followed by the event processing that paints it.
#include "measure.h"

#ifdef VALDOR_WITH_QT
#include <QApplication>
#include <QTest>

#include "valdor/panel/controls.h"
#include "valdor/qt/rs_dlg.h"
#endif

namespace bench {

#ifdef VALDOR_WITH_QT

namespace {

constexpr int kTimedLines = 300;
const char kLine[] = "RECV[12:34:56:789]>E0 01 FF 00 00 D0 30 31 32 33 34 35 36 37 38 39 1C ";

// Appends untimed lines until the box holds `lines`, painting now and then.
void fillTo(valdor::qt::CRsDlg &window, int &held, int lines) {
    while (held < lines) {
        window.appendMessage(kLine);
        if (++held % 1000 == 0) QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
}

// The mean time of one line, each appended and painted.
double timePerLine(valdor::qt::CRsDlg &window, int &held) {
    Stopwatch watch;
    for (int i = 0; i < kTimedLines; ++i) {
        window.appendMessage(kLine);
        QCoreApplication::processEvents();
    }
    watch.stop();
    held += kTimedLines;
    return watch.wall() / kTimedLines;
}

}  // namespace

bool measureAppend(Table &table, int argc, char **argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    valdor::qt::CRsDlg window;
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    window.setChecked(valdor::ctl::ShowMessages, true);
    window.clearMessages();
    int held = 0;
    double first = 0;
    for (int lines : {1000, 10000, 100000}) {
        fillTo(window, held, lines);
        const double perLine = timePerLine(window, held);
        if (lines == 1000) first = perLine;
        const bool last = lines == 100000;
        table.add({format("AppendMessage with %.0f lines in the box", lines), format("%.1f us a line", perLine * 1e6),
                   last ? "<= 2x the 1,000-line figure" : "",
                   last ? (perLine <= 2 * first ? "met" : "MISSED") : ""});
    }
    window.console().exit();
    return true;
}

#else

bool measureAppend(Table &, int, char **) { return false; }

#endif

}  // namespace bench
