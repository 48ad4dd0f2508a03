#include "support/pty_peer.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "rslink/core/hex.h"
#include "rslink/platform/fd_io.h"
#include "support/wait.h"

namespace testsupport {

Bytes hex(const std::string &text) {
    Bytes out;
    std::istringstream in(text);
    std::string word;
    while (in >> word) out.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
    return out;
}

std::string hex(const Bytes &bytes) { return rslink::core::spacedHex(bytes); }

PtyPeer::PtyPeer() {
    const auto pty = rslink::platform::openPty(O_NONBLOCK, 0);
    if (!pty) throw std::runtime_error(pty.failure().why);
    master_ = pty->master;
    slave_ = pty->slave;
    path_ = pty->slavePath;
    if (!rslink::platform::makeRaw(slave_)) throw std::runtime_error("cannot set " + path_ + " raw");
}

PtyPeer::~PtyPeer() {
    hangUp();
    if (slave_ >= 0) close(slave_);
}

void PtyPeer::mapCom(int n) const {
    setenv(("RSLINK_COM" + std::to_string(n)).c_str(), path_.c_str(), 1);
}

void PtyPeer::send(const Bytes &bytes) {
    if (!rslink::platform::writeAll(master_, bytes.data(), bytes.size(), 2000))
        throw std::runtime_error("pty peer cannot write");
}

Bytes PtyPeer::readTimed(size_t count, milliseconds timeout, milliseconds &waited) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const Deadline deadline(timeout);
    Bytes out;
    waited = milliseconds(-1);
    while (out.size() < count && master_ >= 0) {
        if (deadline.passed()) break;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(deadline.left().count())) <= 0) continue;
        uint8_t buf[4096];
        ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
        if (n <= 0) break;
        if (out.empty()) waited = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

Bytes PtyPeer::read(size_t count, milliseconds timeout) {
    milliseconds waited;
    return readTimed(count, timeout, waited);
}

Bytes PtyPeer::drain(milliseconds window) { return read(65536, window); }

void PtyPeer::hangUp() {
    if (master_ >= 0) close(master_);
    master_ = -1;
}

}  // namespace testsupport
