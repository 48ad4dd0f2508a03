// The whole console against the simulated unit: bdusim on a pty, the real
// driver, SendThread and the console logic on a MemoryPanel.  Lines of the
// message box are collected as they are appended, with the time each came,
// so that a test can wait for a line, wait for quiet, and compare what the
// console said with what it should have said.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/bdusim_process.h"
#include "support/fake_host.h"
#include "valdor/console/console.h"
#include "valdor/panel/memory_panel.h"

namespace faults {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// A message line reduced to what a test compares: a trace line becomes
// "SEND xx" or "RECV xx" with xx the text's second byte (the command code
// of a request, DH1 of a response); every other line stays as it is.
std::string shapeOf(const std::string &line);

// The text bytes of a trace line.
Bytes traceBytes(const std::string &line);

class LineRig {
public:
    struct Setup {
        int com = 2;
        bool showMessages = true;   // false: 1241 cleared after the open
        bool traceRequests = true;  // bdusim prints each request (see requests())
    };

    // Starts bdusim with `unitOptions`, maps COM `setup.com` to it, starts
    // the console and opens the port.
    explicit LineRig(std::vector<std::string> unitOptions);
    LineRig(std::vector<std::string> unitOptions, Setup setup);
    ~LineRig();
    LineRig(const LineRig &) = delete;
    LineRig &operator=(const LineRig &) = delete;

    valdor::Console &console() { return *console_; }
    valdor::MemoryPanel &panel() { return panel_; }
    // Its file dialog answers each path pushed to host().answers once, then cancels.
    testsupport::FakeHost &host() { return host_; }
    testsupport::Bdusim &unit() { return *unit_; }

    // Presses an enabled button as a click would; false when it is disabled.
    bool press(int button);

    // The number of lines so far: a mark to look from.
    size_t mark() const;
    std::vector<std::string> linesSince(size_t from) const;
    std::vector<std::string> shapesSince(size_t from) const;

    // Waits until `line` has come `times` times since `from`.
    bool waitForLine(const std::string &line, size_t times, size_t from,
                     std::chrono::milliseconds timeout) const;
    // Waits until no line has come for `quiet`; false when lines keep coming
    // until `timeout`.
    bool waitForQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) const;

    // The requests the unit took, in order (its REQ lines).
    std::vector<Bytes> requests() const;

    // COM Close, timed; then COM Open again.  Each returns how long the
    // press took, and whether the port ended up as expected.
    std::chrono::milliseconds closePort();
    bool reopenPort();

private:
    void collect(const std::string &line);

    valdor::MemoryPanel panel_;
    testsupport::FakeHost host_;
    std::unique_ptr<testsupport::Bdusim> unit_;
    std::unique_ptr<valdor::Console> console_;

    mutable std::mutex linesMutex_;
    mutable std::condition_variable linesChanged_;
    std::vector<std::string> lines_;
    Clock::time_point lastLine_ = Clock::now();
};

}  // namespace faults
