// Resident memory in the automatic modes: once the message box is full, and
// again after ten times as many lines more, with "Execution Message Display"
// on.  The box keeps its bound, so the second figure should hardly grow.
#include "measure.h"

#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <streambuf>
#include <thread>

#include "valdor/console/controls.h"
#include "valdor/console/message_limit.h"
#include "valdor/headless/script_runner.h"

#ifdef VALDOR_WITH_QT
#include <QApplication>
#include <QTest>

#include "valdor/console/qt/rs_dlg.h"
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

// A script that gives its first statements, then holds the runner between
// statements (where it keeps lines for a later wait) until released, then
// ends.
class HeldScript : public std::streambuf {
public:
    explicit HeldScript(std::string head) : head_(std::move(head)) {
        setg(head_.data(), head_.data(), head_.data() + head_.size());
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

protected:
    int_type underflow() override {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return released_; });
        return traits_type::eof();
    }

private:
    std::string head_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
};

// Standard output of the script: counted, then thrown away.  The box's
// characters are the lines' plus "\r\n" for each "\n".
struct CountingOutput {
    std::mutex mutex;
    std::condition_variable changed;
    size_t boxChars = 0;
    size_t lines = 0;

    static ssize_t write(void *cookie, const char *data, size_t size) {
        auto *self = static_cast<CountingOutput *>(cookie);
        size_t newlines = 0;
        for (size_t i = 0; i < size; ++i) newlines += data[i] == '\n';
        {
            std::lock_guard lock(self->mutex);
            self->boxChars += size + newlines;
            self->lines += newlines;
        }
        self->changed.notify_all();
        return static_cast<ssize_t>(size);
    }
    bool waitFor(size_t chars, std::chrono::seconds timeout) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return boxChars >= chars; });
    }
};

}  // namespace

void measureMemoryHeadless(Table &table) {
    constexpr int kCom = 6;
    testsupport::Bdusim unit;
    unit.mapCom(kCom);
    // The operational log in the repeat mode: its answers make the longest lines.
    HeldScript script("select 1137 \"COM6\"\npress \"COM Open\"\nwait message \"COM OPEN Completed.\"\n"
                      "check 1241 on\ncheck 1242 on\npress \"Operational Log\"\n");
    std::istream in(&script);
    CountingOutput counted;
    cookie_io_functions_t io{};
    io.write = &CountingOutput::write;
    std::FILE *out = fopencookie(&counted, "w", io);
    std::FILE *err = std::fopen("/dev/null", "w");
    int status = -1;
    std::thread runner([&] { status = valdor::runScript(in, out, err); });

    const size_t full = valdor::kMessageBoxMaxChars;
    bool ok = counted.waitFor(full, std::chrono::seconds(300));
    const double atFull = residentMiB();
    size_t fullLines = 0;
    {
        std::lock_guard lock(counted.mutex);
        fullLines = counted.lines;
    }
    ok = ok && counted.waitFor(full * (1 + kMoreBoxes), std::chrono::seconds(1200));
    const double after = residentMiB();
    script.release();
    runner.join();
    std::fclose(out);
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
