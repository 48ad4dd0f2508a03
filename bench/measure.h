// What the benchmark's phases share: wall and CPU clocks, the console on the
// simulated unit, and the table they fill.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <condition_variable>
#include <optional>
#include <string>
#include <vector>

#include "support/bdusim_process.h"
#include "support/ser2net.h"
#include "valdor/console/console.h"
#include "valdor/panel/host.h"
#include "valdor/panel/memory_panel.h"

namespace bench {

using Clock = std::chrono::steady_clock;

// This process's CPU time (all its threads: the driver's are in-process).
double cpuSeconds();

// Wall and CPU time from construction to stop().
class Stopwatch {
public:
    Stopwatch();
    void stop();
    double wall() const { return wall_; }
    double cpu() const { return cpu_; }

private:
    Clock::time_point start_;
    double cpuStart_;
    double wall_ = 0, cpu_ = 0;
};

// One row of the table: what, the figure, and the goal it is held against.
struct Row {
    std::string what;
    std::string value;
    std::string target;
    std::string verdict;  // "met", "MISSED", or "" when there is no target
};

class Table {
public:
    void add(Row row) { rows_.push_back(std::move(row)); }
    void print() const;

private:
    std::vector<Row> rows_;
};

std::string format(const char *fmt, double value);

// The middle value (the upper one of an even count); `values` not empty.
double median(std::vector<double> values);

// The console on the simulated unit, on a MemoryPanel, COM open.  `via`
// "tcp" or "rfc2217" puts ser2net on loopback between them and opens its
// port; empty, the console opens the unit's pty.
class Session : public valdor::Host {
public:
    explicit Session(std::vector<std::string> unitOptions, bool showMessages, const std::string &via = "");
    ~Session() override;

    valdor::Console &console() { return *console_; }
    valdor::MemoryPanel &panel() { return panel_; }

    // Waits until `line` has reached the message box `times` times in all.
    bool waitForLine(const std::string &line, size_t times, std::chrono::seconds timeout);
    // Every line so far.
    std::vector<std::string> lines() const;
    // When each line starting with `prefix` reached the message box.
    std::vector<Clock::time_point> timesOf(const std::string &prefix) const;

    void answerFileDialogWith(std::string path) { answer_ = std::move(path); }

    std::optional<std::string> chooseFile(std::span<const valdor::FileFilter>, std::string_view) override {
        return std::exchange(answer_, std::nullopt);
    }
    void runBlocking(const std::function<void()> &call) override { call(); }
    void closeWindow() override {}

private:
    valdor::MemoryPanel panel_;
    std::unique_ptr<testsupport::Bdusim> unit_;
    std::string serverFolder_;
    std::unique_ptr<testsupport::Ser2net> server_;
    std::unique_ptr<valdor::Console> console_;
    std::optional<std::string> answer_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::vector<Clock::time_point> times_;
};

// The phases.
void measureExchanges(Table &table, int exchanges);
void measurePtyFloor(Table &table, int roundTrips);
void measureIdle(Table &table, int seconds);
// "Status Read" exchanges through ser2net (raw TCP and RFC 2217) beside the
// bare pty: the median exchange, and CPU with a network port open and idle.
void measureNetwork(Table &table, int exchanges, int idleSeconds);
void measureSilentUnit(Table &table);
void measureCloseOnSilentUnit(Table &table);
void measureDownload(Table &table, size_t bytes, bool paced);
// The capture's cost: rates in this process, system calls of `valdor`
// (the program at `valdor`) under strace.
void measureCapture(Table &table, const std::string &valdor);
// The monitor's relay (`valdor --monitor --relay`, the program at
// `valdor`) against a direct pty: latency added to a burst.
void measureRelay(Table &table, const std::string &valdor, int bursts);
// Returns false when the window cannot be built here (no Qt in this build).
bool measureAppend(Table &table, int argc, char **argv);
// The repeat mode in the window against headless, hand-overs per exchange,
// and AppendMessage from the worker with the box full.  False without Qt.
bool measureWindow(Table &table, int exchanges, int argc, char **argv);
// valdor --run on 16 simulated units paced at 9600 baud: wall time against
// the units alone, the run's own CPU, memory per unit.
void measureProduction(Table &table);
// Resident memory as the message box fills and keeps filling.
void measureMemoryHeadless(Table &table);
bool measureMemoryWindow(Table &table, int argc, char **argv);

}  // namespace bench
