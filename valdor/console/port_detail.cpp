#include "valdor/console/port_detail.h"

#include <cerrno>
#include <cstring>

#include <grp.h>
#include <sys/stat.h>

#include "rslink/core/port_name.h"
#include "rslink/rslink.h"

namespace valdor {

namespace {

namespace platform = rslink::platform;

// The group that may open the device (dialout on Debian), from the node
// itself where it can be seen.
std::string deviceGroup(const std::string &path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0 && st.st_gid != 0)
        if (const group *g = getgrgid(st.st_gid)) return g->gr_name;
    return "dialout";
}

std::string joined(const std::vector<std::string> &items) {
    std::string text;
    for (const auto &item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
}

std::string reasonOf(int error) {
    switch (error) {
    case ENOTTY: return "not a serial device";
    case EBUSY: return "in use";
    default: return std::strerror(error);
    }
}

std::string remedyOf(const std::string &path, int error, const platform::SystemRoots &roots) {
    switch (error) {
    case EACCES:
    case EPERM: {
        const std::string group = deviceGroup(path);
        return "add the user to the " + group + " group: sudo usermod -aG " + group +
               " $USER, then log in again";
    }
    case EBUSY: {
        const auto holders = platform::holdersOf(path, roots);
        return holders.empty() ? "close the program that holds it"
                               : "held by " + joined(holders);
    }
    case ENOENT:
    case ENODEV:
    case ENXIO: {
        std::vector<std::string> present;
        for (const auto &d : platform::listSerialDevices(roots)) present.push_back(d.device);
        return present.empty() ? "no serial port is present; see valdor --list-ports"
                               : "present ports: " + joined(present);
    }
    default: return {};
    }
}

// What to try after a network port failed, by the failure's number (the
// resolver's own codes are below zero).
std::string networkRemedyOf(const std::string &name, int error) {
    if (error < 0) return "check the name";
    switch (error) {
    case ECONNREFUSED: return "is the server running and serving this port?";
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH: {
        const auto parsed = rslink::core::parseNetworkName(name);
        return "is " + (parsed ? parsed->host : std::string("the host")) + " reachable?";
    }
    case EPROTONOSUPPORT: return "try tcp://";
    case EINVAL: return "write tcp://HOST:PORT or rfc2217://HOST:PORT";
    default: return {};
    }
}

}  // namespace

std::string networkFailureDetail(const std::string &name, int error, const std::string &reason) {
    std::string line = "cannot open " + name + ": " + (reason.empty() ? std::strerror(error) : reason);
    if (const std::string remedy = networkRemedyOf(name, error); !remedy.empty())
        line += " (" + remedy + ")";
    return line;
}

std::string openFailureDetail(const std::string &path, int error,
                              const platform::SystemRoots &roots) {
    std::string line = "cannot open " + path + ": " + reasonOf(error);
    if (const std::string remedy = remedyOf(path, error, roots); !remedy.empty())
        line += " (" + remedy + ")";
    return line;
}

namespace {

std::string whatItIs(const std::string &path, const platform::SystemRoots &roots) {
    if (rslink::core::isNetworkName(path)) {
        const auto name = rslink::core::parseNetworkName(path);
        if (!name) return "not a valid network port name: " + name.failure().why;
        return name->scheme == rslink::core::NetworkName::Scheme::Tcp
                   ? "network port, raw TCP (the server sets the line)"
                   : "network port, RFC 2217 (the line set from here)";
    }
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return "not present";
    if (!S_ISCHR(st.st_mode)) return "not a serial device";
    const std::string name = platform::ttyNameOf(path, roots);
    for (const auto &d : platform::listSerialDevices(roots)) {
        if (d.name != name) continue;
        if (!d.usb) return "serial port";
        std::string text = "USB serial adapter " + d.vendorId + ":" + d.productId;
        for (const auto *part : {&d.manufacturer, &d.product})
            if (!part->empty()) text += " " + *part;
        if (!d.serial.empty()) text += ", serial " + d.serial;
        return text;
    }
    if (name.rfind("ttyS", 0) == 0) return "no UART behind it";
    if (path.rfind("/dev/pts/", 0) == 0) return "pseudo-terminal";
    return "character device";
}

}  // namespace

std::string comPortDescription(int com, const platform::SystemRoots &roots) {
    RS_PORT_MAPPING mapping{};
    if (RSPortMapping(com, &mapping) != RS_OK) return {};
    return "COM" + std::to_string(com) + " opens " + mapping.path + " (" + mapping.origin +
           "): " + whatItIs(mapping.path, roots);
}

std::optional<std::string> lastOpenDetail(int result) {
    RS_OPEN_INFO info{};
    if (RSOpenInfo(&info) != RS_OK) return std::nullopt;
    if (info.latency == RS_LATENCY_NETWORK) {
        if (result == RS_ERR_PORT && info.error != 0)
            return networkFailureDetail(info.path, info.error, info.note);
        if (result == RS_OK && info.note[0] != '\0')
            return "line setting refused by " + std::string(info.path) + ": " + info.note;
        return std::nullopt;
    }
    if (result == RS_ERR_PORT && info.error != 0) return openFailureDetail(info.path, info.error);
    if (result == RS_OK && info.latency == RS_LATENCY_UNAVAILABLE)
        return "low latency not available on " + std::string(info.path) + ": " + info.note;
    return std::nullopt;
}

}  // namespace valdor
