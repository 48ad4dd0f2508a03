// "COM Close" in the middle of a transfer or an automatic mode: whatever ran
// on the port ends with it, the report keeps exactly what arrived, and the
// worker lives on for the next "COM Open".
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <functional>
#include <thread>
#include <utility>

#include "rslink/analysis/line_tokens.h"
#include "rslink/rslink.h"
#include "support/capture_read.h"
#include "transfers/console_rig.h"
#include "transfers/expected_report.h"

namespace {

using namespace std::chrono_literals;
using testsupport::waitUntil;
namespace ctl = valdor::ctl;

class ComClose : public transfers_test::ConsoleRig {
protected:
    void startUnit(std::vector<std::string> options = {}) {
        ConsoleRig::startUnit(std::move(options));
        openConsole();
    }

    // Nothing goes out on its own for a while: the unit takes no request.
    // (A late answer of the unit's own to a request from before the close
    // may still come in, as a real unit retries its bid: that is no resend.)
    void staysQuiet() {
        size_t requests = unit->lines().size();
        EXPECT_TRUE(testsupport::staysFalse([&] { return unit->lines().size() != requests; }, 700ms));
        EXPECT_EQ(unit->lines().size(), requests);
    }

    // The frames with command code `code` the host wrote after the last COM
    // Open, from the driver's own capture: its marks and bursts are in line
    // order, so a frame already on its way at the close never counts as one
    // after the reopen, however late the unit takes it.
    static size_t sentSinceLastOpen(const std::string &capture, uint8_t code) {
        const auto parsed = testsupport::readCapture(capture);
        EXPECT_TRUE(parsed.ok()) << parsed.error;
        std::vector<uint8_t> sent;
        for (const auto &r : parsed.records) {
            if (r.type == rslink::capture::RecordType::Open) sent.clear();
            if (r.type == rslink::capture::RecordType::Burst && r.direction == rslink::capture::Direction::HostToUnit)
                sent.insert(sent.end(), r.bytes.begin(), r.bytes.end());
        }
        size_t n = 0;
        for (const auto &t : rslink::analysis::splitLine(sent))
            n += t.kind == rslink::analysis::LineToken::Kind::Frame && t.text.size() > 1 && t.text[1] == code;
        return n;
    }
};

TEST_F(ComClose, DuringAnAcquisitionTheReportKeepsExactlyWhatArrived) {
    startUnit({"--delay", "150"});
    std::string report = dir.file("close-midway.txt");
    host.answer = report;
    console->press(ctl::AcquireOpeLog);
    ASSERT_TRUE(waitUntil([&] { return frames() >= 3; }));
    console->press(ctl::ComClose);

    EXPECT_FALSE(transfers_test::heldOpen(report));
    int blocks = static_cast<int>(frames());  // every frame handled was a block of section 0
    ASSERT_GE(blocks, 3);
    ASSERT_LT(blocks, 8);
    std::string written = transfers_test::readText(report);
    EXPECT_EQ(written, transfers_test::expectedReport(transfers_test::unitRecords, false, 0, blocks));

    open();
    statusReadAnswered();
    EXPECT_EQ(transfers_test::readText(report), written);
    EXPECT_EQ(count("Operational Log NORMAL END"), 0u);
    staysQuiet();
}

TEST_F(ComClose, DuringADownloadNoFrameFollowsTheReopen) {
    const std::string capture = dir.file("line.rslcap");
    ASSERT_EQ(RSCapture(capture.c_str()), RS_OK);
    startUnit({"--delay", "150"});
    host.answer = dir.write("close-midway.prg", std::vector<uint8_t>(1214 * 12, 'P'));
    const std::string &program = *host.answer;
    console->press(ctl::DownLoad);
    ASSERT_TRUE(waitUntil([&] { return frames() >= 2; }));
    console->press(ctl::ComClose);
    EXPECT_FALSE(transfers_test::heldOpen(program));

    open();
    statusReadAnswered();
    staysQuiet();
    // A frame on its way at the close may still reach the unit after it:
    // what counts is that none goes out after the reopen.
    EXPECT_LT(requests(0xD1).size(), 12u);
    EXPECT_EQ(RSCapture(nullptr), RS_OK);
    EXPECT_EQ(sentSinceLastOpen(capture, 0xD1), 0u);
    EXPECT_EQ(sentSinceLastOpen(capture, 0x01), 1u);  // the status read: the capture saw the reopen
    EXPECT_TRUE(requests(0xD2).empty());
    EXPECT_EQ(count("DOWNLOAD NORMAL END"), 0u);
}

// The repeat mode, then the count-and-transport sequence, on one console.
TEST_F(ComClose, DuringAnAutomaticModeNothingIsResentAfterTheReopen) {
    startUnit();
    for (bool sequence : {false, true}) {
        SCOPED_TRACE(sequence ? "count and transport" : "repeat");
        const uint64_t before = frames();
        if (sequence) {
            panel.setChecked(ctl::SequenceFront, true);
            console->press(ctl::BillCountTransport);
        } else {
            panel.setChecked(ctl::ContinuousMode, true);
            console->press(ctl::StatusRead);
        }
        ASSERT_TRUE(waitUntil([&] { return frames() >= before + 4; }));
        console->press(ctl::ComClose);
        EXPECT_FALSE(panel.checked(ctl::ContinuousMode));
        EXPECT_EQ(console->worker().sequence(), valdor::SequenceView{});

        open();
        staysQuiet();
        statusReadAnswered();
        staysQuiet();
    }
}

// Holds the worker inside a call until released, so that notifications pile
// up in its queue while the port is closed under it.
class WorkerLatch {
public:
    explicit WorkerLatch(valdor::SendThread &worker) {
        holder_ = std::thread([this, &worker] {
            worker.runOnWorker([this] {
                std::unique_lock lock(mutex_);
                held_ = true;
                changed_.notify_all();
                changed_.wait(lock, [this] { return released_; });
            });
        });
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return held_; });
    }
    ~WorkerLatch() { release(); }
    void release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
            changed_.notify_all();
        }
        if (holder_.joinable()) holder_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false, released_ = false;
    std::thread holder_;
};

