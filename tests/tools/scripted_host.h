// A small scripted host for the simulated unit's tests: opens the unit's
// pty and plays the host's side of the line by hand, byte by byte, so that
// each test can say exactly what goes over the line.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/bdusim_process.h"

namespace toolstest {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

inline constexpr uint8_t STX = 0x02, ETX = 0x03, ENQ = 0x05, ACK = 0x06, DLE = 0x10, NAK = 0x15;

// CRC-16/KERMIT, written out here so the tests do not lean on the code under test.
uint16_t kermit(const uint8_t *data, size_t size, uint16_t crc = 0);
inline uint16_t kermit(const Bytes &data) { return kermit(data.data(), data.size()); }

// DLE STX, length, text, DLE ETX, check code (low byte first).
Bytes frameOf(const Bytes &text);

struct Received {
    Bytes text;
    bool crcGood = false;
};

class ScriptedHost {
public:
    explicit ScriptedHost(std::string path);
    ~ScriptedHost();
    ScriptedHost(const ScriptedHost &) = delete;
    ScriptedHost &operator=(const ScriptedHost &) = delete;

    void close();
    void reopen();

    void write(const Bytes &bytes);
    void writePair(uint8_t control) { write({DLE, control}); }

    // Up to `count` bytes, fewer when `timeout` passes first.
    Bytes read(size_t count, milliseconds timeout = milliseconds(5000));
    // Everything that arrives within `quiet` of the last byte.
    Bytes drain(milliseconds quiet);
    // The control byte of the next DLE pair; the bytes skipped before the
    // DLE are added to `skipped` when given.
    std::optional<uint8_t> nextControl(milliseconds timeout = milliseconds(5000), Bytes *skipped = nullptr);
    // After the host granted a bid: the unit's frame (skipping bytes before
    // its DLE STX).
    std::optional<Received> readFrame(milliseconds timeout = milliseconds(5000));

    // Bid, send the text once granted; returns the unit's answer to the
    // frame (ACK, NAK, ENQ) or nothing.
    std::optional<uint8_t> sendRequest(const Bytes &text);
    // Waits for the unit's bid, grants it, takes the frame and acknowledges
    // it when good.
    std::optional<Received> takeResponse(milliseconds timeout = milliseconds(5000));
    // One whole exchange; an empty text when anything went wrong (and a
    // test failure recorded).
    Bytes exchange(const Bytes &request);

private:
    std::optional<uint8_t> readByte(milliseconds timeout);

    std::string path_;
    int fd_ = -1;
};

// The simulated unit with the given options and a host on its line.
struct Rig {
    explicit Rig(std::vector<std::string> options = {}) : unit(std::move(options)), host(unit.path()) {}
    testsupport::Bdusim unit;
    ScriptedHost host;
};

// Request texts.
inline const Bytes kStatusRead{0x00, 0x01, 0x1C};
Bytes basic(uint8_t code, const Bytes &params);
Bytes enhanced(uint8_t code, const Bytes &params);

}  // namespace toolstest
