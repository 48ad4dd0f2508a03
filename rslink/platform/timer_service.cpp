#include "rslink/platform/timer_service.h"

namespace rslink::platform {

class TimerService::OneShot final : public core::Timer {
public:
    OneShot(TimerService &service, Slot &slot) : service_(service), slot_(slot) {}
    void start(unsigned delay_ms, std::function<void()> handler) override {
        service_.start(slot_, delay_ms, std::move(handler));
    }
    void cancel() override { service_.cancel(slot_); }

private:
    TimerService &service_;
    Slot &slot_;
};

TimerService::TimerService() : thread_([this] { serve(); }) {}

TimerService::~TimerService() { stop(); }

std::unique_ptr<core::Timer> TimerService::makeTimer() {
    std::lock_guard lock(mutex_);
    Slot &slot = slots_.emplace_back();
    return std::make_unique<OneShot>(*this, slot);
}

void TimerService::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TimerService::start(Slot &slot, unsigned delay_ms, std::function<void()> handler) {
    bool sooner = false;
    {
        std::lock_guard lock(mutex_);
        if (delay_ms == 0) {  // a delay of 0 only cancels
            slot.armed = false;
            slot.handler = nullptr;
            return;
        }
        slot.armed = true;
        slot.due = Clock::now() + std::chrono::milliseconds(delay_ms);
        slot.handler = std::move(handler);
        sooner = slot.due < sleepingUntil_;
    }
    // A later deadline needs no wake-up: the thread finds it when it wakes.
    if (sooner) changed_.notify_all();
}

void TimerService::cancel(Slot &slot) {
    std::lock_guard lock(mutex_);
    slot.armed = false;
    slot.handler = nullptr;
}

TimerService::Slot *TimerService::earliest() {
    Slot *first = nullptr;
    for (Slot &slot : slots_)
        if (slot.armed && (!first || slot.due < first->due)) first = &slot;
    return first;
}

void TimerService::serve() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        Slot *next = earliest();
        if (!next) {
            sleepingUntil_ = Clock::time_point::max();
            changed_.wait(lock);
            continue;
        }
        if (Clock::now() < next->due) {
            sleepingUntil_ = next->due;
            changed_.wait_until(lock, next->due);
            continue;
        }
        std::function<void()> handler = std::move(next->handler);
        next->armed = false;
        next->handler = nullptr;
        sleepingUntil_ = Clock::time_point::min();  // busy: a new start need not wake us
        lock.unlock();
        if (handler) handler();
        lock.lock();
    }
}

}  // namespace rslink::platform
