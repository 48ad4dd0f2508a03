// The line capture's cost.  Off, it must cost nothing: no system call an
// exchange beyond those of a process that never captured (counted with
// strace -c over `valdor --script`), and the same exchange rate; on, at
// most 10 % of the rate.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "measure.h"
#include "rslink/rslink.h"
#include "valdor/panel/controls.h"

namespace bench {

namespace {

namespace ctl = valdor::ctl;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kRounds = 5;
constexpr int kExchangesPerRound = 1000;

// Exchanges per second of the repeat mode, over `exchanges` exchanges.
double rate(Session &session, int exchanges) {
    auto &worker = session.console().worker();
    const uint64_t start = worker.framesHandled();
    const auto deadline = Clock::now() + 600s;
    Stopwatch watch;
    while (worker.framesHandled() < start + static_cast<uint64_t>(exchanges)) {
        if (Clock::now() > deadline) throw std::runtime_error("the repeat mode stopped");
        std::this_thread::sleep_for(2ms);
    }
    watch.stop();
    return static_cast<double>(worker.framesHandled() - start) / watch.wall();
}

struct Calls {
    long total = 0;
    long writes = 0;  // write(2): the only call a capture could add per record
};

// System calls of a whole `valdor --script` run of `exchanges` status reads
// in the repeat mode, as strace -c -f counts them.
Calls systemCalls(const std::string &valdor, const fs::path &work, const std::string &unitPath,
                 const std::string &options, const std::string &prelude, int exchanges) {
    const fs::path script = work / "capture-bench.vds";
    std::ofstream(script) << "select 1137 \"COM1\"\npress \"COM Open\"\nwait message \"COM OPEN Completed.\"\n"
                          << prelude << "check 1241 off\ncheck 1242 on\npress \"Status Read\"\n"
                          << "wait responses " << exchanges << " 120\ncheck 1242 off\nwait responses 1 10\n";
    const fs::path counts = work / "strace.txt";
    const std::string command = "cd '" + work.string() + "' && RSLINK_COM1='" + unitPath +
                                "' strace -f -c -o '" + counts.string() + "' '" + valdor + "' " + options +
                                " --script '" + script.string() + "' > /dev/null 2>&1";
    const int status = std::system(command.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("strace of valdor --script failed (is strace installed?)");
    // Rows: % time, seconds, usecs/call, calls, [errors], name.
    std::ifstream in(counts);
    Calls calls;
    bool total = false;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string w; fields >> w;) f.push_back(w);
        if (f.size() < 5 || f[0].find('.') == std::string::npos) continue;
        const long n = std::atol(f[3].c_str());
        if (f.back() == "total") {
            calls.total = n;
            total = true;
        } else if (f.back() == "write") {
            calls.writes = n;
        }
    }
    if (!total) throw std::runtime_error("no total in strace's summary");
    return calls;
}

struct PerExchange {
    double total, writes;
};

// System calls an exchange costs: two runs of different lengths, so that
// start and end cancel out.
PerExchange callsPerExchange(const std::string &valdor, const fs::path &work, const std::string &unitPath,
                             const std::string &options, const std::string &prelude) {
    constexpr int kShort = 200, kLong = 600;
    const Calls a = systemCalls(valdor, work, unitPath, options, prelude, kShort);
    const Calls b = systemCalls(valdor, work, unitPath, options, prelude, kLong);
    return {static_cast<double>(b.total - a.total) / (kLong - kShort),
            static_cast<double>(b.writes - a.writes) / (kLong - kShort)};
}

}  // namespace

void measureCapture(Table &table, const std::string &valdor) {
    const fs::path work = fs::temp_directory_path() / ("valdor-bench-capture-" + std::to_string(getpid()));
    fs::create_directories(work);
    {
        Session session({}, false);
        session.panel().setChecked(ctl::ContinuousMode, true);
        session.console().press(ctl::StatusRead);
        rate(session, 200);  // warm up
        std::vector<double> never, off, on;
        for (int i = 0; i < kRounds; ++i) never.push_back(rate(session, kExchangesPerRound));
        const std::string file = (work / "bench.rslcap").string();
        for (int i = 0; i < kRounds; ++i) {
            if (RSCapture(file.c_str()) != RS_OK) throw std::runtime_error("cannot create " + file);
            on.push_back(rate(session, kExchangesPerRound));
            RSCapture(nullptr);
            off.push_back(rate(session, kExchangesPerRound));
        }
        session.panel().setChecked(ctl::ContinuousMode, false);
        const double n = median(never), f = median(off), o = median(on);
        table.add({"exchanges per second, capture never started (median of 5)", format("%.0f /s", n), "", ""});
        table.add({"capture off after use: rate / never started", format("%.3f", f / n), ">= 0.97",
                   f / n >= 0.97 ? "met" : "MISSED"});
        table.add({"capture on: rate / never started", format("%.3f", o / n), ">= 0.90",
                   o / n >= 0.90 ? "met" : "MISSED"});
    }
    testsupport::Bdusim unit;
    const PerExchange never = callsPerExchange(valdor, work, unit.path(), "", "");
    const PerExchange off =
        callsPerExchange(valdor, work, unit.path(), "", "capture \"off.rslcap\"\ncapture off\n");
    const PerExchange on = callsPerExchange(valdor, work, unit.path(), "--capture on.rslcap", "");
    // The total varies from run to run with how often the threads find the
    // line empty; write(2) is exact, and the only call a record could cost.
    table.add({"system calls per exchange, capture never started (strace -c)", format("%.1f", never.total), "", ""});
    table.add({"system calls per exchange, capture off after use", format("%.1f", off.total), "", ""});
    table.add({"system calls per exchange, capture on", format("%.1f", on.total), "", ""});
    table.add({"write(2) per exchange, capture never started", format("%.2f", never.writes), "", ""});
    table.add({"write(2) per exchange, capture off after use", format("%.2f", off.writes),
               "= never started", off.writes <= never.writes + 0.05 ? "met" : "MISSED"});
    table.add({"write(2) per exchange, capture on", format("%.2f", on.writes), "= never started",
               on.writes <= never.writes + 0.05 ? "met" : "MISSED"});
    fs::remove_all(work);
}

}  // namespace bench
