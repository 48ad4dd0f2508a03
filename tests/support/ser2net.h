// Debian's ser2net serving a device on the loopback address, for the tests
// and the benchmark: one raw TCP port and one RFC 2217 port, both on free
// ports of 127.0.0.1, with chardelay off and no banner, from a
// configuration written into the caller's folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace testsupport {

class ChildProcess;

class Ser2net {
public:
    // The program's path, or "" when it is not installed.
    static std::string program();

    // Starts it for `device` and waits until both ports listen; throws
    // when it does not come up.
    Ser2net(const std::string &device, const std::filesystem::path &work);
    ~Ser2net();
    Ser2net(const Ser2net &) = delete;
    Ser2net &operator=(const Ser2net &) = delete;

    // "tcp://127.0.0.1:PORT" or "rfc2217://127.0.0.1:PORT".
    std::string url(const std::string &scheme) const;

private:
    std::unique_ptr<ChildProcess> process_;
    uint16_t raw_ = 0;
    uint16_t telnet_ = 0;
};

}  // namespace testsupport
