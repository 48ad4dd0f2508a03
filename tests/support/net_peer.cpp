#include "support/net_peer.h"

#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/wait.h"

namespace testsupport {

namespace {
constexpr uint8_t kIac = 0xFF, kSb = 0xFA, kSe = 0xF0, kWill = 0xFB, kDont = 0xFE;
}

NetPeer::NetPeer() {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr *>(&at), size) != 0 || ::listen(listen_, 4) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr *>(&at), &size) != 0)
        throw std::runtime_error("the network peer cannot listen");
    port_ = ntohs(at.sin_port);
}

NetPeer::~NetPeer() {
    close();
    ::close(listen_);
}

std::string NetPeer::url(const std::string &scheme) const {
    return scheme + "://127.0.0.1:" + std::to_string(port_);
}

void NetPeer::mapCom(int n, const std::string &scheme) const {
    setenv(("RSLINK_COM" + std::to_string(n)).c_str(), url(scheme).c_str(), 1);
}

bool NetPeer::accept(milliseconds timeout) {
    close();
    pollfd p{listen_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
    conn_ = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    const int one = 1;
    setsockopt(conn_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    closed_ = false;
    data_.clear();
    commands_.clear();
    command_.clear();
    subIac_ = false;
    return conn_ >= 0;
}

void NetPeer::sendRaw(const Bytes &bytes, bool bytewise) {
    if (!bytewise) {
        if (::send(conn_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("the network peer cannot send");
        return;
    }
    for (uint8_t b : bytes) {
        sendRaw(Bytes{b});
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void NetPeer::send(const Bytes &data, bool bytewise) {
    Bytes doubled;
    for (uint8_t b : data) {
        doubled.push_back(b);
        if (b == kIac && telnet) doubled.push_back(kIac);
    }
    sendRaw(doubled, bytewise);
}

// Data bytes to data_, telnet commands (IAC x, IAC verb option, IAC SB ...
// IAC SE) each whole to commands_, wherever the reads cut them.
void NetPeer::take(const uint8_t *bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = bytes[i];
        if (!telnet) {
            data_.push_back(b);
            continue;
        }
        if (command_.empty()) {
            if (b == kIac) command_.push_back(b);
            else data_.push_back(b);
            continue;
        }
        command_.push_back(b);
        const size_t n = command_.size();
        bool whole = false;
        if (n == 2 && command_[1] == kIac) {
            data_.push_back(kIac);
            command_.clear();
            continue;
        }
        if (n == 2) whole = command_[1] < kWill && command_[1] != kSb;
        else if (command_[1] >= kWill && command_[1] <= kDont) whole = n == 3;
        else if (command_[1] == kSb && n > 2) {
            // IAC IAC inside is a data byte of the subnegotiation.
            if (subIac_) whole = b == kSe;
            subIac_ = !subIac_ && b == kIac;
        }
        if (whole) {
            commands_.push_back(hex(command_));
            command_.clear();
        }
    }
}

bool NetPeer::pump(milliseconds timeout) {
    if (conn_ < 0 || closed_) return false;
    pollfd p{conn_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
    uint8_t buffer[4096];
    const ssize_t n = recv(conn_, buffer, sizeof buffer, 0);
    if (n <= 0) {
        closed_ = true;
        return false;
    }
    take(buffer, static_cast<size_t>(n));
    return true;
}

Bytes NetPeer::read(size_t count, milliseconds timeout) {
    const Deadline deadline(timeout);
    while (data_.size() < count && !closed_ && !deadline.passed()) pump(deadline.left());
    const size_t n = std::min(count, data_.size());
    Bytes out(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(n));
    data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
}

Bytes NetPeer::drain(milliseconds window) { return read(65536, window); }

bool NetPeer::waitForCommand(const std::string &command, milliseconds timeout) {
    const Deadline deadline(timeout);
    for (;;) {
        for (const std::string &c : commands_)
            if (c == command) return true;
        if (closed_ || deadline.passed()) return false;
        pump(deadline.left());
    }
}

bool NetPeer::sawClose(milliseconds timeout) {
    const Deadline deadline(timeout);
    while (!closed_ && !deadline.passed()) pump(deadline.left());
    return closed_;
}

void NetPeer::close() {
    if (conn_ >= 0) ::close(conn_);
    conn_ = -1;
}

}  // namespace testsupport
