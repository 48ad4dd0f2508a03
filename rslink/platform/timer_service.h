// One-shot millisecond timers whose handlers run on one timer thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "rslink/core/line_port.h"

namespace rslink::platform {

class TimerService {
public:
    TimerService();
    ~TimerService();  // stops the thread
    TimerService(const TimerService &) = delete;
    TimerService &operator=(const TimerService &) = delete;

    // A timer served by this service's thread; it must not outlive the service.
    std::unique_ptr<core::Timer> makeTimer();

    // Ends the thread; a handler that is running is let finish, none runs after.
    void stop();

private:
    using Clock = std::chrono::steady_clock;
    struct Slot {
        bool armed = false;
        Clock::time_point due;
        std::function<void()> handler;
    };
    class OneShot;

    void start(Slot &slot, unsigned delay_ms, std::function<void()> handler);
    void cancel(Slot &slot);
    void serve();
    Slot *earliest();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::list<Slot> slots_;  // stable addresses
    Clock::time_point sleepingUntil_ = Clock::time_point::max();
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace rslink::platform
