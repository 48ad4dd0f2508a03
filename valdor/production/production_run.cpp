#include "valdor/production/production_run.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "rslink/platform/fd_io.h"
#include "valdor/production/records.h"
#include "valdor/production/run_plan.h"
#include "valdor/production/run_view.h"
#include "valdor/production/unit_port.h"
#include "valdor/production/unit_process.h"
#include "valdor/production/unit_report.h"

#ifndef VALDOR_VERSION
#define VALDOR_VERSION "unknown"
#endif

namespace valdor {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A unit that has reported every step has this long to close its port
// and end before it is killed; its records are complete by then.
constexpr auto kEndAfterDone = 5s;
// After an abort, a unit still running this long (its teardown's bound
// and a second to close its port) is killed, so that the run ends within
// seven seconds.
constexpr auto kKillAfterAbort = kAbortTeardownBound + 1s;
// A killed process that does not go (a close stuck in the kernel) is left
// behind after this long.
constexpr auto kLeaveAfterKill = 500ms;

std::string signalName(int signal) {
    const char *abbreviation = sigabbrev_np(signal);
    return abbreviation ? std::string("SIG") + abbreviation : "signal " + std::to_string(signal);
}

std::string timeoutText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

struct Unit {
    UnitResult result;
    std::string folder;
    pid_t pid = -1;
    int report = -1;   // read end; -1 after its end
    int control = -1;  // write end; closing it tells the unit to abort
    std::string recordError;  // a failure to complete its steps.jsonl
    std::string partial;      // of the report's last line

    Clock::time_point started, endedAt;
    std::optional<size_t> current;  // begun, not yet ended
    Clock::time_point currentSince;
    size_t reported = 0;  // steps ended so far, in order
    bool done = false;    // every step reported
    Clock::time_point doneAt;
    bool reaped = false;
    int status = 0;
    std::optional<Clock::time_point> killedAt;
    std::optional<Outcome> killedAs;  // none: killed with its records complete
    std::string killedWhy;
    bool over = false;

    bool running() const { return !over; }
};

class ProductionRun {
public:
    ProductionRun(RunPlan plan, std::string dir, RunView &view)
        : plan_(std::move(plan)), dir_(std::move(dir)), view_(view) {}

    // Makes the units' folders and records.
    rslink::Result<> prepare() {
        if (auto written = replaceFile(dir_ + "/recipe.vds", plan_.recipeText); !written) return written;
        for (const auto &entry : plan_.units) {
            Unit unit;
            unit.result = plannedUnit(entry.name, entry.port, plan_.recipe);
            unit.folder = dir_ + "/" + entry.name;
            if (::mkdir(unit.folder.c_str(), 0777) != 0) return rslink::Failure::ofErrno("cannot create " + unit.folder);
            units_.push_back(std::move(unit));
        }
        return {};
    }

    // Starts every unit, watches them to their ends and writes the
    // summary.  The exit status.
    int run() {
        if (const auto started = startUnits(); !started) {
            std::fprintf(stderr, "valdor: %s\n", started.failure().why.c_str());
            return kRunRefused;
        }
        watch();
        return collect();
    }

private:
    // Every unit's process is forked here, before this process starts any
    // thread, with the signals it watches blocked so that none is lost.
    rslink::Result<> startUnits() {
        sigset_t watched;
        sigemptyset(&watched);
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&watched, s);
        sigprocmask(SIG_BLOCK, &watched, nullptr);
        std::signal(SIGPIPE, SIG_IGN);
        signals_ = ::signalfd(-1, &watched, SFD_NONBLOCK | SFD_CLOEXEC);
        if (signals_ < 0) return rslink::Failure::ofErrno("cannot watch signals");
        started_ = Clock::now();
        for (auto &unit : units_) {
            if (auto started = startUnit(unit); !started) {
                for (auto &u : units_)
                    if (u.pid > 0) ::kill(u.pid, SIGKILL);
                return started;
            }
        }
        return {};
    }

