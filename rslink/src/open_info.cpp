#include "rslink/src/open_info.h"

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "rslink/rslink.h"

namespace rslink {

namespace {

std::mutex g_infoMutex;
bool g_known = false;
RS_OPEN_INFO g_info{};

template <size_t N>
void copyText(char (&to)[N], const std::string &from) {
    std::snprintf(to, N, "%s", from.c_str());
}

}  // namespace

void forgetOpenInfo() {
    std::lock_guard lock(g_infoMutex);
    g_known = false;
    g_info = RS_OPEN_INFO{};
}

void recordOpenInfo(const std::string &path, const platform::SerialPort *port, int error) {
    using State = platform::LowLatency::State;
    std::lock_guard lock(g_infoMutex);
    g_known = true;
    g_info = RS_OPEN_INFO{};
    copyText(g_info.path, path);
    g_info.error = port ? 0 : (error ? error : EIO);
    if (!port) return;
    const auto &latency = port->latency();
    g_info.latency = latency.state() == State::Set           ? RS_LATENCY_LOW
                     : latency.state() == State::Unavailable ? RS_LATENCY_UNAVAILABLE
                                                             : RS_LATENCY_UNCHANGED;
    copyText(g_info.note, latency.note());
}

}  // namespace rslink

extern "C" int RSOpenInfo(RS_OPEN_INFO *info) {
    std::lock_guard lock(rslink::g_infoMutex);
    if (!info || !rslink::g_known) return RS_ERR_NO_INFO;
    *info = rslink::g_info;
    return RS_OK;
}
