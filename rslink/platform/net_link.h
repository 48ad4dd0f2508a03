// A serial line reached over the network, through a serial device server
// or ser2net: the connection (every address of the name tried in turn, with
// a bound), the socket's set-up (no Nagle delay, keep-alive), and over
// rfc2217:// the telnet conversation that sets the line and carries its
// bytes.  No state beyond the one connection, so the driver's network port
// and the line monitor's relay both use it.
//
// One reader and any number of writers at a time: the telnet codec and the
// socket's writes are guarded inside.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rslink/core/port_name.h"
#include "rslink/core/result.h"
#include "rslink/core/telnet_codec.h"

namespace rslink::platform {

struct NetLinkOptions {
    core::LineRequest line;  // what rfc2217:// asks the server for
    // Readable (an eventfd written to): give up at once with ECANCELED.
    int cancelFd = -1;
    // After connecting (and negotiating), how long to watch for a server
    // that takes the connection only to close it ("in use").
    std::chrono::milliseconds settle{0};
};

class NetLink {
public:
    // The name lookup and the connect together, over every address.
    static constexpr auto kConnectBound = std::chrono::seconds(5);
    // Silence after WILL COM-PORT-OPTION: the server does not speak RFC 2217.
    static constexpr auto kComPortAnswerBound = std::chrono::seconds(5);
    // How long the line settings' answers are waited for; one that comes
    // later is dropped and its setting taken as made.
    static constexpr auto kSettingsAnswerBound = std::chrono::seconds(2);
    // Keep-alive: probes after 10 s of silence, 5 s apart, 3 unanswered
    // ones end the connection; with the same bound on data the server has
    // not acknowledged, a dead network is noticed within 25 s.
    static constexpr int kKeepIdleS = 10;
    static constexpr int kKeepIntervalS = 5;
    static constexpr int kKeepCount = 3;
    static constexpr int kUnacknowledgedMs = 25000;
    // Longest text of a server that closes at once that a failure quotes.
    static constexpr size_t kMaxServerText = 80;

    // Connects to `name` and, for rfc2217://, negotiates.  A failure's
    // `why` is the reason alone, as it follows "cannot open NAME: "; its
    // `error` is the system's error number (ECONNREFUSED, ETIMEDOUT, ...),
    // ECONNRESET for a server that closed the connection, EPROTONOSUPPORT
    // for one that does not speak RFC 2217, ECANCELED when cancelled, or
    // for a name the resolver could not resolve its own code (EAI_*, below
    // zero).
    static Result<std::unique_ptr<NetLink>> open(const core::NetworkName &name,
                                                 const NetLinkOptions &options);
    ~NetLink();
    NetLink(const NetLink &) = delete;
    NetLink &operator=(const NetLink &) = delete;

    int fd() const { return fd_; }
    const core::NetworkName &name() const { return name_; }
    bool telnet() const { return name_.scheme == core::NetworkName::Scheme::Rfc2217; }

    // Line data already taken from the socket and not yet read: a caller
    // that waits in poll() on fd() reads these first.
    bool pending() const { return pendingBegin_ < pendingEnd_; }

    struct Got {
        size_t count = 0;       // the line's data bytes, at the buffer's front
        uint8_t lineState = 0;  // RFC 2217 line-error bits that came with them
        bool closed = false;    // the server closed the connection
    };
    // The pending bytes, or one read of what the socket holds, without
    // waiting: telnet taken out, answers sent back.  A failure is the
    // socket's (ECONNRESET, ETIMEDOUT from keep-alive, ...).
    Result<Got> read(uint8_t *buffer, size_t size);

    // Writes the line's bytes (for rfc2217:// with 0xFF doubled, and CR as
    // CR NUL while the server has not agreed to binary), waiting at most
    // `waitMs` for room; EAGAIN when none came.
    Result<> write(const uint8_t *data, size_t size, int waitMs);

    // rfc2217:// only: SET-CONTROL DTR / RTS on or off, with no wait for an
    // answer.  False over tcp:// (nothing sent).
    bool setDtr(bool on);
    bool setRts(bool on);

    // The settings the server answered with other values, e.g. "parity
    // NONE, not EVEN; stop bits 2, not 1"; empty when none.
    std::string refusedSettings() const;

    // Ends the connection without waiting for anything from the server:
    // what was written is let go, what is unread is dropped.
    void close();

private:
    NetLink(int fd, core::NetworkName name, const core::LineRequest &line);
    Result<> negotiate(const NetLinkOptions &options);
    Result<> settle(const NetLinkOptions &options);
    // Waits for input until `deadline`; false when it passed or cancelled
    // (then *cancelled says which).
    Result<bool> waitReadable(std::chrono::steady_clock::time_point deadline, int cancelFd);
    Result<> fill();
    Result<> sendLocked(const uint8_t *data, size_t size, int waitMs);
    bool sendControl(bool (core::TelnetCodec::*control)(bool, std::vector<uint8_t> &) const, bool on,
                     const char *line);
    Failure closedFailure() const;

    int fd_;
    const core::NetworkName name_;
    mutable std::mutex mutex_;  // the codec and the socket's writes
    core::TelnetCodec codec_;
    core::TelnetOutput output_;  // under mutex_
    std::vector<uint8_t> encoded_;  // under mutex_

    // Reader side only.
    std::vector<uint8_t> in_;
    size_t pendingBegin_ = 0;
    size_t pendingEnd_ = 0;
    uint8_t lineState_ = 0;
    bool closed_ = false;
    std::string firstText_;  // what the server sent before a close at open
};

}  // namespace rslink::platform
