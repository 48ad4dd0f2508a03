#include "valdor/headless/script_runner.h"

#include <chrono>
#include <cerrno>
#include <csignal>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
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
#include "valdor/panel/controls.h"
#include "valdor/panel/host.h"
#include "valdor/panel/memory_panel.h"
#include "valdor/panel/message_limit.h"
#include "valdor/panel/param_tables.h"
#include "valdor/panel/show_lines.h"

namespace valdor {

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kDefaultWaitSeconds = 10.0;

// What a statement ran into; `status` is the exit status it ends with.
struct ScriptFailure {
    int status;
    std::string message;
};

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

// What the waits count: frames handled and lines appended since the end of
// the previous wait.  Only what a later wait can still use is kept: while a
// wait runs, each new line is checked once on arrival and not stored; between
// waits the lines are held for the next `wait message`, as many as the
// message box would hold.  Every wait also ends when standard output closes.
class Events {
public:
    void line(const std::string &text) {
        std::lock_guard lock(mutex_);
        lastLine_ = Clock::now();
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
    // Starts counting anew: what came before is forgotten.
    void mark() {
        std::lock_guard lock(mutex_);
        frames_ = 0;
        forgetPending();
    }
    bool waitFrames(uint64_t n, Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        Waiting during(*this);
        return changed_.wait_until(lock, deadline, [&] { return closed_ || frames_ >= n; }) && !closed_;
    }
    bool waitLine(const std::string &text, Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        matched_ = false;
        for (const auto &held : pending_) matched_ = matched_ || held == text;
        Waiting during(*this);
        target_ = text;
        const bool found = changed_.wait_until(lock, deadline, [&] { return closed_ || matched_; }) && matched_;
        target_.reset();
        return found;
    }
    // Until no line has come for `quiet` seconds, counted from the later of
    // now and the last line.
    void waitIdle(double quiet) {
        std::unique_lock lock(mutex_);
        Waiting during(*this);
        Clock::time_point from = std::max(Clock::now(), lastLine_);
        while (!closed_) {
            Clock::time_point until = later(from, quiet);
            changed_.wait_until(lock, until, [&] { return closed_ || lastLine_ > from; });
            if (lastLine_ <= from && Clock::now() >= until) return;
            from = std::max(from, lastLine_);
        }
    }

private:
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

    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t frames_ = 0;
    std::deque<std::string> pending_;  // lines since the previous wait
    MessageBoxBudget budget_;          // bounds pending_
    bool waiting_ = false;
    std::optional<std::string> target_;  // the text a `wait message` looks for
    bool matched_ = false;
    bool closed_ = false;
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

bool parseInt(const std::string &s, long &value) {
    if (s.empty()) return false;
    char *end = nullptr;
    errno = 0;
    value = std::strtol(s.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

bool parseSeconds(const std::string &s, double &value) {
    if (s.empty()) return false;
    char *end = nullptr;
    value = std::strtod(s.c_str(), &end);
    return *end == '\0' && std::isfinite(value) && value >= 0;
}

std::string shown(const ScriptToken &t) { return t.quoted ? "\"" + t.text + "\"" : t.text; }

constexpr bool isCheckable(int id) {
    return (id >= ctl::Enhanced && id <= ctl::CountOrderReversing) || id == ctl::MeasuredInf;
}
constexpr bool isRadio(int id) { return id >= ctl::TransportFirst && id <= ctl::RetrievalLast; }

class Runner {
public:
    Runner(std::FILE *out, std::FILE *err)
        : output_(out, err), host_(output_, line_), console_(panel_, host_) {
        panel_.setMessageObserver([this](const std::string &text) {
            if (!output_.line(text)) events_.outputClosed();
            events_.line(text);
        });
        console_.worker().setFrameObserver([this] { events_.frame(); });
    }

    int run(std::istream &in) {
        console_.initialise();
        int status = kScriptOk;
        std::string text;
        while (status == kScriptOk && std::getline(in, text)) {
            ++line_;
            if (!text.empty() && text.back() == '\r') text.pop_back();
            try {
                runLine(text);
                // Nobody reads what follows: end as a failure would.
                if (int error = output_.outError())
                    fail(kScriptError, std::string("standard output is closed (") + std::strerror(error) +
                                           "): the script ends");
            } catch (const ScriptFailure &failure) {
                output_.error("line " + std::to_string(line_) + ": " + failure.message);
                status = failure.status;
            }
        }
        if (status == kScriptOk && in.bad()) {
            output_.error("line " + std::to_string(line_ + 1) + ": the script could not be read further");
            status = kScriptError;
        }
        // Whatever happened, the port is closed and the worker stopped.
        console_.exit();
        return status;
    }

private:
    [[noreturn]] static void fail(int status, const std::string &message) {
        throw ScriptFailure{status, message};
    }

    void runLine(const std::string &text) {
        std::vector<ScriptToken> t;
        if (auto error = tokenizeScriptLine(text, t)) fail(kScriptError, *error);
        if (t.empty()) return;
        if (console_.exited()) fail(kScriptError, shown(t[0]) + ": the console has ended after Exit");
        const std::string &verb = t[0].text;
        if (t[0].quoted) fail(kScriptError, "unknown statement " + shown(t[0]));
        if (verb == "select") return select(t);
        if (verb == "check") return check(t);
        if (verb == "radio") return radio(t);
        if (verb == "type") return type(t);
        if (verb == "press") return press(t);
        if (verb == "choose") return choose(t);
        if (verb == "wait") return wait(t);
        if (verb == "show") return show(t);
        if (verb == "capture") return capture(t);
        fail(kScriptError, "unknown statement '" + verb + "'");
    }

    static void arity(const std::vector<ScriptToken> &t, size_t low, size_t high, const char *usage) {
        if (t.size() < low || t.size() > high) fail(kScriptError, std::string("usage: ") + usage);
    }

    // A control named by its number.
    int control(const std::vector<ScriptToken> &t) {
        long id = 0;
        if (t[1].quoted || !parseInt(t[1].text, id))
            fail(kScriptError, t[0].text + " " + shown(t[1]) + ": not a control number");
        return static_cast<int>(id);
    }

    void requireEnabled(const std::vector<ScriptToken> &t, int id, const char *what) {
        if (!panel_.enabled(id)) fail(kScriptError, t[0].text + " " + shown(t[1]) + ": " + what + " is disabled");
    }

    void select(const std::vector<ScriptToken> &t) {
        arity(t, 3, 3, "select CONTROL POSITION|\"ITEM TEXT\"|none");
        int id = control(t);
        const ParamTable *table = tableFor(id);
        std::string where = "select " + shown(t[1]);
        if (!table) fail(kScriptError, where + ": not a combo box");
        requireEnabled(t, id, "combo box");
        std::optional<int> position;
        long n = 0;
        if (t[2].quoted) {
            for (size_t i = 0; i < table->items.size(); ++i)
                if (t[2].text == table->items[i].text) position = static_cast<int>(i);
            if (!position) fail(kScriptError, where + ": no item " + shown(t[2]));
        } else if (t[2].text == "none") {
            position = std::nullopt;
        } else if (parseInt(t[2].text, n) && n >= 0 && static_cast<size_t>(n) < table->items.size()) {
            position = static_cast<int>(n);
        } else {
            fail(kScriptError, where + ": bad position '" + t[2].text + "' (0 to " +
                                   std::to_string(table->items.size() - 1) + ", an item text or none)");
        }
        panel_.setSelection(id, position);
    }

    void check(const std::vector<ScriptToken> &t) {
        arity(t, 3, 3, "check CONTROL on|off");
        int id = control(t);
        std::string where = "check " + shown(t[1]);
        if (!isCheckable(id)) fail(kScriptError, where + ": not a check box");
        requireEnabled(t, id, "check box");
        if (t[2].quoted || (t[2].text != "on" && t[2].text != "off"))
            fail(kScriptError, where + ": say on or off, not " + shown(t[2]));
        panel_.setChecked(id, t[2].text == "on");
    }

    void radio(const std::vector<ScriptToken> &t) {
        arity(t, 2, 2, "radio CONTROL");
        int id = control(t);
        if (!isRadio(id)) fail(kScriptError, "radio " + shown(t[1]) + ": not a radio button");
        requireEnabled(t, id, "radio button");
        panel_.setChecked(id, true);
    }

    void type(const std::vector<ScriptToken> &t) {
        arity(t, 3, 3, "type 1236 \"TEXT\"");
        int id = control(t);
        if (id != ctl::MessageText) fail(kScriptError, "type " + shown(t[1]) + ": only field 1236 takes text");
        requireEnabled(t, id, "field");
        std::string text = t[2].text;
        if (text.size() > static_cast<size_t>(ctl::MessageTextMax)) {
            output_.error("line " + std::to_string(line_) + ": warning: type 1236: text longer than " +
                          std::to_string(ctl::MessageTextMax) + " characters, the first " +
                          std::to_string(ctl::MessageTextMax) + " taken");
            text.resize(ctl::MessageTextMax);
        }
        panel_.setText(id, text);
    }

    void press(const std::vector<ScriptToken> &t) {
        arity(t, 2, 2, "press CONTROL|\"CAPTION\"");
        std::string where = "press " + shown(t[1]);
        int id = 0;
        long n = 0;
        if (t[1].quoted) {
            auto byCaption = buttonByCaption(t[1].text);
            if (!byCaption) fail(kScriptError, where + ": no button has this caption");
            id = *byCaption;
        } else if (parseInt(t[1].text, n) && isButton(static_cast<int>(n))) {
            id = static_cast<int>(n);
        } else {
            fail(kScriptError, where + ": not a button");
        }
        if (!panel_.enabled(id)) fail(kScriptError, where + ": button is disabled");
        console_.press(id);
    }

    void choose(const std::vector<ScriptToken> &t) {
        arity(t, 2, 2, "choose \"PATH\"|cancel");
        if (t[1].quoted)
            host_.queueAnswer(t[1].text);
        else if (t[1].text == "cancel")
            host_.queueAnswer(std::nullopt);
        else
            fail(kScriptError, "choose: give a quoted \"PATH\" or cancel");
    }

    double seconds(const std::vector<ScriptToken> &t, size_t index, double fallback) {
        if (t.size() <= index) return fallback;
        double s = 0;
        if (t[index].quoted || !parseSeconds(t[index].text, s))
            fail(kScriptError, "wait: bad SECONDS '" + t[index].text + "'");
        return s;
    }

    static Clock::time_point deadline(double s) { return later(Clock::now(), s); }

    static std::string secondsText(double s) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%g", s);
        return buf;
    }

    void wait(const std::vector<ScriptToken> &t) {
        if (t.size() < 2) fail(kScriptError, "usage: wait responses N [SECONDS] | message \"TEXT\" [SECONDS] | idle SECONDS");
        const std::string &what = t[1].text;
        if (what == "responses" && !t[1].quoted) {
            arity(t, 3, 4, "wait responses N [SECONDS]");
            long n = 0;
            if (t[2].quoted || !parseInt(t[2].text, n) || n < 0) fail(kScriptError, "wait responses: bad N '" + t[2].text + "'");
            double s = seconds(t, 3, kDefaultWaitSeconds);
            if (!events_.waitFrames(static_cast<uint64_t>(n), deadline(s)) && !output_.outError())
                fail(kScriptTimedOut, "wait responses " + t[2].text + ": timed out after " + secondsText(s) + " s");
        } else if (what == "message" && !t[1].quoted) {
            arity(t, 3, 4, "wait message \"TEXT\" [SECONDS]");
            double s = seconds(t, 3, kDefaultWaitSeconds);
            if (!events_.waitLine(t[2].text, deadline(s)) && !output_.outError())
                fail(kScriptTimedOut, "wait message " + shown(t[2]) + ": timed out after " + secondsText(s) + " s");
        } else if (what == "idle" && !t[1].quoted) {
            arity(t, 3, 3, "wait idle SECONDS");
            double s = seconds(t, 2, 0);
            events_.waitIdle(s);
        } else {
            fail(kScriptError, "wait: say responses, message or idle, not " + shown(t[1]));
        }
        events_.mark();
    }

    // capture "FILE" | capture off: the line capture, from now on.
    void capture(const std::vector<ScriptToken> &t) {
        arity(t, 2, 2, "capture \"FILE\" | off");
        if (!t[1].quoted && t[1].text == "off") return stopCapture();
        if (!t[1].quoted) fail(kScriptError, "capture: say \"FILE\" or off, not " + shown(t[1]));
        int error = 0;
        if (!startCapture(t[1].text, error))
            fail(kScriptError, "capture " + shown(t[1]) + ": cannot create it: " + std::strerror(error));
    }

    void show(const std::vector<ScriptToken> &t) {
        arity(t, 2, 2, "show response|device|enabled");
        // Read everything first, print after: the panel's observer prints
        // under the panel's lock, so printing must not wait for the panel.
        std::vector<std::string> out;
        auto field = [&](int id) { out.push_back("@" + std::to_string(id) + "\t" + panel_.text(id)); };
        auto on = [&](int id) { out.push_back("@" + std::to_string(id) + "\ton"); };
        if (t[1].text == "response" && !t[1].quoted) {
            out = responseLines(panel_);
        } else if (t[1].text == "device" && !t[1].quoted) {
            if (!panel_.deviceWindowExists()) {
                out.push_back("@device\tabsent");
            } else {
                field(ctl::DevTitle);
                for (int id = ctl::DevGridFirst; id <= ctl::LastDeviceControl; ++id) field(id);
            }
        } else if (t[1].text == "enabled" && !t[1].quoted) {
            for (const auto &b : buttonCaptions())
                if (panel_.enabled(b.id)) on(b.id);
        } else {
            fail(kScriptError, "show: say response, device or enabled, not " + shown(t[1]));
        }
        for (auto &l : out)
            if (!output_.line(l)) break;
    }

    int line_ = 0;
    Output output_;
    Events events_;
    ReaderWatch readerWatch_{output_.stdoutFile(), [this] {
                                 output_.readerGone(EPIPE);
                                 events_.outputClosed();
                             }};
    MemoryPanel panel_;
    ScriptHost host_;
    Console console_;
};

}  // namespace

std::optional<std::string> tokenizeScriptLine(std::string_view line, std::vector<ScriptToken> &out) {
    out.clear();
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            ScriptToken token{"", true};
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char q = line[i++];
                if (q == '"') {
                    closed = true;
                    break;
                }
                if (q == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\')) q = line[i++];
                token.text += q;
            }
            if (!closed) return "a quoted text is not closed";
            out.push_back(std::move(token));
        } else {
            ScriptToken token;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '"' && line[i] != '#')
                token.text += line[i++];
            out.push_back(std::move(token));
        }
    }
    return std::nullopt;
}

int runScript(std::istream &in, std::FILE *out, std::FILE *err) {
    Runner runner(out, err);
    return runner.run(in);
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
