#include "line_rig.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <stdexcept>

#include "support/pty_peer.h"
#include "valdor/panel/controls.h"

namespace faults {

namespace ctl = valdor::ctl;

Bytes traceBytes(const std::string &line) {
    const size_t start = line.find("]>");
    return start == std::string::npos ? Bytes{} : testsupport::hex(line.substr(start + 2));
}

std::string shapeOf(const std::string &line) {
    const bool send = line.rfind("SEND[", 0) == 0;
    if (!send && line.rfind("RECV[", 0) != 0) return line;
    const Bytes bytes = traceBytes(line);
    char code[8] = "--";
    if (bytes.size() > 1) std::snprintf(code, sizeof code, "%02X", bytes[1]);
    return std::string(send ? "SEND " : "RECV ") + code;
}

LineRig::LineRig(std::vector<std::string> unitOptions) : LineRig(std::move(unitOptions), Setup{}) {}

LineRig::LineRig(std::vector<std::string> unitOptions, Setup setup) {
    if (setup.traceRequests) unitOptions.push_back("--trace-requests");
    const int com = setup.com;
    unit_ = std::make_unique<testsupport::Bdusim>(unitOptions);
    unit_->mapCom(com);
    panel_.setMessageObserver([this](const std::string &line) { collect(line); });
    console_ = std::make_unique<valdor::Console>(panel_, host_);
    console_->initialise();
    panel_.setSelection(ctl::ComPort, com - 1);
    press(ctl::ComOpen);
    if (!console_->portOpen()) throw std::runtime_error("COM Open failed against bdusim");
    if (!setup.showMessages) panel_.setChecked(ctl::ShowMessages, false);
}

LineRig::~LineRig() {
    console_->exit();
    console_.reset();
    unit_.reset();
}

bool LineRig::press(int button) {
    if (!panel_.enabled(button)) return false;
    console_->press(button);
    return true;
}

void LineRig::collect(const std::string &line) {
    {
        std::lock_guard lock(linesMutex_);
        lines_.push_back(line);
        lastLine_ = Clock::now();
    }
    linesChanged_.notify_all();
}

size_t LineRig::mark() const {
    std::lock_guard lock(linesMutex_);
    return lines_.size();
}

std::vector<std::string> LineRig::linesSince(size_t from) const {
    std::lock_guard lock(linesMutex_);
    if (from >= lines_.size()) return {};
    return {lines_.begin() + static_cast<long>(from), lines_.end()};
}

std::vector<std::string> LineRig::shapesSince(size_t from) const {
    std::vector<std::string> shapes;
    for (const auto &line : linesSince(from)) shapes.push_back(shapeOf(line));
    return shapes;
}

bool LineRig::waitForLine(const std::string &line, size_t times, size_t from,
                          std::chrono::milliseconds timeout) const {
    std::unique_lock lock(linesMutex_);
    return linesChanged_.wait_for(lock, timeout, [&] {
        size_t seen = 0;
        for (size_t i = from; i < lines_.size(); ++i) seen += lines_[i] == line ? 1 : 0;
        return seen >= times;
    });
}

bool LineRig::waitForQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    std::unique_lock lock(linesMutex_);
    for (;;) {
        const auto until = lastLine_ + quiet;
        if (Clock::now() >= until) return true;
        if (Clock::now() >= deadline) return false;
        linesChanged_.wait_until(lock, std::min(until, deadline));
    }
}

std::vector<Bytes> LineRig::requests() const { return unit_->requests(); }

std::chrono::milliseconds LineRig::closePort() {
    const auto start = Clock::now();
    press(ctl::ComClose);
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

bool LineRig::reopenPort() {
    const size_t from = mark();
    press(ctl::ComOpen);
    const auto lines = linesSince(from);
    return console_->portOpen() && !lines.empty() && lines.back() == "COM OPEN Completed.";
}

}  // namespace faults
