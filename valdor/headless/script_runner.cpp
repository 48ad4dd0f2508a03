#include "valdor/headless/script_runner.h"

#include <chrono>
#include <cerrno>
#include <csignal>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "valdor/panel/buttons.h"
#include "valdor/console/capture_control.h"
#include "valdor/console/console.h"
#include "valdor/engine/send_thread.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/host.h"
#include "valdor/panel/memory_panel.h"
#include "valdor/panel/message_limit.h"
#include "valdor/panel/show_lines.h"

namespace valdor {

namespace {

using Clock = std::chrono::steady_clock;

// Lines go out whole and in order, whichever thread appended them.  Once
// standard output fails (the reader of a pipe has gone) nothing more is
// written there, and the script ends.
class Output {
public:
    Output(std::FILE *out, std::FILE *err) : out_(out), err_(err) {}
    // False once standard output has failed.
    bool line(const std::string &text) {
        std::lock_guard lock(mutex_);
        if (outError_ == 0 && !write(out_, text)) outError_ = errno != 0 ? errno : EIO;
        return outError_ == 0;
    }
    void error(const std::string &text) {
        std::lock_guard lock(mutex_);
        write(err_, text);
    }
    // The reader went away while nothing was being written: the next line
    // would fail with `error`, so none is written.
    void readerGone(int error) {
        std::lock_guard lock(mutex_);
        if (outError_ == 0) outError_ = error;
    }
    std::FILE *stdoutFile() const { return out_; }
    // The error number standard output failed with, or 0.
    int outError() const {
        std::lock_guard lock(mutex_);
        return outError_;
    }

private:
    static bool write(std::FILE *f, const std::string &text) {
        errno = 0;
        bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
        ok = std::fputc('\n', f) != EOF && ok;
        return std::fflush(f) == 0 && ok;
    }
    mutable std::mutex mutex_;
    std::FILE *out_;
    std::FILE *err_;
    int outError_ = 0;
};

// `from` plus `seconds`, or the end of time when the clock cannot count that
// far: a very long wait waits, it does not wrap round into the past.
Clock::time_point later(Clock::time_point from, double seconds) {
    const double room = std::chrono::duration<double>(Clock::time_point::max() - from).count();
    // Half the room leaves a margin for the rounding of the conversion.
    if (!(seconds < room / 2)) return Clock::time_point::max();
    return from + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// How a wait ended.
enum class WaitEnd { Met, TimedOut, OutputClosed, Interrupted, LineFailed };

// What the waits count: frames handled and lines appended since the end of
// the previous wait.  Only what a later wait can still use is kept: while a
// wait runs, each new line is checked once on arrival and not stored; between
// waits the lines are held for the next `wait message`, as many as the
// message box would hold.  Every wait also ends when standard output closes,
// when interrupted, and (when asked) when the line fails.
class Events {
public:
    explicit Events(bool lineFailureEndsWait) : lineFailureEndsWait_(lineFailureEndsWait) {}

    void line(const std::string &text) {
        std::lock_guard lock(mutex_);
        lastLine_ = Clock::now();
        if (lineFailureEndsWait_ && !lineFailure_ && (text == kSendFailedLine || text == kApiErrorLine))
            lineFailure_ = text;
        if (target_) {
            matched_ = matched_ || text == *target_;
        } else if (!waiting_) {
            for (size_t drop = budget_.add(text); drop > 0; --drop) pending_.pop_front();
            pending_.push_back(text);
        }
        changed_.notify_all();
    }
    void frame() {
        std::lock_guard lock(mutex_);
        ++frames_;
        changed_.notify_all();
    }
    void outputClosed() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }
    void interrupt(bool on) {
        std::lock_guard lock(mutex_);
        interrupted_ = on;
        changed_.notify_all();
    }
    // Starts counting anew: what came before is forgotten.
    void mark() {
        std::lock_guard lock(mutex_);
        frames_ = 0;
        lineFailure_.reset();
        forgetPending();
    }
    // The line that said the line failed, since the previous wait.
    std::string lineFailure() const {
        std::lock_guard lock(mutex_);
        return lineFailure_.value_or("");
    }
    WaitEnd waitFrames(uint64_t n, Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        Waiting during(*this);
        changed_.wait_until(lock, deadline, [&] { return cutShort() || frames_ >= n; });
        if (closed_) return WaitEnd::OutputClosed;
        return frames_ >= n ? WaitEnd::Met : end();
    }
    WaitEnd waitLine(const std::string &text, Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        matched_ = false;
        for (const auto &held : pending_) matched_ = matched_ || held == text;
        Waiting during(*this);
        target_ = text;
        changed_.wait_until(lock, deadline, [&] { return cutShort() || matched_; });
        target_.reset();
        if (matched_) return WaitEnd::Met;
        return closed_ ? WaitEnd::OutputClosed : end();
    }
    // Until no line has come for `quiet` seconds, counted from the later of
    // now and the last line.  Only an interruption makes it fail.
    WaitEnd waitIdle(double quiet) {
        std::unique_lock lock(mutex_);
        Waiting during(*this);
        Clock::time_point from = std::max(Clock::now(), lastLine_);
        while (!closed_ && !interrupted_) {
            Clock::time_point until = later(from, quiet);
            changed_.wait_until(lock, until, [&] { return closed_ || interrupted_ || lastLine_ > from; });
            if (lastLine_ <= from && Clock::now() >= until) return WaitEnd::Met;
            from = std::max(from, lastLine_);
        }
        return closed_ ? WaitEnd::OutputClosed : WaitEnd::Interrupted;
    }

private:
    // Whether a wait ends before what it waits for (the lock held).
    bool cutShort() const { return closed_ || interrupted_ || lineFailure_.has_value(); }
    // Why a wait that did not get what it waited for ended (the lock held).
    WaitEnd end() const {
        if (interrupted_) return WaitEnd::Interrupted;
        return lineFailure_ ? WaitEnd::LineFailed : WaitEnd::TimedOut;
    }

    // Marks a wait in progress (the lock held): lines that come during it
    // are not stored, since the wait's end forgets them anyway.
    struct Waiting {
        explicit Waiting(Events &events) : events(events) {
            events.waiting_ = true;
            events.forgetPending();
        }
        ~Waiting() { events.waiting_ = false; }
        Events &events;
    };
    void forgetPending() {
        pending_.clear();
        budget_.clear();
    }

    const bool lineFailureEndsWait_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t frames_ = 0;
    std::deque<std::string> pending_;  // lines since the previous wait
    MessageBoxBudget budget_;          // bounds pending_
    bool waiting_ = false;
    std::optional<std::string> target_;  // the text a `wait message` looks for
    bool matched_ = false;
    bool closed_ = false;
    bool interrupted_ = false;
    std::optional<std::string> lineFailure_;
    Clock::time_point lastLine_{};
};

// Notices the reader of standard output going away (a pipe's reader closing,
// a terminal hanging up) while the script waits in silence, so that a long
// wait with nobody left to read its outcome ends at once rather than at its
// end.  A file or /dev/null never reports either, and is simply never seen
// to close.
class ReaderWatch {
public:
    ReaderWatch(std::FILE *out, std::function<void()> gone) : gone_(std::move(gone)) {
        const int fd = out ? fileno(out) : -1;
        if (fd < 0 || ::pipe2(wake_, O_CLOEXEC) != 0) return;
        try {
            thread_ = std::thread([this, fd] { watch(fd); });
        } catch (const std::system_error &) {
            // Without the watch a closed output is still noticed at the next line.
        }
    }
    ~ReaderWatch() {
        if (thread_.joinable()) {
            const char one = 1;
            (void)!::write(wake_[1], &one, 1);
            thread_.join();
        }
        for (int fd : wake_)
            if (fd >= 0) ::close(fd);
    }
    ReaderWatch(const ReaderWatch &) = delete;
    ReaderWatch &operator=(const ReaderWatch &) = delete;

private:
    void watch(int fd) {
        // No events asked for: poll reports an error or a hang-up regardless.
        pollfd fds[2] = {{fd, 0, 0}, {wake_[0], POLLIN, 0}};
        for (;;) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents != 0 || (fds[0].revents & POLLNVAL)) return;
            if (fds[0].revents & (POLLERR | POLLHUP)) {
                gone_();
                return;
            }
        }
    }

