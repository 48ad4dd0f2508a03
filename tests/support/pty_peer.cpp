#include "support/pty_peer.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "rslink/core/hex.h"
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
    termios raw{};
    cfmakeraw(&raw);
    char name[128];
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    path_ = name;
}

PtyPeer::~PtyPeer() {
    hangUp();
    if (slave_ >= 0) close(slave_);
}

void PtyPeer::mapCom(int n) const {
    setenv(("RSLINK_COM" + std::to_string(n)).c_str(), path_.c_str(), 1);
}

void PtyPeer::send(const Bytes &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            pollfd p{master_, POLLOUT, 0};
            if (poll(&p, 1, 2000) <= 0) throw std::runtime_error("pty peer cannot write");
        }
    }
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
