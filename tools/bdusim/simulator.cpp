#include "tools/bdusim/simulator.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

#include <poll.h>
#include <unistd.h>
#include <sys/stat.h>

#include "rslink/core/hex.h"

namespace bdusim {
namespace {

// While no host holds the line the master reports a hang-up on every poll,
// so the loop sleeps this long between looks instead of polling.
constexpr auto kAbsentLook = std::chrono::milliseconds(20);
// How long a hanging-up unit lets the host read its last bytes.
constexpr auto kHangUpLinger = std::chrono::milliseconds(300);

volatile std::sig_atomic_t stopSignal = 0;
sigset_t waitMask;  // the mask ppoll waits with: the stop signals let through

extern "C" void onStopSignal(int signal) { stopSignal = signal; }

// SIGTERM and SIGINT are held back except while the loop sleeps, so that
// they always wake it instead of landing between a check and a sleep.
void catchStopSignals() {
    struct sigaction action{};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);  // a closed standard output must not end the unit
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, &waitMask);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);
}

timespec until(TimePoint now, TimePoint deadline) {
    const auto left = deadline <= now ? Clock::duration::zero() : deadline - now;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    return {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

void printLine(const std::string &line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void diagnostic(const std::string &text) { std::fprintf(stderr, "bdusim: %s\n", text.c_str()); }

}  // namespace

Simulator::Simulator(const Options &options)
    : options_(options),
      port_(options.baud, log_),
      unit_(options.negative, options.traceRequests, printLine),
      line_(options.faults, port_,
            LineHooks{
                [this](std::span<const uint8_t> request) { return unit_.answer(request); },
                [this] { return unit_.unsolicitedStatus(); },
                [this](std::span<const uint8_t> response) {
                    if (options_.traceResponses) printLine("RSP " + rslink::core::spacedHex(response));
                },
                [this](const std::string &text) {
                    diagnostic(text);
                    log_.event(text);
                },
                [this] {
                    printLine("HANG-UP");
                    hangUp_ = true;
                },
            }) {}

rslink::Result<> Simulator::start() {
    if (!options_.logPath.empty())
        if (auto opened = log_.open(options_.logPath); !opened) return opened;
    if (!options_.replayPath.empty())
        if (auto loaded = loadReplay(); !loaded) return loaded;
    if (auto opened = port_.open(); !opened) return opened;
    if (!options_.linkPath.empty()) {
        struct stat existing{};
        // Replace an old link, but never a file that is not one.
        if (lstat(options_.linkPath.c_str(), &existing) == 0) {
            if (!S_ISLNK(existing.st_mode))
                return rslink::Failure{EEXIST, "cannot link " + options_.linkPath +
                                                   ": it exists and is not a symbolic link"};
            unlink(options_.linkPath.c_str());
        }
        if (symlink(port_.slavePath().c_str(), options_.linkPath.c_str()) != 0)
            return rslink::Failure::ofErrno("cannot link " + options_.linkPath);
        linked_ = true;
    }
    catchStopSignals();
    return {};
}

rslink::Result<> Simulator::loadReplay() {
    std::ifstream in(options_.replayPath, std::ios::binary);
    if (!in) return rslink::Failure::ofErrno("cannot open " + options_.replayPath);
    const std::vector<uint8_t> content((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
    const auto parsed = rslink::capture::parse(content);
    if (!parsed.ok()) {
        const std::string where = options_.replayPath + ": offset " +
                                  std::to_string(parsed.errorOffset) + ": " + parsed.error;
        if (parsed.records.empty()) return rslink::Failure{0, where};
        diagnostic(where + " (replaying what comes before it)");
    }
    replay_ = std::make_unique<Replay>(buildReplayScript(parsed.records),
                                       ReplayOptions{options_.replayNoDelays, options_.replayStopOnMismatch},
                                       port_, [this](const std::string &text) {
                                           diagnostic(text);
                                           log_.event(text);
                                       });
    return {};
}

void Simulator::removeLink() {
    if (!linked_) return;
    char target[256];
    const ssize_t n = readlink(options_.linkPath.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string(target, static_cast<size_t>(n)) == port_.slavePath())
        unlink(options_.linkPath.c_str());
    linked_ = false;
}

void Simulator::noticeHostChange(bool wasPresent, TimePoint now) {
    if (wasPresent == port_.hostPresent()) return;
    if (replay_) replay_->reset(now);
    else line_.reset(now);
    diagnostic(port_.hostPresent() ? "the host opened the line" : "the host closed the line");
}

// Everything that is due now: bytes to the protocol, time-outs, writes.
void Simulator::step(TimePoint now) {
    const bool wasPresent = port_.hostPresent();
    port_.deliverDue(now, [&](uint8_t byte) {
        if (replay_) replay_->onByte(byte, now);
        else line_.onByte(byte, now);
    });
    if (port_.hostPresent()) {
        if (replay_) replay_->onTime(now);
        else line_.onTime(now);
    }
    if (port_.hostPresent()) port_.writeDue(now);
    noticeHostChange(wasPresent, now);
}

void Simulator::wait(TimePoint now) {
    const bool wasPresent = port_.hostPresent();
    if (!wasPresent) {
        const timespec pause = until(now, now + kAbsentLook);
        ppoll(nullptr, 0, &pause, &waitMask);
        port_.checkPresence();
        noticeHostChange(wasPresent, Clock::now());
        return;
    }
    const TimePoint unitDeadline = replay_ ? replay_->nextDeadline() : line_.nextDeadline();
    const TimePoint deadline = std::min(unitDeadline, port_.nextEvent());
    pollfd p{port_.fd(), static_cast<short>(POLLIN | (port_.blocked() ? POLLOUT : 0)), 0};
    const timespec timeout = until(now, deadline);
    const int ready = ppoll(&p, 1, deadline == TimePoint::max() ? nullptr : &timeout, &waitMask);
    if (ready <= 0) return;  // time-out or a signal
    const TimePoint woke = Clock::now();
    if (p.revents & POLLIN) port_.readAvailable(woke);
    if (port_.hostPresent() && (p.revents & POLLHUP)) port_.hostLeft();
    if (port_.hostPresent() && (p.revents & POLLOUT)) port_.writeDue(woke);
    noticeHostChange(wasPresent, woke);
}

int Simulator::run() {
    diagnostic((replay_ ? "replay of " + options_.replayPath + " ready on " : "unit ready on ") +
               port_.slavePath());
    TimePoint hangUpAt = TimePoint::max();
    while (!stopSignal) {
        const TimePoint now = Clock::now();
        step(now);
        // A hang-up ends the unit once what it wrote has left and the host
        // has had a moment to read it (a hang-up discards unread input); the
        // host then finds its end of the terminal hung up.
        if (hangUp_ && (!port_.hostPresent() || !port_.outputPending())) {
            if (hangUpAt == TimePoint::max()) hangUpAt = now;
            if (!port_.hostPresent() || now - hangUpAt >= kHangUpLinger) break;
            const timespec pause = until(now, hangUpAt + kHangUpLinger);
            ppoll(nullptr, 0, &pause, &waitMask);
            continue;
        }
        wait(Clock::now());
    }
    removeLink();
    return replay_ && replay_->mismatches() > 0 ? 1 : 0;
}

}  // namespace bdusim