    std::function<void()> gone_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

// File dialogs answered by `choose`; a dialog nobody answered is cancelled.
class ScriptHost : public Host {
public:
    ScriptHost(Output &output, const int &line) : output_(output), line_(line) {}

    void queueAnswer(std::optional<std::string> path) { answers_.push_back(std::move(path)); }

    std::optional<std::string> chooseFile(std::span<const FileFilter>, std::string_view) override {
        if (answers_.empty()) {
            output_.error("line " + std::to_string(line_) +
                          ": warning: a file dialog opened with no choose answer waiting: cancelled");
            return std::nullopt;
        }
        auto answer = std::move(answers_.front());
        answers_.pop_front();
        return answer;
    }
    void runBlocking(const std::function<void()> &call) override { call(); }
    void closeWindow() override {}

private:
    Output &output_;
    const int &line_;
    std::deque<std::optional<std::string>> answers_;
};

}  // namespace

class ScriptSession::Impl {
public:
    Impl(std::FILE *out, std::FILE *err, ScriptSessionOptions options)
        : output_(out, err), events_(options.lineFailureEndsWait), host_(output_, line_), console_(panel_, host_) {
        panel_.setMessageObserver([this, print = options.printMessages](const std::string &text) {
            if (print && !output_.line(text)) events_.outputClosed();
            {
                std::lock_guard lock(lastMessageMutex_);
                lastMessage_ = text;
            }
            events_.line(text);
        });
        console_.worker().setFrameObserver([this] { events_.frame(); });
        console_.initialise();
    }