    // The failure is taken before the clean-up, which may change errno.
    rslink::Result<> startUnit(Unit &unit) {
        const std::string what = "cannot start unit " + unit.result.name;
        int report[2], control[2];
        if (::pipe2(report, O_CLOEXEC) != 0) return rslink::Failure::ofErrno(what);
        if (::pipe2(control, O_CLOEXEC) != 0) {
            const auto failure = rslink::Failure::ofErrno(what);
            ::close(report[0]);
            ::close(report[1]);
            return failure;
        }
        UnitJob job{&plan_.recipe, unit.result.name, unit.result.port, unitDevice(unit.result.port), unit.folder};
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) std::exit(unitProcess(job, report[1], control[0]));
        const std::optional<rslink::Failure> forkFailed =
            pid < 0 ? std::optional(rslink::Failure::ofErrno(what)) : std::nullopt;
        ::close(report[1]);
        ::close(control[0]);
        if (forkFailed) {
            ::close(report[0]);
            ::close(control[1]);
            return *forkFailed;
        }
        unit.pid = pid;
        unit.report = report[0];
        unit.control = control[1];
        unit.started = Clock::now();
        ::fcntl(unit.report, F_SETFL, O_NONBLOCK);
        return {};
    }

    // In the child: nothing of the run but its own two pipes, no terminal
    // input, and standard output kept off the operator's view.
    static int unitProcess(const UnitJob &job, int report, int control) {
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
        }
        const int r = ::fcntl(report, F_DUPFD, 10), c = ::fcntl(control, F_DUPFD, 10);
        if (r < 0 || c < 0 || ::dup2(r, 3) != 3 || ::dup2(c, 4) != 4) return 1;
        // Another unit's control pipe held open here would hide its end
        // from that unit.
        if (::close_range(5, ~0U, 0) != 0) {
            rlimit files{};
            ::getrlimit(RLIMIT_NOFILE, &files);
            for (rlim_t fd = 5; fd < std::min<rlim_t>(files.rlim_cur, 65536); ++fd) ::close(static_cast<int>(fd));
        }
        return runUnit(job, 3, 4);
    }

    void watch() {
        while (std::any_of(units_.begin(), units_.end(), [](const Unit &u) { return u.running(); })) {
            std::vector<pollfd> fds{{signals_, POLLIN, 0}};
            std::vector<Unit *> readers;
            for (auto &unit : units_)
                if (unit.report >= 0) {
                    fds.push_back({unit.report, POLLIN, 0});
                    readers.push_back(&unit);
                }
            const auto now = Clock::now();
            const auto wake = std::min(nextDeadline(), view_.refresh(rows(), now));
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
            const int timeout = wake == Clock::time_point::max() ? -1 : static_cast<int>(std::clamp<long>(wait, 0, 60000));
            if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
            if (fds[0].revents != 0) takeSignals();
            for (size_t i = 1; i < fds.size(); ++i)
                if (fds[i].revents != 0) readReport(*readers[i - 1]);
            keepTime(Clock::now());
        }
    }

    // ---- what the units say ------------------------------------------------

    void readReport(Unit &unit) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(unit.report, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) return;
            if (n <= 0) {
                // Its end: the process has ended or is ending.
                ::close(unit.report);
                unit.report = -1;
                return;
            }
            unit.partial.append(buffer, static_cast<size_t>(n));
            for (size_t nl; (nl = unit.partial.find('\n')) != std::string::npos; unit.partial.erase(0, nl + 1))
                if (auto event = decodeUnitEvent(std::string_view(unit.partial).substr(0, nl))) take(unit, *event);
        }
    }

    void take(Unit &unit, const UnitEvent &event) {
        auto &steps = unit.result.steps;
        if (event.kind == UnitEvent::Kind::Done) {
            unit.done = true;
            unit.doneAt = Clock::now();
            unit.current.reset();
            return;
        }
        if (event.index >= steps.size() || event.index < unit.reported) return;
        if (event.kind == UnitEvent::Kind::Begin) {
            unit.current = event.index;
            unit.currentSince = Clock::now();
            steps[event.index].start = event.step.start;
            return;
        }
        StepResult step = event.step;
        step.name = steps[event.index].name;
        unit.result.serial = event.serial;
        ended(unit, event.index, std::move(step));
    }

    // A step's end, from the unit (which has its line in steps.jsonl) or
    // closed here: kept and shown.
    void ended(Unit &unit, size_t index, StepResult step) {
        unit.result.steps[index] = std::move(step);
        unit.reported = index + 1;
        if (unit.current && *unit.current <= index) unit.current.reset();
        view_.stepEnded(unit.result, unit.result.steps[index]);
    }

    // ---- signals, time-outs and ends -----------------------------------------

    void takeSignals() {
        signalfd_siginfo info;
        while (::read(signals_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            if (info.ssi_signo == SIGCHLD) {
                reap();
            } else if (!abortedBy_) {
                abort(signalName(static_cast<int>(info.ssi_signo)));
            }
        }
    }

    void reap() {
        int status = 0;
        for (pid_t pid; (pid = ::waitpid(-1, &status, WNOHANG)) > 0;)
            for (auto &unit : units_)
                if (unit.pid == pid) {
                    unit.reaped = true;
                    unit.status = status;
                }
    }

    // Every unit ends its step, runs its teardown within its bound and
    // closes its port; the name of the signal tells it why.
    void abort(std::string signal) {
        abortedBy_ = std::move(signal);
        abortedAt_ = Clock::now();
        for (auto &unit : units_) tellAbort(unit);
    }

    void tellAbort(Unit &unit) {
        if (unit.control < 0) return;
        // A unit that no longer reads has ended; closing the pipe tells the
        // others even when the name did not get through.
        (void)rslink::platform::writeAll(unit.control, abortedBy_->data(), abortedBy_->size());
        ::close(unit.control);
        unit.control = -1;
    }

    void kill(Unit &unit, std::optional<Outcome> as, std::string why, Clock::time_point now) {
        if (unit.killedAt) return;
        ::kill(unit.pid, SIGKILL);
        unit.killedAt = now;
        unit.killedAs = as;
        unit.killedWhy = std::move(why);
    }

    Clock::time_point nextDeadline() const {
        auto next = Clock::time_point::max();
        for (const auto &unit : units_) {
            if (unit.over) continue;
            if (unit.killedAt) next = std::min(next, *unit.killedAt + kLeaveAfterKill);
            else if (unit.done) next = std::min(next, unit.doneAt + kEndAfterDone);
            else next = std::min(next, unit.started + timeout());
            if (abortedBy_ && !unit.killedAt) next = std::min(next, abortedAt_ + kKillAfterAbort);
        }
        return next;
    }

    Clock::duration timeout() const {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(plan_.unitTimeout));
    }

    void keepTime(Clock::time_point now) {
        for (auto &unit : units_) {
            if (unit.over) continue;
            if (unit.done && now >= unit.doneAt + kEndAfterDone) kill(unit, std::nullopt, "", now);
            if (!unit.done && now >= unit.started + timeout())
                kill(unit, Outcome::Timeout, "the unit ran past its time-out of " + timeoutText(plan_.unitTimeout) + " s",
                     now);
            if (abortedBy_ && now >= abortedAt_ + kKillAfterAbort)
                kill(unit, Outcome::Aborted,
                     "aborted by " + *abortedBy_ + ": the unit did not end within " +
                         std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kKillAfterAbort).count()) +
                         " s",
                     now);
            if ((unit.reaped && unit.report < 0) || (unit.killedAt && now >= *unit.killedAt + kLeaveAfterKill))
                over(unit, now);
        }
    }

    // The unit has ended: the steps it did not report are closed here, and
    // its steps.jsonl gets the lines it could not write.
    void over(Unit &unit, Clock::time_point now) {
        unit.over = true;
        unit.endedAt = now;
        if (unit.control >= 0) ::close(unit.control);
        if (unit.report >= 0) ::close(unit.report);
        unit.control = unit.report = -1;
        if (!unit.done)
            closeSteps(unit, unit.killedAs.value_or(Outcome::Error), unit.killedAt ? unit.killedWhy : diedWhy(unit.status),
                       now);
        const std::string steps = unit.folder + "/steps.jsonl";
        if (const auto completed = completeStepsFile(steps, unit.result); !completed)
            unit.recordError = "cannot complete " + steps + ": " + std::strerror(completed.failure().error);
    }

    static std::string diedWhy(int status) {
        if (WIFSIGNALED(status)) return "the unit's process died (" + signalName(WTERMSIG(status)) + ")";
        return "the unit's process died (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
    }

    // The step that was running, or would have run next, ends with
    // `outcome`; the rest are SKIPPED (no teardown without a process).
    void closeSteps(Unit &unit, Outcome outcome, const std::string &why, Clock::time_point now) {
        bool closedOne = false;
        for (size_t i = unit.reported; i < unit.result.steps.size(); ++i) {
            StepResult step;
            step.name = unit.result.steps[i].name;
            step.start = std::chrono::system_clock::now();
            if (!closedOne && (unit.current == i || stepRuns(unit.result, i))) {
                closedOne = true;
                if (unit.current == i) {
                    step.start = unit.result.steps[i].start;
                    step.seconds = std::chrono::duration<double>(now - unit.currentSince).count();
                }
                step.outcome = outcome;
                step.message = why;
            }
            ended(unit, i, std::move(step));
        }
    }

    // ---- the end -------------------------------------------------------------------

    std::vector<UnitRow> rows() const {
        const auto now = Clock::now();
        std::vector<UnitRow> rows;
        for (const auto &unit : units_)
            rows.push_back({&unit.result, unit.current,
                            std::chrono::duration<double>((unit.over ? unit.endedAt : now) - unit.started).count(),
                            unit.over});
        return rows;
    }

    int collect() {
        RunResult run;
        run.info = {plan_.station, plan_.recipeSha256, VALDOR_VERSION,
                    std::chrono::duration<double>(Clock::now() - started_).count()};
        for (const auto &unit : units_) run.units.push_back(unit.result);
        std::vector<std::string> errors;
        for (const auto &unit : units_)
            if (!unit.recordError.empty()) errors.push_back(unit.recordError);
        const std::pair<std::string, std::string> records[] = {{"summary.csv", summaryCsv(run)},
                                                                {"junit.xml", junitXml(run)}};
        for (const auto &[name, text] : records)
            if (const auto written = replaceFile(dir_ + "/" + name, text); !written)
                errors.push_back(written.failure().why);
        view_.finish(rows(), run.units, dir_);
        for (const auto &error : errors) std::fprintf(stderr, "valdor: %s\n", error.c_str());
        if (abortedBy_ || !errors.empty()) return kRunNotAllPassed;
        return runExitStatus(run.units);
    }

    RunPlan plan_;
    std::string dir_;
    RunView &view_;
    std::vector<Unit> units_;
    int signals_ = -1;
    Clock::time_point started_;
    std::optional<std::string> abortedBy_;
    Clock::time_point abortedAt_;
};

size_t terminalWidth() {
    if (!::isatty(STDOUT_FILENO)) return 0;
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col < 20) return 80;
    return size.ws_col;
}

}  // namespace

int runProduction(const std::vector<std::string> &words) {
    RunPlan plan;
    const PlanResult planned = planRun(words, plan);
    if (planned.kind == PlanResult::Kind::NothingToRetest) {
        for (const auto &line : planned.lines) std::printf("%s\n", line.c_str());
        return kRunAllPassed;
    }
    if (planned.kind == PlanResult::Kind::Refused) {
        for (const auto &line : planned.lines) std::fprintf(stderr, "%s\n", line.c_str());
        return kRunRefused;
    }
    const auto dir = createRunFolder(plan, std::chrono::system_clock::now());
    if (!dir) {
        std::fprintf(stderr, "valdor: %s\n", dir.failure().why.c_str());
        return kRunRefused;
    }
    RunView view(stdout, terminalWidth());
    ProductionRun run(std::move(plan), *dir, view);
    if (const auto prepared = run.prepare(); !prepared) {
        std::fprintf(stderr, "valdor: %s\n", prepared.failure().why.c_str());
        return kRunRefused;
    }
    return run.run();
}

}  // namespace valdor
