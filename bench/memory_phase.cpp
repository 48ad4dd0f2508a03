// Resident memory in the automatic modes: once the message box is full, and
// again after ten times as many lines more, with "Execution Message Display"
// on.  The box keeps its bound, so the second figure should hardly grow.
#include "measure.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <istream>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/held_script.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/message_limit.h"
#include "valdor/headless/script_runner.h"

#ifdef VALDOR_WITH_QT
#include <QApplication>
#include <QTest>

#include "valdor/qt/rs_dlg.h"
#endif

namespace bench {

namespace {

constexpr double kGrowthLimitMiB = 10;
constexpr size_t kMoreBoxes = 10;

double residentMiB() {
    long pages = 0, resident = 0;
    std::ifstream statm("/proc/self/statm");
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void addRows(Table &table, const char *where, double full, double after, size_t fullLines) {
    table.add({std::string(where) + ": resident memory, message box full" +
                   format(" (%.0f lines)", static_cast<double>(fullLines)),
               format("%.1f MiB", full), "", ""});
    const double growth = after - full;
    table.add({std::string(where) + ": resident memory after ten times as many lines more", format("%.1f MiB", after),
               format("growth < %.0f MiB", kGrowthLimitMiB),
               growth < kGrowthLimitMiB ? format("met (+%.1f MiB)", growth) : format("MISSED (+%.1f MiB)", growth)});
}

}  // namespace

void measureMemoryHeadless(Table &table) {
    constexpr int kCom = 6;
    testsupport::Bdusim unit;
    unit.mapCom(kCom);
    // The operational log in the repeat mode: its answers make the longest lines.
    testsupport::HeldScript script("select 1137 \"COM6\"\npress \"COM Open\"\nwait message \"COM OPEN Completed.\"\n"
                                   "check 1241 on\ncheck 1242 on\npress \"Operational Log\"\n",
                                   "");
    std::istream in(&script);
    testsupport::CountedOutput counted;
    std::FILE *err = std::fopen("/dev/null", "w");
    int status = -1;
    std::thread runner([&] { status = valdor::runScript(in, counted.file(), err); });

    const size_t full = valdor::kMessageBoxMaxChars;
    bool ok = counted.reach(full, std::chrono::seconds(300));
    const double atFull = residentMiB();
    const size_t fullLines = counted.lines();
    ok = ok && counted.reach(full * (1 + kMoreBoxes), std::chrono::seconds(1200));
    const double after = residentMiB();
    script.release();
    runner.join();
    std::fclose(err);
    if (!ok || status != valdor::kScriptOk) throw std::runtime_error("the headless repeat mode stopped early");
    addRows(table, "headless, \"Operational Log\" repeated", atFull, after, fullLines);
}

#ifdef VALDOR_WITH_QT

namespace {

// Lines as the repeat mode of "Operational Log" makes them: a short SEND
// trace, its outcome, a RECV trace of 3,361 characters and its outcome.
std::string exchangeLine(size_t n) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%02zu:%02zu:%02zu:%03zu]>", n / 3600000 % 24, n / 60000 % 60,
                  n / 1000 % 60, n % 1000);
    switch (n % 4) {
        case 0:
            return std::string("SEND") + stamp + "60 13 FF 00 00 02 00 00 1C ";
        case 1:
            return "Send Normal End";
        case 2: {
            std::string line = std::string("RECV") + stamp;
            for (size_t i = 0; line.size() < 3361; ++i) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%02zX ", (n + i) & 0xFF);
                line += hex;
            }
            line.resize(3361);
            return line;
        }
        default:
            return "Receive Normal End";
    }
}

}  // namespace

bool measureMemoryWindow(Table &table, int argc, char **argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    valdor::qt::CRsDlg window;
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    window.setChecked(valdor::ctl::ShowMessages, true);
    window.clearMessages();
    size_t chars = 0, n = 0;
    auto append = [&] {
        std::string line = exchangeLine(n++);
        chars += valdor::messageBoxChars(line);
        window.appendMessage(line);
        if (n % 16 == 0) QCoreApplication::processEvents();  // paint as the window would
    };
    while (chars < valdor::kMessageBoxMaxChars) append();
    QCoreApplication::processEvents();
    const double atFull = residentMiB();
    const size_t fullLines = n;
    for (size_t more = kMoreBoxes * fullLines; more > 0; --more) append();
    QCoreApplication::processEvents();
    const double after = residentMiB();
    addRows(table, "window (offscreen)", atFull, after, fullLines);
    window.console().exit();
    return true;
}

#else

bool measureMemoryWindow(Table &, int, char **) { return false; }

#endif

}  // namespace bench
