#include "valdor/production/unit_process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "rslink/platform/fd_io.h"
#include "valdor/console/capture_control.h"
#include "valdor/headless/script_runner.h"
#include "valdor/panel/session_log.h"
#include "valdor/production/records.h"
#include "valdor/production/step_runner.h"
#include "valdor/production/unit_report.h"

namespace valdor {

namespace {

using Clock = std::chrono::steady_clock;

// The unit's `show` lines and warnings: into its session log, time-stamped
// like its message lines, a line at a time.
class LogStream {
public:
    LogStream() {
        cookie_io_functions_t io{};
        io.write = [](void *cookie, const char *data, size_t size) -> ssize_t {
            auto &partial = *static_cast<std::string *>(cookie);
            partial.append(data, size);
            for (size_t nl; (nl = partial.find('\n')) != std::string::npos; partial.erase(0, nl + 1))
                sessionLog().line(std::string_view(partial).substr(0, nl));
            return static_cast<ssize_t>(size);
        };
        file_ = fopencookie(&partial_, "w", io);
    }
    ~LogStream() {
        if (file_) std::fclose(file_);
    }
    LogStream(const LogStream &) = delete;
    LogStream &operator=(const LogStream &) = delete;
    std::FILE *file() const { return file_; }

private:
    std::string partial_;
    std::FILE *file_ = nullptr;
};

// Waits on the run's control pipe.  At an abort it breaks off the step
// running (a teardown under way goes on), and once the teardown's bound has
// passed it breaks that off too.
class AbortWatch {
public:
    // Without a wake pipe nothing is watched: the run kills a unit that
    // does not end after an abort.
    AbortWatch(int control, ScriptSession &session) : control_(control), session_(session) {
        if (::pipe2(wake_, O_CLOEXEC) == 0) thread_ = std::thread([this] { watch(); });
    }
    ~AbortWatch() {
        ended();
        if (thread_.joinable()) thread_.join();
        for (int fd : wake_)
            if (fd >= 0) ::close(fd);
    }
    AbortWatch(const AbortWatch &) = delete;
    AbortWatch &operator=(const AbortWatch &) = delete;

    std::optional<std::string> reason() const {
        std::lock_guard lock(mutex_);
        return reason_;
    }
    // For the teardown: the reason, once its bound has passed.
    std::optional<std::string> cut() const {
        std::lock_guard lock(mutex_);
        if (!cut_) return std::nullopt;
        return *reason_ + ": teardown cut off " + std::to_string(kAbortTeardownBound.count()) + " s after the abort";
    }
    // The teardown starts: it runs whole, unless its bound has passed.
    void teardownStarts() {
        std::lock_guard lock(mutex_);
        inTeardown_ = true;
        if (!cut_) session_.resume();
    }
    // Every step has ended: nothing more to break off.
    void ended() {
        std::lock_guard lock(mutex_);
        if (ended_) return;
        ended_ = true;
        if (wake_[1] >= 0) (void)!::write(wake_[1], "", 1);
    }

private:
    // True when every step ended before the bound, false once it passed.
    bool endedWithin(std::chrono::milliseconds bound) {
        pollfd wake{wake_[0], POLLIN, 0};
        const auto until = Clock::now() + bound;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            const int n = ::poll(&wake, 1, static_cast<int>(std::max<long>(0, left.count())));
            if (n > 0) return true;
            if (n == 0) return false;
            if (errno != EINTR) return false;
        }
    }

    // The signal's name, written in one piece before the pipe's end; ""
    // when the pipe ended with nothing (the run has gone).
    std::string readReason() {
        char buf[32];
        ssize_t n;
        while ((n = ::read(control_, buf, sizeof buf)) < 0 && errno == EINTR) {
        }
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }

