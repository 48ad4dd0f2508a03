#include "tools/bdusim/byte_log.h"

#include <chrono>
#include <ctime>

#include "rslink/core/hex.h"

namespace bdusim {

ByteLog::~ByteLog() {
    if (file_) std::fclose(file_);
}

rslink::Result<> ByteLog::open(const std::string &path) {
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) return rslink::Failure::ofErrno("cannot create " + path);
    return {};
}

std::string ByteLog::stamp() const {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto micros = duration_cast<microseconds>(now.time_since_epoch()).count() % 1000000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06lld", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<long long>(micros));
    return text;
}

void ByteLog::burst(const char *direction, std::span<const uint8_t> bytes) {
    if (!file_ || bytes.empty()) return;
    std::fprintf(file_, "%s %s %s\n", stamp().c_str(), direction, rslink::core::spacedHex(bytes).c_str());
    std::fflush(file_);
}

void ByteLog::event(const std::string &text) {
    if (!file_) return;
    std::fprintf(file_, "# %s %s\n", stamp().c_str(), text.c_str());
    std::fflush(file_);
}

}  // namespace bdusim
