#include "valdor/monitor/monitor_run.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "rslink/platform/capture_file.h"
#include "valdor/monitor/line_monitor.h"
#include "valdor/monitor/line_ports.h"

namespace valdor::monitor {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadChunk = 4096;
// Rounds of reading both devices at one wake-up; a line busy in both
// directions still gets its bytes shown every few reads.
constexpr int kReadRounds = 16;
// How long a forward may wait for a device that does not take bytes before
// the relay gives the line up as stuck.
constexpr int kForwardWaitMs = 2000;
// How long the end of a watch waits for the transcript's output to take
// what is still pending.
constexpr auto kTranscriptDrain = std::chrono::seconds(2);

// SIGINT, SIGTERM and SIGHUP end the watch in an orderly way: read through
// a descriptor, so that the loop's poll sees them.
class StopSignals {
public:
    StopSignals() {
        sigemptyset(&set_);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set_, s);
        sigprocmask(SIG_BLOCK, &set_, nullptr);
        fd_ = signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
    }
    // The mask stays: a signal that comes while the watch winds down must
    // not cut short the capture's end or change the exit status.
    ~StopSignals() {
        if (fd_ >= 0) ::close(fd_);
    }
    int fd() const { return fd_; }
    // Takes the signals that came, so that none stays pending.
    void take() {
        signalfd_siginfo info{};
        while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
    }

private:
    sigset_t set_{};
    int fd_ = -1;
};

// The transcript goes out on a thread of its own, so that a terminal that
// is slow or paused (a pager, Ctrl-S) delays the transcript and never the
// line: a relay that waited for its output would stall the exchange until
// host and unit time out.  Past kMaxPending lines the oldest are kept and
// the newest dropped, and standard error says how many.
class TranscriptWriter {
public:
    static constexpr size_t kMaxPending = 200000;

    explicit TranscriptWriter(std::FILE *out) : out_(out), thread_([this] { write(); }) {}
    ~TranscriptWriter() {
        if (thread_.joinable()) thread_.detach();  // close() ran; only a stuck write is left
    }

    void put(std::string line) {
        {
            std::lock_guard lock(mutex_);
            if (pending_.size() >= kMaxPending) {
                ++dropped_;
                return;
            }
            pending_.push_back(std::move(line));
        }
        changed_.notify_one();
    }

    // Writes what is pending and ends the thread, waiting at most `bound`
    // for an output that does not take it.  False when the output is stuck:
    // the thread is then still in a write, and only the process's end
    // stops it.
    bool close(std::chrono::milliseconds bound) {
        std::unique_lock lock(mutex_);
        closing_ = true;
        changed_.notify_one();
        if (!changed_.wait_for(lock, bound, [&] { return done_; })) return false;
        lock.unlock();
        if (thread_.joinable()) thread_.join();
        return true;
    }
    size_t dropped() {
        std::lock_guard lock(mutex_);
        return dropped_;
    }

private:
    void write() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return closing_ || !pending_.empty(); });
            if (pending_.empty()) {
                done_ = true;
                changed_.notify_all();
                return;
            }
            std::deque<std::string> batch;
            batch.swap(pending_);
            lock.unlock();
            if (!broken_) {
                for (const std::string &line : batch) {
                    std::fputs(line.c_str(), out_);
                    std::fputc('\n', out_);
                }
                if (std::fflush(out_) != 0 || std::ferror(out_)) {
                    // The reader went away (a pipe closed): the watch, and
                    // a relay's forwarding, go on without a transcript.
                    broken_ = true;
                    std::fprintf(stderr, "valdor: the transcript cannot be written (%s); the watch goes on\n",
                                 std::strerror(errno));
                }
            }
            lock.lock();
        }
    }

    std::FILE *out_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> pending_;
    size_t dropped_ = 0;
    bool closing_ = false;
    bool done_ = false;
    bool broken_ = false;  // the writer thread's own
    std::thread thread_;
};