    void watch() {
        pollfd fds[2] = {{control_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
        }
        if (fds[0].revents == 0) return;  // every step has ended
        const std::string signal = readReason();
        {
            std::lock_guard lock(mutex_);
            if (ended_) return;
            reason_ = signal.empty() ? "aborted: the run has ended" : "aborted by " + signal;
            if (!inTeardown_) session_.interrupt();
        }
        if (endedWithin(kAbortTeardownBound)) return;
        std::lock_guard lock(mutex_);
        if (ended_) return;
        cut_ = true;
        session_.interrupt();
    }

    const int control_;
    ScriptSession &session_;
    int wake_[2] = {-1, -1};
    mutable std::mutex mutex_;
    std::optional<std::string> reason_;
    bool inTeardown_ = false;
    bool cut_ = false;
    bool ended_ = false;
    std::thread thread_;
};

// Tells the run of each step, and keeps the unit's steps.jsonl.  A run
// that has gone reads nothing more; the unit then ends as an abort makes it.
class Reporter {
public:
    Reporter(int fd, const std::string &steps) : fd_(fd), steps_(steps) {}
    const rslink::Result<> &stepsOpened() const { return steps_.opened(); }
    void begin(size_t index, const StepResult &step) { send({UnitEvent::Kind::Begin, index, step, ""}); }
    // The run hears of the step before its line is written: should this
    // process die in between, the run has the step and writes the line.
    void end(size_t index, const UnitResult &unit) {
        send({UnitEvent::Kind::End, index, unit.steps[index], unit.serial});
        if (const auto appended = steps_.append(unit, unit.steps[index]); !appended && !appendFailed_) {
            appendFailed_ = true;
            sessionLog().line(std::string("valdor: cannot append to steps.jsonl: ") +
                              std::strerror(appended.failure().error));
        }
    }
    // Every line is written by now.
    void done() { send({}); }

private:
    // A run that has gone reads nothing: its end is noticed as an abort.
    void send(const UnitEvent &event) {
        const std::string line = encodeUnitEvent(event);
        (void)rslink::platform::writeAll(fd_, line.data(), line.size());
    }

    int fd_;
    StepsFile steps_;
    bool appendFailed_ = false;
};

// The unit's process takes no signal from the terminal: the run tells it
// to abort, so that every unit ends its step and runs its teardown.
void takeSignals() {
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(s, SIG_IGN);
    std::signal(SIGCHLD, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

// The unit's steps.jsonl, session log and capture.
rslink::Result<> openRecords(const std::string &folder, const Reporter &reporter) {
    if (const auto &opened = reporter.stepsOpened(); !opened)
        return rslink::Failure::of(opened.failure().error, "cannot create " + folder + "/steps.jsonl");
    const std::string log = folder + "/session.log";
    if (const auto logged = sessionLog().open(log); !logged)
        return rslink::Failure::of(logged.failure().error, "cannot open the session log " + log);
    return startCapture(folder + "/line.rslcap");
}

}  // namespace

int runUnit(const UnitJob &job, int report, int control) {
    takeSignals();
    // COM1 is the unit's port; a capture of the whole program's line
    // would take every unit's bytes into one file.
    ::setenv("RSLINK_COM1", job.device.c_str(), 1);
    ::unsetenv("RSLINK_CAPTURE");
    Reporter reporter(report, job.folder + "/steps.jsonl");
    const rslink::Result<> setup = openRecords(job.folder, reporter);

    const Recipe &recipe = *job.recipe;
    UnitResult unit = plannedUnit(job.name, job.port, recipe);
    {
        LogStream log;
        ScriptSessionOptions options;
        options.printMessages = false;  // the session log has them
        options.lineFailureEndsWait = true;
        ScriptSession session(log.file(), log.file(), options);
        AbortWatch watch(control, session);
        const AbortReason aborted = [&] { return watch.reason(); };
        const AbortReason cut = [&] { return watch.cut(); };

        bool setupReported = setup.ok();  // the first step that runs fails with it
        for (size_t i = 0; i < unit.steps.size(); ++i) {
            StepResult &step = unit.steps[i];
            const bool teardown = unit.hasTeardown && i + 1 == unit.steps.size();
            if (teardown) watch.teardownStarts();
            if (!stepRuns(unit, i)) {
                step.start = std::chrono::system_clock::now();
                reporter.end(i, unit);
                continue;
            }
            step.begin(std::chrono::system_clock::now());
            reporter.begin(i, step);
            Outcome outcome = Outcome::Aborted;
            auto why = teardown ? cut() : aborted();
            if (!why && !setupReported && !teardown) {
                why = setup.failure().why;
                outcome = Outcome::Error;
                setupReported = true;
            }
            if (why) {
                step.stop(outcome, *why);
            } else {
                runStep(session, teardown ? *recipe.teardown : recipe.steps[i], unit, step, teardown ? cut : aborted);
            }
            reporter.end(i, unit);
        }
        watch.ended();
        reporter.done();
        // The port closes here; a close that hangs holds up this unit only.
        session.finish();
    }
    stopCapture();
    sessionLog().close();
    return 0;
}

}  // namespace valdor
