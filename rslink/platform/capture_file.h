// Writes the capture file as the line goes: every write of this side at
// once, the bytes read gathered into one burst until the line pauses.  Each
// record goes to the file in one write(2), so a crash or an unplug loses at
// most the burst still being gathered.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "rslink/core/line_listener.h"

namespace rslink::platform {

struct CaptureOpenMark {
    uint32_t speed;
    uint8_t dataBits, parity, stopBits, port;
    std::string path;
};

class CaptureFile final : public core::LineListener {
public:
    // Bytes read with less than this between them belong to one burst.
    static constexpr auto kBurstGap = std::chrono::microseconds(3000);

    ~CaptureFile() override;

    // Creates (truncates) the file and writes the header and the clock
    // record; an earlier file is finished first.  False with errno set.
    bool start(const std::string &path, const char *origin);
    // Finishes the file (the burst being gathered, then closes it).
    void stop();
    bool active() const;
    std::string path() const;

    void opened(const CaptureOpenMark &mark);
    void closed();

    void sent(const uint8_t *data, size_t size) override;
    void received(const uint8_t *data, size_t size) override;
    void quiet() override;

private:
    using Clock = std::chrono::steady_clock;
    uint64_t micros(Clock::time_point t) const;
    void flushPending();        // caller holds mutex_
    void put(const std::vector<uint8_t> &record);  // caller holds mutex_

    mutable std::mutex mutex_;
    int fd_ = -1;
    std::string path_;
    Clock::time_point origin_{};
    std::vector<uint8_t> pending_;  // bytes read, not yet written
    Clock::time_point pendingStart_{}, pendingLast_{};
    std::vector<uint8_t> record_;
};

}  // namespace rslink::platform
