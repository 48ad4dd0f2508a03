// Waiting in tests for something another thread does, with a bound.
#pragma once

#include <chrono>
#include <thread>

namespace testsupport {

// Checks `done` every few milliseconds until it holds or `timeout` passes;
// returns its last value.
template <typename Pred>
bool waitUntil(Pred done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace testsupport