class Watch {
public:
    Watch(const MonitorOptions &options, std::FILE *out, std::FILE *err)
        : options_(options), out_(out), err_(err),
          monitor_([this](const MonitorEvent &e) { transcript_->put(formatEvent(e)); },
                   // The capture takes the line token by token in the
                   // events' order, so that bytes of both directions read
                   // at one wake-up go into it in the line's order.
                   [this](uint64_t micros, Direction d, std::span<const uint8_t> bytes) {
                       capture_.burst(d == Direction::HostToUnit, zero_ + std::chrono::microseconds(micros),
                                      bytes.data(), bytes.size());
                   }) {}

    int run() {
        // Before anything else, so that a signal at any moment ends the watch
        // in order.
        StopSignals signals;
        if (signals.fd() < 0) {
            std::fprintf(err_, "valdor: cannot watch for signals: %s\n", std::strerror(errno));
            return 2;
        }
        const bool relay = options_.mode == MonitorOptions::Mode::Relay;
        rslink::Result<> opened =
            relay && options_.first == "-" ? devices_[0].createPty() : devices_[0].open(options_.first, relay);
        if (opened) opened = devices_[1].open(options_.second, relay);
        if (!opened) {
            std::fprintf(err_, "valdor: %s\n", opened.failure().why.c_str());
            return 2;
        }
        if (relay && options_.first == "-") {
            // The host program is pointed at this path.
            std::fprintf(out_, "%s\n", devices_[0].path().c_str());
            std::fflush(out_);
        }
        if (!options_.capture.empty()) {
            const rslink::Result<> started =
                capture_.start(options_.capture, relay ? "valdor --monitor --relay" : "valdor --monitor --tap");
            if (!started) {
                std::fprintf(err_, "valdor: cannot create the capture %s: %s\n", options_.capture.c_str(),
                             std::strerror(started.failure().error));
                return 2;
            }
            zero_ = capture_.origin();
            for (const LineDevice &d : devices_)
                capture_.opened({kLineSpeed, 8, 2, 0, 0, d.path()});
        } else {
            zero_ = Clock::now();
        }
        if (relay)
            std::fprintf(err_, "valdor: relaying between %s (host side) and %s (unit side); Ctrl-C ends\n",
                         devices_[0].path().c_str(), devices_[1].path().c_str());
        else
            std::fprintf(err_, "valdor: tapping %s (host to unit) and %s (unit to host); Ctrl-C ends\n",
                         devices_[0].path().c_str(), devices_[1].path().c_str());
        std::fflush(err_);
        transcript_.emplace(out_);
        const int status = loop(relay, signals);
        monitor_.finish(micros(Clock::now()));
        if (capture_.active()) {
            capture_.closed();
            capture_.stop();
        }
        const bool written = transcript_->close(kTranscriptDrain);
        if (const size_t dropped = transcript_->dropped())
            std::fprintf(err_, "valdor: %zu transcript lines dropped: the output did not keep up\n", dropped);
        if (!written) {
            // The thread is stuck in a write that nothing will finish;
            // ending the process is the only way out of it.
            std::fprintf(err_, "valdor: the transcript's output takes nothing; lines still pending are lost\n");
            std::fflush(err_);
            std::_Exit(status);
        }
        return status;
    }

private:
    uint64_t micros(Clock::time_point t) const {
        return t > zero_ ? static_cast<uint64_t>(
                               std::chrono::duration_cast<std::chrono::microseconds>(t - zero_).count())
                         : 0;
    }

    int pollTimeout() const {
        for (const LineDevice &d : devices_)
            if (d.pending()) return 0;
        const auto deadline = monitor_.nextDeadline();
        if (!deadline) return -1;
        const uint64_t now = micros(Clock::now());
        if (*deadline <= now) return 0;
        return static_cast<int>((*deadline - now + 999) / 1000);
    }

