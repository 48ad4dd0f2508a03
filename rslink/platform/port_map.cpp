#include "rslink/platform/port_map.h"

#include <cstdlib>
#include <fstream>

namespace rslink::platform {

namespace {

std::string trim(const std::string &s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

}  // namespace

std::string portsFilePath() {
    const char *xdg = std::getenv("XDG_CONFIG_HOME");
    // The base directory rules ignore a relative XDG_CONFIG_HOME.
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/valdor/ports";
    const char *home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/.config/valdor/ports";
    return {};
}

std::optional<std::string> portsFileEntry(const std::string &file, int com) {
    std::ifstream in(file);
    if (!in) return std::nullopt;
    const std::string key = "COM" + std::to_string(com);
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line.front() == '#') continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos || trim(line.substr(0, equals)) != key) continue;
        const std::string path = trim(line.substr(equals + 1));
        if (!path.empty()) return path;
    }
    return std::nullopt;
}

ComMapping mapComPort(int com, const SystemRoots &roots) {
    const std::string variable = "RSLINK_COM" + std::to_string(com);
    if (const char *mapped = std::getenv(variable.c_str()); mapped && *mapped)
        return {mapped, MappingSource::Environment, variable};
    if (const std::string file = portsFilePath(); !file.empty())
        if (auto path = portsFileEntry(file, com)) return {*path, MappingSource::PortsFile, file};
    if (com == 1) {
        const auto adapters = listUsbAdapters(roots);
        if (adapters.size() == 1)
            return {adapters.front().device, MappingSource::OnlyUsbAdapter,
                    "the only USB serial adapter"};
    }
    return {"/dev/ttyS" + std::to_string(com - 1), MappingSource::Default, "default"};
}

std::string comDevicePath(int com) { return mapComPort(com).path; }

std::string describeMapping(int com, const ComMapping &m) {
    return "COM" + std::to_string(com) + " = " + m.path + " (" + m.origin + ")";
}

}  // namespace rslink::platform
