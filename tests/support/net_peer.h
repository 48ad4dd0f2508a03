// A scripted serial port server on the loopback address, for the network
// port's tests: it listens on a free port of 127.0.0.1, takes the driver's
// connection, and the test writes the server's bytes (as they are, or one
// byte a segment) and reads what the driver sent.  For an rfc2217:// peer
// the telnet commands the driver sent are kept apart from its data, so a
// test reads the line's bytes and looks at the commands on their own.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "support/pty_peer.h"

namespace testsupport {

class NetPeer {
public:
    NetPeer();  // listening; throws when it cannot
    ~NetPeer();
    NetPeer(const NetPeer &) = delete;
    NetPeer &operator=(const NetPeer &) = delete;

    // "tcp://127.0.0.1:PORT" for scheme "tcp", and so on.
    std::string url(const std::string &scheme) const;
    // RSLINK_COM<n> = url(scheme).
    void mapCom(int n, const std::string &scheme) const;

    // Takes the next connection; false when none came in `timeout`.
    bool accept(milliseconds timeout = milliseconds(5000));

    // The server's bytes as they are; `bytewise`: each in a segment of its
    // own, a moment apart, so that the driver's reads cut everything.
    void sendRaw(const Bytes &bytes, bool bytewise = false);
    // The line's data as the server sends it: over telnet, 0xFF doubled.
    void send(const Bytes &data, bool bytewise = false);

    // Reads until `count` bytes of the line's data came (telnet commands
    // taken out when `telnet`), or `timeout` passed; returns what came.
    Bytes read(size_t count, milliseconds timeout = milliseconds(5000));
    // Whatever data arrives within `window`.
    Bytes drain(milliseconds window);
    // Reads until the driver has sent `command` (as hex, "FF FA 2C 05 09 FF
    // F0"), data kept for read(); false after `timeout`.
    bool waitForCommand(const std::string &command, milliseconds timeout = milliseconds(5000));
    // The telnet commands the driver sent so far, one a string of hex.
    const std::vector<std::string> &commands() const { return commands_; }

    // Whether the driver's side ended the connection within `timeout`.
    bool sawClose(milliseconds timeout);
    // Ends the connection from the server's side.
    void close();

    bool telnet = false;  // take the driver's bytes apart as telnet

private:
    void take(const uint8_t *bytes, size_t size);
    bool pump(milliseconds timeout);  // one read; false: nothing or closed

    int listen_ = -1;
    int conn_ = -1;
    uint16_t port_ = 0;
    bool closed_ = false;
    Bytes data_;
    std::vector<std::string> commands_;
    Bytes command_;  // a command being read
    bool subIac_ = false;  // inside it, an IAC not yet paired
};

}  // namespace testsupport