// Presses "COM Close" with the worker held; the worker is let go once the
// port is closed, before COM Close ends what ran on it, so that whatever it
// had queued meets a closed port.
void closeUnderAHeldWorker(valdor::Console &console, transfers_test::FakeHost &host,
                           const std::function<void()> &whileHeld = {}) {
    WorkerLatch latch(console.worker());
    if (whileHeld) whileHeld();
    bool first = true;
    host.afterBlockingCall = [&] {
        if (std::exchange(first, false)) latch.release();  // after RSClose, before the reset
    };
    console.press(ctl::ComClose);
    host.afterBlockingCall = nullptr;
}

TEST_F(ComClose, ReleasesAndRepeatsRefusedAfterTheCloseLeaveTheWorkerAlive) {
    startUnit({"--unsolicited", "50"});
    panel.setChecked(ctl::ContinuousMode, true);
    console->press(ctl::StatusRead);  // the repeat mode now has a request to resend
    ASSERT_TRUE(waitUntil([&] { return frames() >= 1; }));
    const uint64_t beforeHold = frames();
    // Frames arrive while the worker is held: their buffers are lent, their
    // notifications wait in the worker's queue and are handled with the
    // port closed: their releases and the repeats they ask for are refused.
    closeUnderAHeldWorker(*console, host,
                          [] { ASSERT_TRUE(waitUntil([] { return RSBuffersLent() >= 3; })); });
    EXPECT_GE(frames(), beforeHold + 3);
    EXPECT_EQ(count("Message send to SendThread error"), 0u);
    EXPECT_FALSE(console->worker().ended());
    EXPECT_FALSE(panel.checked(ctl::ContinuousMode));

    open();
    statusReadAnswered();
}

// Commands pressed just before "COM Close": the driver refuses them because
// the port is gone; each ends alone, the worker serves the next "COM Open".
TEST_F(ComClose, CommandsPressedJustBeforeTheCloseEndAlone) {
    startUnit();
    closeUnderAHeldWorker(*console, host, [&] {
        console->press(ctl::MechaReset);
        console->press(ctl::StatusRead);
    });
    EXPECT_EQ(count("Message send to SendThread error"), 0u);
    EXPECT_FALSE(console->worker().ended());
    EXPECT_TRUE(requests().empty());

    open();
    statusReadAnswered();
    EXPECT_EQ(count("Message send to SendThread error"), 0u);
    EXPECT_EQ(requests().size(), 1u);
}

// The answer to a download frame is handled after the close: the next frame
// meets the closed port, and the download ends without a word of a refusal.
TEST_F(ComClose, DuringADownloadTheNextFrameMeetsTheClosedPortQuietly) {
    ConsoleRig::startUnit({"--delay", "400", "--trace-responses"});
    openConsole();
    host.answer = dir.write("close-answered.prg", std::vector<uint8_t>(1214 * 6, 'Q'));
    console->press(ctl::DownLoad);
    ASSERT_TRUE(waitUntil([&] { return requests(0xD1).size() >= 2; }));
    closeUnderAHeldWorker(*console, host, [&] {
        // The answer to the second frame reaches the worker's queue: the
        // worker, held, has handed back every buffer before it, so the one
        // lent now carries that answer.
        auto answers = [&] {
            size_t n = 0;
            for (auto &line : unit->lines()) n += line.rfind("RSP ", 0) == 0;
            return n;
        };
        ASSERT_TRUE(waitUntil([&] { return answers() >= 2; }));
        ASSERT_TRUE(waitUntil([] { return RSBuffersLent() >= 1; }));
    });
    EXPECT_EQ(count("Message send to SendThread error"), 0u);
    EXPECT_EQ(count("DOWNLOAD NORMAL END"), 0u);
    EXPECT_FALSE(console->worker().ended());
    EXPECT_FALSE(transfers_test::heldOpen(*host.answer));

    open();
    statusReadAnswered();
    // The unit prints each answer just before it sends it, through its own
    // pipe: wait for the status read's, so that it is no news to staysQuiet.
    ASSERT_TRUE(unit->waitForLine([](const std::string &line) { return line.starts_with("RSP E0 01 "); }));
    staysQuiet();
}

}  // namespace
