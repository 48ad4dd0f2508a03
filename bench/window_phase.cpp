// The console in its window against the console on the in-memory panel:
// "Status Read" in the repeat mode with "Execution Message Display" ticked in
// both, the queued calls the window thread receives per exchange, and
// AppendMessage from the worker's side with the message box full.
#include <atomic>
#include <thread>

#include "measure.h"

#ifdef VALDOR_WITH_QT
#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include "support/bdusim_process.h"
#include "valdor/panel/controls.h"
#include "valdor/qt/rs_dlg.h"
#endif

namespace bench {

#ifdef VALDOR_WITH_QT

namespace {

namespace ctl = valdor::ctl;

constexpr uint64_t kWarm = 200;
constexpr int kCom = 5;

// Counts the events the window thread is handed: every queued call (a
// hand-over from another thread, awaited or not, arrives as one), and the
// timer ticks beside them.
class CountingApp : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override {
        if (counting.load(std::memory_order_relaxed)) {
            if (event->type() == QEvent::MetaCall) queuedCalls.fetch_add(1, std::memory_order_relaxed);
            if (event->type() == QEvent::Timer) timerTicks.fetch_add(1, std::memory_order_relaxed);
        }
        return QApplication::notify(receiver, event);
    }
    std::atomic<bool> counting{false};
    std::atomic<uint64_t> queuedCalls{0};
    std::atomic<uint64_t> timerTicks{0};
};

// Runs the window's event loop until `done` holds, looking every few ms.
template <typename Done>
void serveUntil(Done done) {
    QEventLoop loop;
    QTimer look;
    look.setInterval(5);
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    look.start();
    if (!done()) loop.exec();
}

double headlessRate(int exchanges) {
    Session session({}, true);
    auto &worker = session.console().worker();
    session.panel().setChecked(ctl::ContinuousMode, true);
    session.console().press(ctl::StatusRead);
    while (worker.framesHandled() < kWarm) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Stopwatch watch;
    while (worker.framesHandled() < kWarm + static_cast<uint64_t>(exchanges))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    watch.stop();
    session.panel().setChecked(ctl::ContinuousMode, false);
    return static_cast<double>(worker.framesHandled() - kWarm) / watch.wall();
}

const char kLine[] = "RECV[12:34:56:789]>E0 01 FF 00 00 D0 30 31 32 33 34 35 36 37 38 39 1C ";

// Lines appended from another thread with the box full: the time from the
// first line to the last one shown and painted, per line.
double appendFromWorker(valdor::qt::CRsDlg &window, int lines) {
    window.clearMessages();
    // Full: the box holds its character bound and drops a line for each new.
    const size_t fill = valdor::kMessageBoxMaxChars / (sizeof kLine + 1) + 1000;
    for (size_t i = 0; i < fill; ++i) {
        window.appendMessage(kLine);
        if (i % 1000 == 0) QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    std::atomic<bool> finished{false};
    Stopwatch watch;
    std::thread worker([&] {
        for (int i = 0; i < lines; ++i) window.appendMessage(kLine);
        finished = true;
    });
    serveUntil([&] { return finished.load(); });
    worker.join();
    window.appendMessage(kLine);  // applies what is still queued first
    QCoreApplication::processEvents();
    watch.stop();
    return watch.wall() / (lines + 1);
}

}  // namespace

bool measureWindow(Table &table, int exchanges, int argc, char **argv) {
    const double headless = headlessRate(exchanges);

    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    CountingApp app(argc, argv);
    testsupport::Bdusim unit;
    unit.mapCom(kCom);
    double windowRate = 0, perExchange = 0, ticks = 0, perLine = 0;
    {
        valdor::qt::CRsDlg window;
        window.show();
        (void)QTest::qWaitForWindowExposed(&window);
        window.setSelection(ctl::ComPort, kCom - 1);
        window.console().press(ctl::ComOpen);
        if (!window.console().portOpen()) throw std::runtime_error("COM Open failed against bdusim");
        window.setChecked(ctl::ShowMessages, true);
        window.setChecked(ctl::ContinuousMode, true);
        auto &worker = window.console().worker();
        window.console().press(ctl::StatusRead);
        serveUntil([&] { return worker.framesHandled() >= kWarm; });
        const uint64_t start = worker.framesHandled();
        app.counting = true;
        Stopwatch watch;
        serveUntil([&] { return worker.framesHandled() >= start + static_cast<uint64_t>(exchanges); });
        watch.stop();
        app.counting = false;
        const double n = static_cast<double>(worker.framesHandled() - start);
        windowRate = n / watch.wall();
        perExchange = static_cast<double>(app.queuedCalls.load()) / n;
        ticks = static_cast<double>(app.timerTicks.load()) / n;
        window.setChecked(ctl::ContinuousMode, false);
        perLine = appendFromWorker(window, 20000);
        window.console().exit();
    }
    const double ratio = windowRate / headless;
    table.add({"\"Status Read\" repeat mode, messages shown: headless (in-memory panel)", format("%.0f /s", headless),
               "", ""});
    table.add({"the same in the window (Qt, offscreen)", format("%.0f /s", windowRate), "", ""});
    table.add({"window rate / headless rate", format("%.2f", ratio), ">= 0.5", ratio >= 0.5 ? "met" : "MISSED"});
    table.add({"queued calls to the window thread per exchange", format("%.2f", perExchange), "<= 3",
               perExchange <= 3 ? "met" : "MISSED"});
    table.add({"timer ticks on the window thread per exchange", format("%.2f", ticks), "", ""});
    table.add({"AppendMessage from the worker, box full, amortised", format("%.1f us a line", perLine * 1e6),
               "<= 50 us", perLine <= 50e-6 ? "met" : "MISSED"});
    return true;
}

#else

bool measureWindow(Table &, int, int, char **) { return false; }

#endif

}  // namespace bench
