// A production run of 16 units against 16 simulated units paced at 9600
// baud: the run's wall time against the slowest of the same units run
// alone, the run's own process's CPU while its units wait on the line, and
// the memory each unit's process takes.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "measure.h"
#include "support/files.h"

extern char **environ;

namespace bench {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kUnits = 16;
constexpr int kTogetherRounds = 3;

// A status read, a bill count and the device information.
const char kRecipe[] =
    "select 1137 \"COM1\"\n"
    "press \"COM Open\"\n"
    "wait message \"COM OPEN Completed.\"\n"
    "step \"status\"\n"
    "press \"Status Read\"\n"
    "wait message \"Receive Normal End\"\n"
    "expect 1201 == \"0000\"\n"
    "step \"bill count\"\n"
    "check 1240 on\n"
    "select 1118 \"12\"\n"
    "press \"Bill Count\"\n"
    "wait message \"Receive Normal End\"\n"
    "expect 1208 == \"12\"\n"
    "step \"device information\"\n"
    "press \"Device Information\"\n"
    "wait message \"Receive Normal End\"\n"
    "serial 1604 1605\n"
    "teardown\n"
    "press \"COM Close\"\n";

std::string slurp(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// CPU time of one thread in seconds, to the nanosecond; the run's process
// has only its main thread.
double threadCpu(pid_t pid) {
    std::istringstream in(slurp("/proc/" + std::to_string(pid) + "/schedstat"));
    double ns = -1;
    in >> ns;
    return ns / 1e9;
}

std::vector<pid_t> childrenOf(pid_t pid) {
    std::istringstream in(slurp("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children"));
    std::vector<pid_t> children;
    for (pid_t child; in >> child;) children.push_back(child);
    return children;
}

// "Pss:" or "Rss:" of a process, in KiB (0 once it has gone).
double memoryKiB(pid_t pid, const std::string &field) {
    std::istringstream in(slurp("/proc/" + std::to_string(pid) + "/smaps_rollup"));
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0) return std::stod(line.substr(field.size()));
    return 0;
}

struct RunFigures {
    double wall = 0;
    double parentCpu = 0;     // seconds, from all units started to the end
    double parentWindow = 0;  // seconds that CPU was counted over
    double pssKiB = 0, rssKiB = 0;  // a unit's highest, averaged over the units
};

// valdor --run on `units` (NAME=PORT words), its output dropped.  With
// `memory`, the units' memory is read as often as it can be, which costs
// this process the CPU the timing needs: a round of its own.
RunFigures runOnce(const std::string &recipe, const std::vector<std::string> &units, const std::string &out,
                   bool memory = false) {
    std::vector<std::string> args{VALDOR_PATH, "--run", recipe, "--out", out};
    for (const auto &u : units) args.insert(args.end(), {"--unit", u});
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    RunFigures f;
    const auto start = Clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start valdor --run");
    posix_spawn_file_actions_destroy(&actions);

    std::optional<std::pair<Clock::time_point, double>> first;
    std::pair<Clock::time_point, double> last{};
    std::map<pid_t, std::pair<double, double>> peaks;  // PSS, RSS
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        const auto children = childrenOf(pid);
        const double cpu = threadCpu(pid);
        if (children.size() == units.size() && cpu >= 0) {
            if (!first) first = {Clock::now(), cpu};
            last = {Clock::now(), cpu};
        }
        for (pid_t child : memory ? children : std::vector<pid_t>{}) {
            auto &[pss, rss] = peaks[child];
            pss = std::max(pss, memoryKiB(child, "Pss:"));
            rss = std::max(rss, memoryKiB(child, "Rss:"));
        }
        std::this_thread::sleep_for(memory ? 5ms : 25ms);
    }
    for (const auto &[child, peak] : peaks) {
        f.pssKiB += peak.first / static_cast<double>(peaks.size());
        f.rssKiB += peak.second / static_cast<double>(peaks.size());
    }
    f.wall = std::chrono::duration<double>(Clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("valdor --run did not pass every unit (see " + out + ")");
    if (first) {
        f.parentCpu = last.second - first->second;
        f.parentWindow = std::chrono::duration<double>(last.first - first->first).count();
    }
    return f;
}

}  // namespace

void measureProduction(Table &table) {
    std::vector<std::unique_ptr<testsupport::Bdusim>> sims;
    std::vector<std::string> units;
    for (int i = 1; i <= kUnits; ++i) {
        sims.push_back(std::make_unique<testsupport::Bdusim>(std::vector<std::string>{"--baud", "9600"}));
        units.push_back("u" + std::to_string(i) + "=" + sims.back()->path());
    }
    testsupport::TempDir work;
    const std::string recipe = work.file("recipe.vds");
    std::ofstream(recipe) << kRecipe;

    double slowestAlone = 0;
    for (int i = 0; i < kUnits; ++i)
        slowestAlone = std::max(slowestAlone, runOnce(recipe, {units[i]}, work.file("alone-" + std::to_string(i))).wall);

    std::vector<double> walls;
    double cpu = 0, window = 0;
    for (int round = 0; round < kTogetherRounds; ++round) {
        const RunFigures f = runOnce(recipe, units, work.file("together-" + std::to_string(round)));
        walls.push_back(f.wall);
        cpu += f.parentCpu;
        window += f.parentWindow;
    }
    const RunFigures memory = runOnce(recipe, units, work.file("memory"), true);
    const double together = median(walls);
    const double ratio = together / slowestAlone;
    const double share = window > 0 ? 100 * cpu / window : 0;
    table.add({"production run, 16 units at 9600 baud: wall time (median of 3)", format("%.2f s", together), "", ""});
    table.add({"the slowest of the same units run alone", format("%.2f s", slowestAlone), "", ""});
    table.add({"run / slowest alone", format("%.3f", ratio), "<= 1.15", ratio <= 1.15 ? "met" : "MISSED"});
    table.add({"the run's own process: CPU while its units work (" + format("%.1f s", window) + ")",
               format("%.3f %% of a core", share), "< 1 %", share < 1 ? "met" : "MISSED"});
    table.add({"a unit's process: proportional memory (PSS), its peak, mean of 16", format("%.1f MiB", memory.pssKiB / 1024),
               "", ""});
    table.add({"a unit's process: resident memory (RSS), its peak, mean of 16", format("%.1f MiB", memory.rssKiB / 1024),
               "", ""});
}

}  // namespace bench