    std::optional<ScriptFailure> execute(const ScriptStatement &statement) {
        line_ = statement.line;
        try {
            run(statement);
            // Nobody reads what follows: end as a failure would.
            if (int error = output_.outError())
                fail(kScriptError, std::string("standard output is closed (") + std::strerror(error) +
                                       "): the script ends");
        } catch (const ScriptFailure &failure) {
            return failure;
        }
        return std::nullopt;
    }

    void finish() {
        if (!finished_) console_.exit();
        finished_ = true;
    }

    const Panel &panel() const { return panel_; }
    Output &output() { return output_; }
    bool portOpen() const { return console_.portOpen(); }
    std::string lastMessage() const {
        std::lock_guard lock(lastMessageMutex_);
        return lastMessage_;
    }
    void interrupt(bool on) { events_.interrupt(on); }

private:
    [[noreturn]] static void fail(int status, const std::string &message) {
        throw ScriptFailure{status, message};
    }

    // The checks run in the order a script has always made them: a line
    // that cannot be split, a console that has ended, a wrong statement, a
    // disabled control, a wrong argument.
    void run(const ScriptStatement &s) {
        if (s.blank()) return;
        if (s.errorAt == ScriptErrorAt::Split) fail(kScriptError, s.error);
        if (console_.exited()) fail(kScriptError, s.verb + ": the console has ended after Exit");
        if (s.errorAt == ScriptErrorAt::Statement) fail(kScriptError, s.error);
        if (auto check = enabledCheck(s.action); check && !panel_.enabled(check->control))
            fail(kScriptError, s.where + ": " + check->what + " is disabled");
        if (s.errorAt == ScriptErrorAt::Argument) fail(kScriptError, s.error);
        std::visit([this](const auto &action) { act(action); }, s.action);
    }

    void act(const script::Blank &) {}
    void act(const script::Select &s) { panel_.setSelection(s.control, s.position); }
    void act(const script::Check &c) { panel_.setChecked(c.control, c.on); }
    void act(const script::Radio &r) { panel_.setChecked(r.control, true); }
    void act(const script::Press &p) { console_.press(p.button); }

    void act(const script::Type &y) {
        std::string text = y.text;
        if (text.size() > static_cast<size_t>(ctl::MessageTextMax)) {
            output_.error("line " + std::to_string(line_) + ": warning: type 1236: text longer than " +
                          std::to_string(ctl::MessageTextMax) + " characters, the first " +
                          std::to_string(ctl::MessageTextMax) + " taken");
            text.resize(ctl::MessageTextMax);
        }
        panel_.setText(y.control, text);
    }

    void act(const script::Choose &c) { host_.queueAnswer(c.path); }

    static Clock::time_point deadline(double s) { return later(Clock::now(), s); }

