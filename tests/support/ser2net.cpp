#include "support/ser2net.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/child_process.h"
#include "support/wait.h"

namespace testsupport {

namespace {

// A port of 127.0.0.1 nobody listens on now.
uint16_t freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    const bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&at), size) == 0 &&
                    getsockname(fd, reinterpret_cast<sockaddr *>(&at), &size) == 0;
    if (fd >= 0) ::close(fd);
    if (!ok) throw std::runtime_error("no free port on 127.0.0.1");
    return ntohs(at.sin_port);
}

// Whether 127.0.0.1:port is listening, from the kernel's table: a connect
// would make ser2net open the device.
bool listening(uint16_t port) {
    std::ifstream table("/proc/net/tcp");
    std::ostringstream wanted;
    wanted << "0100007F:" << std::uppercase << std::hex << (port >> 12 & 0xF) << (port >> 8 & 0xF)
           << (port >> 4 & 0xF) << (port & 0xF);
    for (std::string line; std::getline(table, line);) {
        std::istringstream words(line);
        std::string slot, local, remote, state;
        words >> slot >> local >> remote >> state;
        if (local == wanted.str() && state == "0A") return true;
    }
    return false;
}

}  // namespace

std::string Ser2net::program() {
    for (const char *path : {"/usr/sbin/ser2net", "/usr/bin/ser2net"})
        if (access(path, X_OK) == 0) return path;
    return {};
}

Ser2net::Ser2net(const std::string &device, const std::filesystem::path &work) : raw_(freePort()), telnet_(freePort()) {
    const auto config = work / "ser2net.yaml";
    std::ofstream(config) << "connection: &raw\n"
                             "  accepter: tcp,127.0.0.1,"
                          << raw_ << "\n  connector: serialdev," << device
                          << ",9600e81,local\n"
                             "  options:\n    chardelay: false\n"
                             "connection: &rfc2217\n"
                             "  accepter: telnet(rfc2217),tcp,127.0.0.1,"
                          << telnet_ << "\n  connector: serialdev," << device
                          << ",9600e81,local\n"
                             "  options:\n    chardelay: false\n";
    process_ = std::make_unique<ChildProcess>(work, "ser2net",
                                              std::vector<std::string>{program(), "-n", "-u", "-P", (work / "ser2net.pid").string(), "-c", config.string()});
    if (!waitUntil([&] { return listening(raw_) && listening(telnet_); }))
        throw std::runtime_error("ser2net did not come up: " + process_->errors() + process_->output());
}

Ser2net::~Ser2net() = default;

std::string Ser2net::url(const std::string &scheme) const {
    return scheme + "://127.0.0.1:" + std::to_string(scheme == "tcp" ? raw_ : telnet_);
}

}  // namespace testsupport
