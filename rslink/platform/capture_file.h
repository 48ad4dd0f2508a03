// Writes the capture file as the line goes: every write of this side at
// once, the bytes read gathered into one burst until the line pauses.  The
// file is mapped into memory, so each record is in the file (the kernel's
// page cache) the moment it is copied, without a system call: a crash or an
// unplug loses at most the burst still being gathered, and a capture costs
// the line almost nothing.  The file grows a step at a time, its space
// reserved before it is used; until the capture is finished (stopped,
// moved, or its program ended normally) the file ends in zero bytes, which
// a reader takes as the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "rslink/core/line_listener.h"
#include "rslink/core/result.h"

namespace rslink::platform {

struct CaptureOpenMark {
    uint32_t speed;
    uint8_t dataBits, parity, stopBits, port;
    std::string path;
};

class CaptureFile final : public core::LineListener {
public:
    using Clock = std::chrono::steady_clock;

    // Bytes read with less than this between them belong to one burst.
    static constexpr auto kBurstGap = std::chrono::microseconds(3000);

    // `now` tells the time of every record; a test passes a clock it moves
    // by hand, so that what makes a burst does not hang on the scheduler.
    explicit CaptureFile(std::function<Clock::time_point()> now = Clock::now) : now_(std::move(now)) {}
    ~CaptureFile() override;

    // Creates (truncates) the file and writes the header and the clock
    // record; an earlier file is finished first.
    Result<> start(const std::string &path, const char *origin);
    // Finishes the file (the burst being gathered, then closes it).
    void stop();
    bool active() const;
    std::string path() const;

    void opened(const CaptureOpenMark &mark);
    void closed();

    void sent(const uint8_t *data, size_t size) override;
    void received(const uint8_t *data, size_t size) override;
    void quiet() override;

    // For a program that watches a line from outside (the monitor): one
    // burst as it was read, at its own time on this file's clock.
    void burst(bool hostToUnit, Clock::time_point at, const uint8_t *data, size_t size);
    // The moment this file's clock reads 0.
    Clock::time_point origin() const;

private:
    uint64_t micros(Clock::time_point t) const;
    void flushPending();        // caller holds mutex_
    void put(const std::vector<uint8_t> &record);  // caller holds mutex_

    bool reserve(size_t more);  // caller holds mutex_
    void finishFile();          // caller holds mutex_

    // Each step the file grows by.
    static constexpr size_t kGrowth = size_t{1} << 20;

    const std::function<Clock::time_point()> now_;
    mutable std::mutex mutex_;
    int fd_ = -1;
    uint8_t *map_ = nullptr;
    size_t mapped_ = 0;
    size_t used_ = 0;
    std::string path_;
    Clock::time_point origin_{};
    std::vector<uint8_t> pending_;  // bytes read, not yet written
    Clock::time_point pendingStart_{}, pendingLast_{};
    std::vector<uint8_t> record_;
};

}  // namespace rslink::platform
