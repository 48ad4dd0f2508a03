#include "rslink/platform/network_port.h"

#include <cerrno>
#include <cstring>

#include <poll.h>

#include "rslink/platform/diag.h"

namespace rslink::platform {

namespace {

// The line-state bits in words, for the diagnostic.
std::string lineErrorWords(uint8_t state) {
    using namespace core::telnet;
    struct Bit {
        uint8_t mask;
        const char *word;
    };
    constexpr Bit kBits[] = {{kFramingError, "framing"}, {kParityError, "parity"},
                             {kOverrunError, "overrun"}, {kBreakDetect, "break"}};
    std::string words;
    for (const Bit &b : kBits)
        if (state & b.mask) words += (words.empty() ? "" : ", ") + std::string(b.word);
    return words;
}

}  // namespace

Result<std::unique_ptr<NetworkPort>> NetworkPort::open(const core::NetworkName &name,
                                                       const NetLinkOptions &options) {
    Result<WakeSignal> wake = WakeSignal::create();
    if (!wake) return wake.failure();
    Result<std::unique_ptr<NetLink>> link = NetLink::open(name, options);
    if (!link) return link.failure();
    return std::unique_ptr<NetworkPort>(new NetworkPort(std::move(*link), std::move(*wake)));
}

NetworkPort::NetworkPort(std::unique_ptr<NetLink> link, WakeSignal wake)
    : link_(std::move(link)), wake_(std::move(wake)) {}

NetworkPort::~NetworkPort() { close(); }

void NetworkPort::markGone(const char *what, int error) {
    if (goneError_.load() == 0) goneError_.store(error);
    if (!gone_.exchange(true))
        diag("%s on %s: %s; the line is gone", what, path().c_str(),
             error == ECONNRESET ? "the server closed the connection" : std::strerror(error));
}

// The rest of what came with a line error, to the capture only: the server
// does not say which of the bytes it spoiled.
void NetworkPort::dropPending() {
    uint8_t bytes[256];
    while (link_->pending()) {
        const Result<NetLink::Got> got = link_->read(bytes, sizeof bytes);
        if (!got) return;
        if (auto *l = listener_.load(std::memory_order_acquire)) l->received(bytes, got->count);
    }
}

// A NOTIFY-LINESTATE with an error bit fails the read that brings it, as a
// line error flagged by a local port does, and the bytes that came with it
// are dropped; they still go to the capture, as they were on the line.
core::ReadResult NetworkPort::read(uint8_t *buffer, size_t size) {
    if (gone_.load()) return {true, 0};
    if (!link_->pending()) {
        short events = 0;
        if (wake_.waitReadable(link_->fd(), kReadSliceMs, events) < 0) {
            if (errno == EINTR) return {false, 0};
            markGone("poll", errno);
            return {true, 0};
        }
        if (events == 0) {
            if (auto *l = listener_.load(std::memory_order_acquire)) l->quiet();
            return {false, 0};
        }
    }
    const Result<NetLink::Got> got = link_->read(buffer, size);
    if (!got) {
        markGone("read", got.failure().error);
        return {true, 0};
    }
    if (got->count)
        if (auto *l = listener_.load(std::memory_order_acquire)) l->received(buffer, got->count);
    if (got->lineState & core::telnet::kLineErrorBits) {
        diag("line error on %s (%s; line state 0x%02X)", path().c_str(),
             lineErrorWords(got->lineState).c_str(), got->lineState);
        dropPending();
        return {true, 0};
    }
    if (got->count == 0 && got->closed) {
        markGone("read", ECONNRESET);
        return {true, 0};
    }
    return {false, got->count};
}

bool NetworkPort::write(const uint8_t *data, size_t size) {
    if (gone_.load()) return false;
    if (auto *l = listener_.load(std::memory_order_acquire)) l->sent(data, size);
    const Result<> sent = link_->write(data, size, kWriteBoundMs);
    if (sent) return true;
    if (sent.failure().error == EAGAIN)
        diag("write to %s did not complete within %d ms", path().c_str(), kWriteBoundMs);
    else
        markGone("write", sent.failure().error);
    return false;
}

void NetworkPort::close() {
    link_->close();
    gone_.store(true);
}

}  // namespace rslink::platform
