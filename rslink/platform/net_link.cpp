#include "rslink/platform/net_link.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "rslink/platform/diag.h"
#include "rslink/platform/fd_io.h"

namespace rslink::platform {

namespace {

using Clock = std::chrono::steady_clock;
using core::NetworkName;
using core::TelnetCodec;
using core::TelnetEvent;

constexpr size_t kReadChunk = 4096;
// Replies to the server's requests and the line controls go out within this.
constexpr int kReplyWaitMs = 1000;

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(std::min<long long>(left.count(), 1 << 30));
}

Failure cancelled() { return Failure{ECANCELED, "the open was cancelled"}; }

// The reason alone: the caller names the port.
Failure systemFailure(int error) { return Failure{error, std::strerror(error)}; }

bool cancelRequested(int cancelFd) {
    if (cancelFd < 0) return false;
    pollfd p{cancelFd, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

// Waits until `fd` has `events` or the deadline passes; cancelled: a failure.
Result<bool> waitFor(int fd, short events, Clock::time_point deadline, int cancelFd) {
    for (;;) {
        pollfd p[2] = {{fd, events, 0}, {cancelFd, POLLIN, 0}};
        const int ready = poll(p, cancelFd >= 0 ? 2 : 1, msLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return systemFailure(errno);
        if (cancelFd >= 0 && (p[1].revents & POLLIN)) return cancelled();
        if (ready > 0) return true;
        if (Clock::now() >= deadline) return false;
    }
}

// ---- the name lookup -------------------------------------------------------

struct AddressList {
    addrinfo *list = nullptr;
    AddressList() = default;
    explicit AddressList(addrinfo *l) : list(l) {}
    AddressList(AddressList &&o) noexcept : list(std::exchange(o.list, nullptr)) {}
    AddressList &operator=(AddressList &&) = delete;
    ~AddressList() {
        if (list) freeaddrinfo(list);
    }
};

// A lookup on a thread of its own, so that a slow resolver neither holds up
// the bound of the connect nor a cancel.  The thread keeps the state alive
// and finishes by itself when nobody waits for it any more.
struct Lookup {
    explicit Lookup(WakeSignal signal) : done(std::move(signal)) {}
    std::mutex mutex;
    AddressList found;
    int code = 0;
    int systemError = 0;
    const WakeSignal done;
};

addrinfo hintsFor(const NetworkName &name, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV | flags | (name.bracketed ? AI_NUMERICHOST : 0);
    return hints;
}

Failure lookupFailure(const NetworkName &name, int code, int systemError) {
    if (code == EAI_SYSTEM) return Failure{systemError, name.host + ": " + std::strerror(systemError)};
    return Failure{code, name.host + ": " + gai_strerror(code)};
}

Result<AddressList> resolve(const NetworkName &name, Clock::time_point deadline, int cancelFd) {
    const std::string port = std::to_string(name.port);
    // An address needs no resolver: taken at once.
    addrinfo hints = hintsFor(name, AI_NUMERICHOST);
    addrinfo *numeric = nullptr;
    const int direct = getaddrinfo(name.host.c_str(), port.c_str(), &hints, &numeric);
    if (direct == 0) return AddressList(numeric);
    if (name.bracketed || direct != EAI_NONAME) return lookupFailure(name, direct, errno);

    Result<WakeSignal> done = WakeSignal::create();
    if (!done) return done.failure();
    auto lookup = std::make_shared<Lookup>(std::move(*done));
    try {
        std::thread([lookup, host = name.host, port, hints = hintsFor(name, 0)] {
            addrinfo *list = nullptr;
            const int code = getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
            const int systemError = errno;
            std::lock_guard lock(lookup->mutex);
            lookup->found.list = list;
            lookup->code = code;
            lookup->systemError = systemError;
            lookup->done.raise();
        }).detach();
    } catch (const std::system_error &e) {
        return Failure{e.code().value(), std::string("cannot start the name lookup: ") + e.what()};
    }
    const Result<bool> finished = waitFor(lookup->done.fd(), POLLIN, deadline, cancelFd);
    if (!finished) return finished.failure();
    if (!*finished) return Failure{EAI_AGAIN, name.host + ": the name lookup took too long"};
    std::lock_guard lock(lookup->mutex);
    if (lookup->code != 0) return lookupFailure(name, lookup->code, lookup->systemError);
    return std::move(lookup->found);
}

// ---- the connect -------------------------------------------------------------

// Every address in turn; each gets an equal share of the time left, so that
// one that swallows its packets leaves time for the next.  The failure is
// that of the last address tried.
Result<int> connectAny(const addrinfo *list, Clock::time_point deadline, int cancelFd) {
    size_t left = 0;
    for (const addrinfo *a = list; a; a = a->ai_next) ++left;
    int lastError = ETIMEDOUT;
    for (const addrinfo *a = list; a; a = a->ai_next, --left) {
        const auto now = Clock::now();
        if (now >= deadline) {
            lastError = ETIMEDOUT;
            break;
        }
        const auto share = now + (deadline - now) / static_cast<int>(left);
        const int fd = socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) return fd;
        if (errno != EINPROGRESS) {
            lastError = errno;
            ::close(fd);
            continue;
        }
        const Result<bool> ready = waitFor(fd, POLLOUT, share, cancelFd);
        int error = ETIMEDOUT;
        if (!ready) {
            ::close(fd);
            return ready.failure();
        }
        if (*ready) {
            socklen_t size = sizeof error;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
            if (error == 0) return fd;
        }
        lastError = error;
        ::close(fd);
    }
    return systemFailure(lastError);
}

// No Nagle delay (a frame of the line goes out as it is written), and
// keep-alive so that a network that dies while the line is idle is noticed.
Result<> setUp(int fd) {
    struct Option {
        int level, name, value;
    };
    const Option options[] = {
        {IPPROTO_TCP, TCP_NODELAY, 1},
        {SOL_SOCKET, SO_KEEPALIVE, 1},
        {IPPROTO_TCP, TCP_KEEPIDLE, NetLink::kKeepIdleS},
        {IPPROTO_TCP, TCP_KEEPINTVL, NetLink::kKeepIntervalS},
        {IPPROTO_TCP, TCP_KEEPCNT, NetLink::kKeepCount},
        {IPPROTO_TCP, TCP_USER_TIMEOUT, NetLink::kUnacknowledgedMs},
    };
    for (const Option &o : options)
        if (setsockopt(fd, o.level, o.name, &o.value, sizeof o.value) != 0)
            return Failure::ofErrno("cannot set up the connection");
    return {};
}

// What a server said before it closed, as one line: printable characters
// only, line ends as spaces, cut to a length a message can hold.
std::string serverText(const uint8_t *bytes, size_t size) {
    std::string text;
    for (size_t i = 0; i < size && text.size() < NetLink::kMaxServerText; ++i) {
        const uint8_t c = bytes[i];
        if (c == '\r' || c == '\n' || c == '\t' || c == ' ') {
            if (!text.empty() && text.back() != ' ') text += ' ';
        } else if (c > 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        }
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace

// ---- NetLink -------------------------------------------------------------------

NetLink::NetLink(int fd, NetworkName name, const core::LineRequest &line)
    : fd_(fd), name_(std::move(name)), codec_(line) {}

NetLink::~NetLink() { close(); }

Result<std::unique_ptr<NetLink>> NetLink::open(const NetworkName &name, const NetLinkOptions &options) {
    if (cancelRequested(options.cancelFd)) return cancelled();
    const auto deadline = Clock::now() + kConnectBound;
    const Result<AddressList> addresses = resolve(name, deadline, options.cancelFd);
    if (!addresses) return addresses.failure();
    const Result<int> connected = connectAny(addresses->list, deadline, options.cancelFd);
    if (!connected) return connected.failure();
    std::unique_ptr<NetLink> link(new NetLink(*connected, name, options.line));
    if (Result<> ready = setUp(link->fd_); !ready) return ready.failure();
    if (link->telnet())
        if (Result<> agreed = link->negotiate(options); !agreed) return agreed.failure();
    if (Result<> settled = link->settle(options); !settled) return settled.failure();
    return link;
}

// Offers, then waits for the server's word on COM-PORT-OPTION, then for the
// answers to the settings that went out with the agreement.  A DONT (or
// WONT) at any point, or silence, means no RFC 2217 here.
Result<> NetLink::negotiate(const NetLinkOptions &options) {
    {
        std::lock_guard lock(mutex_);
        encoded_.clear();
        codec_.start(encoded_);
        if (Result<> sent = sendLocked(encoded_.data(), encoded_.size(), kReplyWaitMs); !sent)
            return sent.failure();
    }
    const auto notSpoken = [] {
        return Failure{EPROTONOSUPPORT, "the server does not speak RFC 2217"};
    };
    auto phase = [&](Clock::time_point deadline, auto done, bool silenceRefuses) -> Result<> {
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (codec_.comPort() == TelnetCodec::ComPort::Refused) return notSpoken();
                if (done()) return {};
            }
            if (closed_) return closedFailure();
            const Result<bool> readable = waitReadable(deadline, options.cancelFd);
            if (!readable) return readable.failure();
            if (!*readable) return silenceRefuses ? Result<>(notSpoken()) : Result<>();
            if (Result<> filled = fill(); !filled) return filled.failure();
        }
    };
    if (Result<> offered = phase(Clock::now() + kComPortAnswerBound,
                                 [&] { return codec_.comPort() == TelnetCodec::ComPort::Accepted; }, true);
        !offered)
        return offered;
    const Result<> answered =
        phase(Clock::now() + kSettingsAnswerBound, [&] { return codec_.settingsAnswered(); }, false);
    std::lock_guard lock(mutex_);
    codec_.endNegotiation();
    return answered;
}

// A server that takes the connection only to say it is busy closes it at
// once; the time the open waits anyway is spent watching for that.
Result<> NetLink::settle(const NetLinkOptions &options) {
    const auto deadline = Clock::now() + options.settle;
    for (;;) {
        if (closed_) return closedFailure();
        if (telnet()) {
            std::lock_guard lock(mutex_);
            if (codec_.comPort() == TelnetCodec::ComPort::Refused)
                return Failure{EPROTONOSUPPORT, "the server does not speak RFC 2217"};
        }
        const Result<bool> readable = waitReadable(deadline, options.cancelFd);
        if (!readable) return readable.failure();
        if (!*readable) return {};
        if (Result<> filled = fill(); !filled) return filled.failure();
    }
}

Result<bool> NetLink::waitReadable(Clock::time_point deadline, int cancelFd) {
    return waitFor(fd_, POLLIN, deadline, cancelFd);
}

Failure NetLink::closedFailure() const {
    const std::string text = serverText(in_.data() + pendingBegin_, pendingEnd_ - pendingBegin_);
    return Failure{ECONNRESET, "the server closed the connection" + (text.empty() ? "" : " (" + text + ")")};
}

// One read of the socket, its data appended to what is pending, the
// codec's answers sent back.  A server gone shows as closed, not as a
// failed answer.
Result<> NetLink::fill() {
    uint8_t chunk[kReadChunk];
    ssize_t n;
    do n = recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    if (n == 0 || (n < 0 && errno == ECONNRESET)) {
        closed_ = true;
        return {};
    }
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return {};
        return systemFailure(errno);
    }
    size_t count = static_cast<size_t>(n);
    std::unique_lock lock(mutex_, std::defer_lock);
    if (telnet()) {
        lock.lock();
        output_.clear();
        count = codec_.receive(chunk, count, output_);
        for (const TelnetEvent &e : output_.events) {
            if (e.kind == TelnetEvent::Kind::LineError) lineState_ |= e.detail;
            if (e.kind == TelnetEvent::Kind::ComPortRefused && codec_.negotiationOver())
                diag("%s: the server withdrew COM-PORT-OPTION; the line goes on as it is", name_.text.c_str());
        }
    }
    if (pendingBegin_ == pendingEnd_) pendingBegin_ = pendingEnd_ = 0;
    if (in_.size() < pendingEnd_ + count) in_.resize(pendingEnd_ + count);
    std::copy(chunk, chunk + count, in_.begin() + static_cast<std::ptrdiff_t>(pendingEnd_));
    pendingEnd_ += count;
    if (!lock.owns_lock() || output_.reply.empty()) return {};
    const Result<> sent = sendLocked(output_.reply.data(), output_.reply.size(), kReplyWaitMs);
    if (!sent && (sent.failure().error == EPIPE || sent.failure().error == ECONNRESET)) {
        closed_ = true;
        return {};
    }
    return sent;
}

Result<NetLink::Got> NetLink::read(uint8_t *buffer, size_t size) {
    if (!pending() && !closed_)
        if (Result<> filled = fill(); !filled) return filled.failure();
    Got got;
    got.lineState = std::exchange(lineState_, 0);
    got.count = std::min(size, pendingEnd_ - pendingBegin_);
    std::copy_n(in_.begin() + static_cast<std::ptrdiff_t>(pendingBegin_), got.count, buffer);
    pendingBegin_ += got.count;
    got.closed = closed_ && !pending();
    return got;
}

Result<> NetLink::sendLocked(const uint8_t *data, size_t size, int waitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    while (size > 0) {
        const ssize_t n = send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return systemFailure(errno);
        const Result<bool> room = waitFor(fd_, POLLOUT, deadline, -1);
        if (!room) return room.failure();
        if (!*room) return Failure{EAGAIN, "the server took no data in time"};
    }
    return {};
}

Result<> NetLink::write(const uint8_t *data, size_t size, int waitMs) {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return systemFailure(EBADF);
    if (!telnet()) return sendLocked(data, size, waitMs);
    encoded_.clear();
    codec_.encode(data, size, encoded_);
    return sendLocked(encoded_.data(), encoded_.size(), waitMs);
}

bool NetLink::setDtr(bool on) { return sendControl(&TelnetCodec::dtrControl, on, "DTR"); }

bool NetLink::setRts(bool on) { return sendControl(&TelnetCodec::rtsControl, on, "RTS"); }

bool NetLink::sendControl(bool (TelnetCodec::*control)(bool, std::vector<uint8_t> &) const, bool on,
                          const char *line) {
    std::lock_guard lock(mutex_);
    encoded_.clear();
    if (fd_ < 0 || !telnet() || !(codec_.*control)(on, encoded_)) return false;
    if (Result<> sent = sendLocked(encoded_.data(), encoded_.size(), kReplyWaitMs); !sent)
        diag("%s: cannot send %s %s: %s", name_.text.c_str(), line, on ? "on" : "off", sent.failure().why.c_str());
    return true;
}

std::string NetLink::refusedSettings() const {
    std::lock_guard lock(mutex_);
    return telnet() ? codec_.refusedSettings() : std::string();
}

// As a local line's close lowers RTS and DTR, so does this one's, without
// waiting for a word back; the write side is shut first so that the server
// sees an orderly end after the last bytes written.
void NetLink::close() {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return;
    encoded_.clear();
    if (telnet() && codec_.rtsControl(false, encoded_) && codec_.dtrControl(false, encoded_)) {
        ssize_t ignored = send(fd_, encoded_.data(), encoded_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        (void)ignored;
    }
    shutdown(fd_, SHUT_WR);
    uint8_t drop[kReadChunk];
    for (int i = 0; i < 16 && recv(fd_, drop, sizeof drop, MSG_DONTWAIT) > 0; ++i) {
    }
    ::close(fd_);
    fd_ = -1;
}

}  // namespace rslink::platform
