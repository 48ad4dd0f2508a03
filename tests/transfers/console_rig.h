// The whole console on the in-memory panel, against the simulated unit on a
// pty: the console's buttons, SendThread, the link driver and the unit.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "fakes.h"
#include "support/bdusim_process.h"
#include "support/wait.h"
#include "valdor/console/console.h"

namespace transfers_test {

using namespace std::chrono_literals;

inline std::vector<uint8_t> unhex(const std::string &text) {
    std::vector<uint8_t> bytes;
    std::istringstream in(text);
    std::string pair;
    while (in >> pair) bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
    return bytes;
}

class ConsoleRig : public ::testing::Test {
protected:
    static constexpr int kCom = 3;

    void TearDown() override {
        if (console) console->exit();
    }

    // A new unit on COM3 (the console, if any, reopens to reach it).
    void startUnit(std::vector<std::string> options = {}) {
        options.push_back("--trace-requests");
        unit = std::make_unique<testsupport::Bdusim>(options);
        unit->mapCom(kCom);
    }

    void openConsole() {
        panel.setMessageObserver([this](const std::string &line) {
            if (line.size() > 120) return;  // trace lines
            std::lock_guard lock(countsMutex);
            ++counts[line];
        });
        console = std::make_unique<valdor::Console>(panel, host);
        console->initialise();
        panel.setSelection(valdor::ctl::ComPort, kCom - 1);
        open();
    }

    void open() {
        console->press(valdor::ctl::ComOpen);
        ASSERT_TRUE(console->portOpen());
    }

    uint64_t frames() const { return console->worker().framesHandled(); }

    // Lines counted as they reach the message box, so that waiting does not
    // copy a box that holds megabytes of trace.
    size_t count(const std::string &line) const {
        std::lock_guard lock(countsMutex);
        auto it = counts.find(line);
        return it == counts.end() ? 0 : it->second;
    }

    bool waitForMessage(const std::string &line, size_t times = 1, std::chrono::milliseconds timeout = 60s) const {
        return testsupport::waitUntil([&] { return count(line) >= times; }, timeout);
    }

    // The requests the unit took, in order; with `code`, only those.
    std::vector<std::vector<uint8_t>> requests(int code = -1) const {
        std::vector<std::vector<uint8_t>> out;
        for (auto &line : unit->lines()) {
            if (line.rfind("REQ ", 0) != 0) continue;
            auto bytes = unhex(line.substr(4));
            if (code < 0 || (bytes.size() > 1 && bytes[1] == code)) out.push_back(bytes);
        }
        return out;
    }

    // Presses "Status Read" and waits for its answer: whatever the worker
    // had queued before has been sent by then.
    void roundTrip() {
        size_t before = count("Receive Normal End");
        console->press(valdor::ctl::StatusRead);
        ASSERT_TRUE(waitForMessage("Receive Normal End", before + 1));
    }

    mutable std::mutex countsMutex;
    std::map<std::string, size_t> counts;
    valdor::MemoryPanel panel;
    FakeHost host;
    TempDir dir;
    std::unique_ptr<testsupport::Bdusim> unit;
    std::unique_ptr<valdor::Console> console;
};

}  // namespace transfers_test
