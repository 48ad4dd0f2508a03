#include "valdor/panel/session_log.h"

#include <chrono>
#include <ctime>

namespace valdor {

rslink::Result<> SessionLog::open(const std::string &path) {
    std::FILE *f = std::fopen(path.c_str(), "ae");
    if (!f) return rslink::Failure::ofErrno("cannot open the log " + path);
    std::lock_guard lock(mutex_);
    if (file_) std::fclose(file_);
    file_ = f;
    active_.store(true, std::memory_order_release);
    return {};
}

void SessionLog::close() {
    std::lock_guard lock(mutex_);
    active_.store(false, std::memory_order_release);
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

void SessionLog::write(std::string_view text) {
    const auto now = std::chrono::system_clock::now();
    const time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    tm t{};
    localtime_r(&seconds, &t);
    std::lock_guard lock(mutex_);
    if (!file_) return;
    std::fprintf(file_, "%04d-%02d-%02d %02d:%02d:%02d.%03d %.*s\n", t.tm_year + 1900, t.tm_mon + 1,
                 t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(ms),
                 static_cast<int>(text.size()), text.data());
    std::fflush(file_);
}

SessionLog &sessionLog() {
    static auto *log = new SessionLog;  // lines may still come while the process exits
    return *log;
}

}  // namespace valdor
