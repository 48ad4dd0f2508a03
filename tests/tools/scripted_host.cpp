#include "scripted_host.h"

#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "rslink/platform/fd_io.h"
#include "support/wait.h"

namespace toolstest {

uint16_t kermit(const uint8_t *data, size_t size, uint16_t crc) {
    for (size_t i = 0; i < size; ++i) {
        uint8_t byte = data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = ((crc ^ byte) & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
            byte >>= 1;
        }
    }
    return crc;
}

Bytes frameOf(const Bytes &text) {
    Bytes covered{static_cast<uint8_t>(text.size() >> 8), static_cast<uint8_t>(text.size())};
    covered.insert(covered.end(), text.begin(), text.end());
    covered.push_back(DLE);
    covered.push_back(ETX);
    const uint16_t crc = kermit(covered);
    Bytes frame{DLE, STX};
    frame.insert(frame.end(), covered.begin(), covered.end());
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

Bytes basic(uint8_t code, const Bytes &params) {
    Bytes text{0x60, code, static_cast<uint8_t>(params.size())};
    text.insert(text.end(), params.begin(), params.end());
    text.push_back(0x1C);
    return text;
}

Bytes enhanced(uint8_t code, const Bytes &params) {
    const size_t n = params.size();
    Bytes text{0x60, code, 0xFF, static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
               static_cast<uint8_t>(n)};
    text.insert(text.end(), params.begin(), params.end());
    text.push_back(0x1C);
    return text;
}

ScriptedHost::ScriptedHost(std::string path) : path_(std::move(path)) { reopen(); }

ScriptedHost::~ScriptedHost() { close(); }

void ScriptedHost::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void ScriptedHost::reopen() {
    close();
    fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path_);
    if (!rslink::platform::makeRaw(fd_)) throw std::runtime_error("cannot set " + path_ + " raw");
}

void ScriptedHost::write(const Bytes &bytes) {
    if (const auto written = rslink::platform::writeAll(fd_, bytes.data(), bytes.size()); !written)
        ADD_FAILURE() << "write to the unit failed: " << written.failure().why;
}

std::optional<uint8_t> ScriptedHost::readByte(milliseconds timeout) {
    const testsupport::Deadline deadline(timeout);
    for (;;) {
        uint8_t byte;
        const ssize_t n = ::read(fd_, &byte, 1);
        if (n == 1) return byte;
        if (deadline.passed()) return std::nullopt;
        pollfd p{fd_, POLLIN, 0};
        poll(&p, 1, static_cast<int>(deadline.left().count()));
    }
}

Bytes ScriptedHost::read(size_t count, milliseconds timeout) {
    const testsupport::Deadline deadline(timeout);
    Bytes bytes;
    while (bytes.size() < count) {
        const auto byte = readByte(deadline.left());
        if (!byte) break;
        bytes.push_back(*byte);
    }
    return bytes;
}

Bytes ScriptedHost::drain(milliseconds quiet) {
    Bytes bytes;
    while (const auto byte = readByte(quiet)) bytes.push_back(*byte);
    return bytes;
}

std::optional<uint8_t> ScriptedHost::nextControl(milliseconds timeout, Bytes *skipped) {
    const testsupport::Deadline deadline(timeout);
    for (;;) {
        const auto byte = readByte(deadline.left());
        if (!byte) return std::nullopt;
        if (*byte == DLE) return readByte(deadline.left());
        if (skipped) skipped->push_back(*byte);
    }
}

std::optional<Received> ScriptedHost::readFrame(milliseconds timeout) {
    if (nextControl(timeout) != STX) return std::nullopt;
    const Bytes length = read(2);
    if (length.size() != 2) return std::nullopt;
    const size_t n = static_cast<size_t>(length[0]) << 8 | length[1];
    const Bytes rest = read(n + 4);
    if (rest.size() != n + 4 || rest[n] != DLE || rest[n + 1] != ETX) return std::nullopt;
    Bytes covered = length;
    covered.insert(covered.end(), rest.begin(), rest.begin() + static_cast<long>(n) + 2);
    Received received;
    received.text.assign(rest.begin(), rest.begin() + static_cast<long>(n));
    received.crcGood = kermit(covered) == (rest[n + 2] | rest[n + 3] << 8);
    return received;
}

std::optional<uint8_t> ScriptedHost::sendRequest(const Bytes &text) {
    writePair(ENQ);
    const auto grant = nextControl();
    if (grant != ACK) return grant;
    write(frameOf(text));
    return nextControl();
}

std::optional<Received> ScriptedHost::takeResponse(milliseconds timeout) {
    if (nextControl(timeout) != ENQ) return std::nullopt;
    writePair(ACK);
    auto received = readFrame();
    if (received) writePair(received->crcGood ? ACK : NAK);
    return received;
}

Bytes ScriptedHost::exchange(const Bytes &request) {
    const auto answer = sendRequest(request);
    if (answer != ACK) {
        ADD_FAILURE() << "the unit did not acknowledge the request";
        return {};
    }
    const auto response = takeResponse();
    if (!response || !response->crcGood) {
        ADD_FAILURE() << "no good response frame";
        return {};
    }
    return response->text;
}

}  // namespace toolstest
