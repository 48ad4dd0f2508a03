#include "rslink/src/open_info.h"

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "rslink/platform/port_map.h"
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

void recordNetworkOpenInfo(const std::string &path, int error, const std::string &note) {
    std::lock_guard lock(g_infoMutex);
    g_known = true;
    g_info = RS_OPEN_INFO{};
    copyText(g_info.path, path);
    g_info.error = error;
    g_info.latency = RS_LATENCY_NETWORK;
    copyText(g_info.note, note);
}

}  // namespace rslink

extern "C" int RSOpenInfo(RS_OPEN_INFO *info) {
    std::lock_guard lock(rslink::g_infoMutex);
    if (!info || !rslink::g_known) return RS_ERR_NO_INFO;
    *info = rslink::g_info;
    return RS_OK;
}

// The same mapping RSOpen follows, so that a client shows what this library
// opens, not what a copy of the rules built into the client would.
extern "C" int RSPortMapping(int port, RS_PORT_MAPPING *mapping) {
    namespace platform = rslink::platform;
    if (!mapping) return RS_ERR_NO_INFO;
    if (port < 1 || port > platform::kComPortCount) return RS_ERR_PORT;
    const platform::ComMapping found = platform::mapComPort(port);
    *mapping = RS_PORT_MAPPING{};
    rslink::copyText(mapping->path, found.path);
    mapping->rule = static_cast<int32_t>(found.source);
    rslink::copyText(mapping->origin, found.origin);
    return RS_OK;
}