    int loop(bool relay, StopSignals &signals) {
        std::array<uint8_t, kReadChunk> chunk{};
        std::array<std::vector<uint8_t>, 2> got;
        for (;;) {
            std::array<pollfd, 3> p{{{devices_[0].fd(), POLLIN, 0},
                                     {devices_[1].fd(), POLLIN, 0},
                                     {signals.fd(), POLLIN, 0}}};
            const int ready = poll(p.data(), p.size(), pollTimeout());
            if (ready < 0 && errno != EINTR) {
                std::fprintf(err_, "valdor: poll: %s\n", std::strerror(errno));
                return 1;
            }
            const auto now = Clock::now();
            if (p[2].revents) {
                signals.take();
                return 0;
            }
            got[0].clear();
            got[1].clear();
            // Both devices, in turns, until neither has more: what one side
            // sent in answer to the other is then read in the same wake-up
            // as what it answered, never in a later one, and the protocol
            // orders the two (LineMonitor::feedTogether).
            for (int round = 0; round < kReadRounds; ++round) {
                bool any = false;
                for (size_t i = 0; i < 2; ++i) {
                    const auto read = devices_[i].readSome(chunk.data(), chunk.size());
                    if (!read) {
                        std::fprintf(err_, "valdor: %s; the watch ends\n", read.failure().why.c_str());
                        return 1;
                    }
                    const size_t n = *read;
                    if (n == 0) continue;
                    any = true;
                    if (relay) {
                        const auto forwarded = devices_[1 - i].writeAll(chunk.data(), n, kForwardWaitMs);
                        if (!forwarded) {
                            std::fprintf(err_, "valdor: cannot forward to %s: %s; the relay ends\n",
                                         devices_[1 - i].path().c_str(), std::strerror(forwarded.failure().error));
                            return 1;
                        }
                    }
                    got[i].insert(got[i].end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
                }
                if (!any) break;
            }
            // Shown after forwarding, so the line never waits for the screen.
            const uint64_t at = micros(now);
            if (!got[0].empty() && !got[1].empty())
                monitor_.feedTogether(at, got[0], got[1]);
            else if (!got[0].empty())
                monitor_.feed(at, Direction::HostToUnit, got[0]);
            else if (!got[1].empty())
                monitor_.feed(at, Direction::UnitToHost, got[1]);
            else
                monitor_.tick(micros(Clock::now()));
        }
    }

    const MonitorOptions &options_;
    std::FILE *out_, *err_;
    std::array<LineDevice, 2> devices_;
    rslink::platform::CaptureFile capture_;
    Clock::time_point zero_{};
    std::optional<TranscriptWriter> transcript_;
    LineMonitor monitor_;
};

}  // namespace

rslink::Result<MonitorOptions> parseMonitorOptions(const std::vector<std::string> &words) {
    // A command line is no system call: its failures carry no error number.
    auto refuse = [](std::string why) { return rslink::Failure{0, std::move(why)}; };
    MonitorOptions options;
    bool mode = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string &w = words[i];
        if (w == "--capture") {
            if (i + 1 >= words.size()) return refuse("--capture needs a FILE");
            options.capture = words[++i];
        } else if (w == "--tap" || w == "--relay") {
            if (mode) return refuse("give one of --tap and --relay, once");
            if (i + 2 >= words.size())
                return refuse(w == "--tap" ? "--tap needs DEV_HOST_TO_UNIT and DEV_UNIT_TO_HOST"
                                           : "--relay needs HOST_SIDE_DEV and UNIT_SIDE_DEV");
            options.mode = w == "--tap" ? MonitorOptions::Mode::Tap : MonitorOptions::Mode::Relay;
            options.first = words[i + 1];
            options.second = words[i + 2];
            i += 2;
            mode = true;
        } else {
            return refuse("--monitor does not take '" + w + "'");
        }
    }
    if (!mode)
        return refuse("--monitor needs --tap DEV_HOST_TO_UNIT DEV_UNIT_TO_HOST or --relay HOST_SIDE_DEV UNIT_SIDE_DEV");
    if (options.mode == MonitorOptions::Mode::Tap && (options.first == "-" || options.second == "-"))
        return refuse("a tap reads two devices; '-' is for the host side of a relay");
    if (options.mode == MonitorOptions::Mode::Relay && options.second == "-")
        return refuse("the unit side of a relay is a device; '-' is for the host side");
    if (options.first == options.second) return refuse("the two devices must differ");
    return options;
}

int runMonitor(const MonitorOptions &options, std::FILE *out, std::FILE *err) {
    // A closed transcript pipe shows as a failed write, not as the end of
    // the process (and of the line through a relay).
    std::signal(SIGPIPE, SIG_IGN);
    Watch watch(options, out, err);
    return watch.run();
}

}  // namespace valdor::monitor
