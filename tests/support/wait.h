// Waiting in tests for something another thread does, always with a bound:
// a wait ends as soon as the event is seen, and gives up at a deadline.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace testsupport {

// A point in time a wait gives up at.
class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    explicit Deadline(std::chrono::milliseconds within) : at_(Clock::now() + within) {}

    bool passed() const { return Clock::now() >= at_; }
    // What is left of it, never below zero.
    std::chrono::milliseconds left() const {
        return std::max(std::chrono::milliseconds(0),
                        std::chrono::duration_cast<std::chrono::milliseconds>(at_ - Clock::now()));
    }

private:
    Clock::time_point at_;
};

// Checks `done` every few milliseconds until it holds or `timeout` passes;
// returns its last value.
template <typename Pred>
bool waitUntil(Pred done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const Deadline deadline(timeout);
    while (!done()) {
        if (deadline.passed()) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A check of absence: true when `happens` stays false for all of `window`.
// It returns at the first sign of the event, so a failure shows at once and
// only a passing check spends the whole window.
template <typename Pred>
bool staysFalse(Pred happens, std::chrono::milliseconds window) {
    return !waitUntil(happens, window);
}

// A check that a call does not block: runs `call` and waits for it up to
// `limit`.  A call still running then counts as blocked (false), and
// `unblock` is run to let it go so that the test can end.
inline bool returnsWithoutBlocking(const std::function<void()> &call, const std::function<void()> &unblock,
                                   std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    auto done = std::async(std::launch::async, call);
    if (done.wait_for(limit) == std::future_status::ready) return true;
    unblock();
    done.wait();
    return false;
}

}  // namespace testsupport
