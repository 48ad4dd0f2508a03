// The session log (valdor --log FILE): every message line with its local
// date and time, whether or not 1241 lets it into the message box and
// however many lines the box keeps.  Each line is flushed as it is written.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "rslink/core/result.h"

namespace valdor {

class SessionLog {
public:
    // Appends to FILE (created when missing).
    rslink::Result<> open(const std::string &path);
    void close();
    // "YYYY-MM-DD HH:MM:SS.mmm LINE"; nothing while no log is open.
    void line(std::string_view text) {
        if (active_.load(std::memory_order_acquire)) write(text);
    }

private:
    void write(std::string_view text);
    std::atomic<bool> active_{false};
    std::mutex mutex_;
    std::FILE *file_ = nullptr;
};

// The one log of the process.
SessionLog &sessionLog();

}  // namespace valdor