    static std::string secondsText(double s) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%g", s);
        return buf;
    }

    // Every wait ends the count the next one starts from, also one that
    // failed: a recipe's teardown goes on after it.  A closed output is
    // reported once the statement has ended.
    void ended(WaitEnd end, const std::string &what, double seconds) {
        const std::string failure = events_.lineFailure();
        events_.mark();
        switch (end) {
            case WaitEnd::Met:
            case WaitEnd::OutputClosed: return;
            case WaitEnd::Interrupted: fail(kScriptTimedOut, what + ": broken off");
            case WaitEnd::LineFailed: fail(kScriptTimedOut, what + ": the line failed (" + failure + ")");
            case WaitEnd::TimedOut: fail(kScriptTimedOut, what + ": timed out after " + secondsText(seconds) + " s");
        }
    }
    void act(const script::WaitResponses &w) {
        ended(events_.waitFrames(w.count, deadline(w.seconds)), "wait responses " + w.countText, w.seconds);
    }
    void act(const script::WaitMessage &w) {
        ended(events_.waitLine(w.text, deadline(w.seconds)), "wait message " + w.shownText, w.seconds);
    }
    void act(const script::WaitIdle &w) { ended(events_.waitIdle(w.seconds), "wait idle", w.seconds); }

    // capture "FILE" | capture off: the line capture, from now on.
    void act(const script::Capture &c) {
        if (!c.file) return stopCapture();
        if (const auto started = startCapture(*c.file); !started)
            fail(kScriptError,
                 "capture \"" + *c.file + "\": cannot create it: " + std::strerror(started.failure().error));
    }

    void act(const script::Show &s) {
        // Read everything first, print after: the panel's observer prints
        // under the panel's lock, so printing must not wait for the panel.
        std::vector<std::string> out;
        switch (s.what) {
            case script::ShowWhat::Response:
                out = responseLines(panel_);
                break;
            case script::ShowWhat::Device:
                out = deviceLines(panel_);
                break;
            case script::ShowWhat::Enabled:
                for (const auto &b : buttonCaptions())
                    if (panel_.enabled(b.id)) out.push_back("@" + std::to_string(b.id) + "\ton");
                break;
        }
        for (auto &l : out)
            if (!output_.line(l)) break;
    }

    int line_ = 0;
    bool finished_ = false;
    Output output_;
    Events events_;
    mutable std::mutex lastMessageMutex_;
    std::string lastMessage_;
    ReaderWatch readerWatch_{output_.stdoutFile(), [this] {
                                 output_.readerGone(EPIPE);
                                 events_.outputClosed();
                             }};
    MemoryPanel panel_;
    ScriptHost host_;
    Console console_;
};

ScriptSession::ScriptSession(std::FILE *out, std::FILE *err, ScriptSessionOptions options)
    : impl_(std::make_unique<Impl>(out, err, options)) {}
ScriptSession::~ScriptSession() { impl_->finish(); }
std::optional<ScriptFailure> ScriptSession::execute(const ScriptStatement &statement) {
    return impl_->execute(statement);
}
void ScriptSession::finish() { impl_->finish(); }
void ScriptSession::error(const std::string &text) { impl_->output().error(text); }
const Panel &ScriptSession::panel() const { return impl_->panel(); }
bool ScriptSession::portOpen() const { return impl_->portOpen(); }
std::string ScriptSession::lastMessage() const { return impl_->lastMessage(); }
void ScriptSession::interrupt() { impl_->interrupt(true); }
void ScriptSession::resume() { impl_->interrupt(false); }


int runScript(std::istream &in, std::FILE *out, std::FILE *err) {
    ScriptSession session(out, err);
    int status = kScriptOk;
    int line = 0;
    std::string text;
    auto report = [&](int at, const std::string &message) {
        session.error("line " + std::to_string(at) + ": " + message);
    };
    while (status == kScriptOk && std::getline(in, text)) {
        ++line;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (auto failure = session.execute(parseScriptLine(text, line))) {
            report(line, failure->message);
            status = failure->status;
        }
    }
    if (status == kScriptOk && in.bad()) {
        report(line + 1, "the script could not be read further");
        status = kScriptError;
    }
    // Whatever happened, the port is closed and the worker stopped.
    session.finish();
    return status;
}

int runScriptFile(const std::string &path) {
    // A reader that goes away (`| head -1`) makes writes fail instead of
    // killing the process, so the console still shuts down as Exit does.
    std::signal(SIGPIPE, SIG_IGN);
    if (path == "-") return runScript(std::cin, stdout, stderr);
    auto refuse = [&](int error) {
        std::fprintf(stderr, "valdor: cannot open script %s: %s\n", path.c_str(), std::strerror(error));
        return kScriptError;
    };
    std::ifstream file(path, std::ios::binary);
    if (!file) return refuse(errno != 0 ? errno : EIO);
    // A folder opens, but reads as nothing at all: it is no script.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return refuse(EISDIR);
    return runScript(file, stdout, stderr);
}

}  // namespace valdor
