// The whole console on the in-memory panel, against the simulated unit on a
// pty: the console's buttons, SendThread, the link driver and the unit.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fakes.h"
#include "support/bdusim_process.h"
#include "support/wait.h"
#include "valdor/console/console.h"

namespace transfers_test {

using namespace std::chrono_literals;

class ConsoleRig : public ::testing::Test {
protected:
    static constexpr int kCom = 3;
    static constexpr int kStatusReadCode = 0x01;  // second byte of its request

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
    std::vector<std::vector<uint8_t>> requests(int code = -1) const { return unit->requests(code); }

    // Presses "Status Read" and waits for its frame: it is answered and
    // decoded as such, and the worker lives on.
    void statusReadAnswered() {
        panel.setText(valdor::ctl::Dh0Dh1, "");
        const uint64_t before = frames();
        const size_t taken = unit->requests(kStatusReadCode).size();
        console->press(valdor::ctl::StatusRead);
        // Its own answer, not any frame: a unit may still deliver a late
        // answer to a request from before a COM Close (it retries its bid).
        ASSERT_TRUE(testsupport::waitUntil([&] {
            return frames() > before && panel.text(valdor::ctl::Dh0Dh1) == "E001";
        }));
        // The unit's printed lines come through a pipe of their own and may
        // trail the answer: wait for the request's line, so that a count of
        // lines taken now holds everything the unit printed before it.
        ASSERT_TRUE(testsupport::waitUntil([&] { return unit->requests(kStatusReadCode).size() > taken; }));
        EXPECT_EQ(panel.text(valdor::ctl::Dh0Dh1), "E001");
        EXPECT_FALSE(console->worker().ended());
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
