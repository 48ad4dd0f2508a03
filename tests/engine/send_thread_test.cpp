// The worker end to end: the in-memory panel, SendThread, the real driver and
// the simulated unit on a pty.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "rslink/rslink.h"
#include "support/bdusim_process.h"
#include "support/wait.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/memory_panel.h"
#include "valdor/engine/commands.h"
#include "valdor/engine/request_builder.h"
#include "valdor/engine/send_thread.h"

using namespace valdor;
using testsupport::Bdusim;
using testsupport::staysFalse;
using testsupport::waitUntil;
using namespace std::chrono_literals;

namespace {

bool isTrace(const std::string &line, const char *prefix) {
    static const std::regex shape(R"(^(SEND|RECV)\[\d\d:\d\d:\d\d:\d\d\d\]>([0-9A-F]{2} )*$)");
    return line.rfind(prefix, 0) == 0 && std::regex_match(line, shape);
}

// The bytes of a trace line, as "60 01 FF ..." (with the trailing blank).
std::string traceBytes(const std::string &line) { return line.substr(line.find("]>") + 2); }

class Worker : public ::testing::Test {
protected:
    void start(std::vector<std::string> simOptions = {}, DownloadHook *download = nullptr) {
        simOptions.push_back("--trace-requests");
        sim = std::make_unique<Bdusim>(simOptions);
        sim->mapCom(5);
        panel.setChecked(ctl::ShowMessages, true);
        worker = std::make_unique<SendThread>(panel, download);
        ASSERT_TRUE(worker->start());
        ASSERT_EQ(RSOpen(worker->threadId(), 5, 9600, 8, 2, 0), 0);
    }

    void TearDown() override {
        RSClose();
        if (worker) worker->stop();
    }

    std::vector<std::string> lines() const { return panel.messages(); }

    size_t count(const std::string &text) const {
        auto l = lines();
        return static_cast<size_t>(std::count(l.begin(), l.end(), text));
    }

    std::vector<std::string> sent() const {
        std::vector<std::string> out;
        for (auto &l : lines())
            if (isTrace(l, "SEND[")) out.push_back(traceBytes(l));
        return out;
    }

    // Requests the simulated unit took, as "60 01 FF ...".
    std::vector<std::string> requests() const {
        std::vector<std::string> out;
        for (auto &l : sim->lines())
            if (l.rfind("REQ ", 0) == 0) out.push_back(l.substr(4));
        return out;
    }

    // Once 1242 is cleared: nothing is going or awaited, so no mode can
    // send again; and the unit has traced every request it took (its trace
    // may lag its answer).
    bool waitSettled() {
        return waitUntil([&] { return worker->idle(); }, std::chrono::seconds(15)) &&
               waitUntil([&] { return requests().size() >= sent().size(); });
    }

    bool waitFrames(uint64_t n, std::chrono::milliseconds t = std::chrono::seconds(15)) {
        return waitUntil([&] { return worker->framesHandled() >= n; }, t);
    }

    MemoryPanel panel;
    std::unique_ptr<Bdusim> sim;
    std::unique_ptr<SendThread> worker;
};

TEST_F(Worker, StatusReadTracesSendsDecodesAndGivesTheBufferBack) {
    start();
    ASSERT_TRUE(worker->postCommand(CMD_STATUS_READ));
    ASSERT_TRUE(waitFrames(1));
    ASSERT_TRUE(waitUntil([&] { return count("Receive Normal End") == 1; }));

    auto l = lines();
    ASSERT_EQ(l.size(), 4u);
    EXPECT_TRUE(isTrace(l[0], "SEND[")) << l[0];
    EXPECT_EQ(traceBytes(l[0]), "00 01 1C ");
    EXPECT_EQ(l[1], "Send Normal End");
    EXPECT_TRUE(isTrace(l[2], "RECV[")) << l[2];
    EXPECT_EQ(traceBytes(l[2]).substr(0, 6), "E0 01 ");
    EXPECT_EQ(l[3], "Receive Normal End");
    EXPECT_EQ(panel.text(ctl::Dh0Dh1), "E001");
    EXPECT_EQ(panel.text(ctl::ErrorMessage), "Normal end");
    EXPECT_TRUE(waitUntil([] { return RSBuffersLent() == 0; }));

    // 1240 is read at the send: the next request goes out in the enhanced layout.
    panel.setText(ctl::Dh0Dh1, "");
    panel.setChecked(ctl::Enhanced, true);
    worker->postCommand(CMD_STATUS_READ);
    ASSERT_TRUE(waitFrames(2));
    ASSERT_TRUE(waitUntil([&] { return sent().size() == 2; }));
    EXPECT_EQ(sent()[1], "60 01 FF 00 00 01 00 1C ");
    EXPECT_EQ(panel.text(ctl::Dh0Dh1), "E001");
}

TEST_F(Worker, RequestsPostedBackToBackGoOutInOrderWithTheirOwnBytes) {
    start();
    worker->postCommand(CMD_STATUS_READ);
    worker->postCommand(CMD_CANCEL);
    worker->postCommand(CMD_STATUS_READ);
    ASSERT_TRUE(waitFrames(3));
    ASSERT_TRUE(waitUntil([&] { return sent().size() == 3; }));
    EXPECT_EQ(sent(), (std::vector<std::string>{"00 01 1C ", "00 10 1C ", "00 01 1C "}));
    // The unit's trace reaches us through its output, which may lag its answer.
    ASSERT_TRUE(waitUntil([&] { return requests().size() >= 3; }));
    EXPECT_EQ(requests(), (std::vector<std::string>{"00 01 1C", "00 10 1C", "00 01 1C"}));
}

TEST_F(Worker, RepeatModeResendsWhilePositiveAndStopsWhen1242IsCleared) {
    start();
    panel.setChecked(ctl::ContinuousMode, true);
    worker->postCommand(CMD_CANCEL);
    ASSERT_TRUE(waitFrames(4));
    panel.setChecked(ctl::ContinuousMode, false);
    uint64_t atClear = worker->framesHandled();
    // The frame being handled at the moment of clearing may already have sent
    // its repeat; that one's answer is the last.
    EXPECT_TRUE(staysFalse([&] { return worker->framesHandled() > atClear + 2; }, 600ms));
    uint64_t settled = worker->framesHandled();
    EXPECT_TRUE(staysFalse([&] { return worker->framesHandled() != settled; }, 600ms));
    for (auto &s : sent()) EXPECT_EQ(s, "00 10 1C ");
    EXPECT_EQ(count("Send Normal End"), count("Receive Normal End"));
    EXPECT_EQ(count("Send Normal End"), static_cast<size_t>(settled));
}

TEST_F(Worker, RepeatModeStopsOnANegativeResponseAndClears1242) {
    start({"--negative", "0x01"});
    panel.setChecked(ctl::ContinuousMode, true);
    worker->postCommand(CMD_STATUS_READ);
    ASSERT_TRUE(waitFrames(1));
    EXPECT_TRUE(staysFalse([&] { return worker->framesHandled() > 1u; }, 800ms));
    EXPECT_EQ(worker->framesHandled(), 1u);
    EXPECT_FALSE(panel.checked(ctl::ContinuousMode));
    EXPECT_EQ(sent().size(), 1u);
    EXPECT_NE(panel.text(ctl::Dh0Dh1), "E001");
}

// "Bill Count / Transport": the sequence's transport bytes come from the
// side given at the press (bit 7 for the rear) and the "Discharge amount"
// (position 2, +10mm); clearing 1242 ends the sequence.
TEST_F(Worker, SequenceDeliversAndWatchesOnTheGivenSide) {
    start();
    panel.setSelection(ctl::DischargeAmount, 2);
    for (bool front : {true, false}) {
        SCOPED_TRACE(front ? "front" : "rear");
        const size_t from = requests().size();
        panel.setChecked(ctl::ContinuousMode, true);
        worker->postSequence(front);
        ASSERT_TRUE(waitUntil([&] { return requests().size() >= from + 4; }, std::chrono::seconds(20)));
        panel.setChecked(ctl::ContinuousMode, false);
        ASSERT_TRUE(waitSettled());
        ASSERT_TRUE(waitUntil([&] { return worker->sequence() == SequenceView{}; }));
        const auto r = requests();
        EXPECT_EQ(r[from].substr(0, 5), "60 03");
        EXPECT_EQ(r[from + 1], front ? "60 05 01 20 1C" : "60 05 01 A0 1C");
        EXPECT_EQ(r[from + 2], front ? "60 05 01 21 1C" : "60 05 01 A1 1C");
        EXPECT_EQ(r[from + 3].substr(0, 5), "60 03");
    }
}

TEST_F(Worker, ASendFailureDuringTheSequenceClears1242AndSendsNothingMore) {
    start({"--nak-frames", "3"});
    panel.setChecked(ctl::ContinuousMode, true);
    worker->postSequence(true);
    ASSERT_TRUE(waitUntil([&] { return count("Send Abnormal End") == 1; }, std::chrono::seconds(20)));
    EXPECT_FALSE(panel.checked(ctl::ContinuousMode));
    EXPECT_EQ(worker->sequence(), SequenceView{});
    auto l = lines();
    ASSERT_GE(l.size(), 2u);
    EXPECT_TRUE(isTrace(l[l.size() - 2], "SEND["));
    EXPECT_TRUE(staysFalse([&] { return sent().size() > 1u || !requests().empty(); }, 800ms));
    EXPECT_EQ(sent().size(), 1u);
    EXPECT_TRUE(requests().empty());
}

// Commands pressed while the repeat mode or the sequence runs are answered
// once each; the mode goes on with the answers to its own requests only, and
// the repeat mode resends the request that was answered.
TEST_F(Worker, CommandsPressedDuringTheRepeatModeAreSentOnceEach) {
    start({"--delay", "30"});
    panel.setChecked(ctl::ContinuousMode, true);
    worker->postCommand(CMD_STATUS_READ);
    ASSERT_TRUE(waitFrames(3));
    worker->postCommand(CMD_CANCEL);
    ASSERT_TRUE(waitFrames(6));
    worker->postCommand(CMD_CANCEL);
    ASSERT_TRUE(waitFrames(10));
    panel.setChecked(ctl::ContinuousMode, false);
    ASSERT_TRUE(waitSettled());

    auto r = requests();
    EXPECT_EQ(std::count(r.begin(), r.end(), "00 10 1C"), 2);
    EXPECT_EQ(std::count(r.begin(), r.end(), "00 01 1C") + 2, static_cast<long>(r.size()));
    EXPECT_EQ(count("Send Normal End"), count("Receive Normal End"));
}

// A download under way until the test ends it, sending nothing of its own.
struct StalledDownload : DownloadHook {
    std::atomic<bool> running{true};
    bool underWay() const override { return running; }
    size_t takeBlock(uint8_t *, size_t) override { return 0; }
    void onResponse(uint8_t) override {}
    void abort() override {}
};

// "Bill Count / Transport" answered while a transfer runs: the sequence ends
// there, and a later command's answer does not start the deliveries.
TEST_F(Worker, ASequenceAnsweredDuringATransferEndsThere) {
    StalledDownload download;
    start({}, &download);
    panel.setChecked(ctl::ContinuousMode, true);
    worker->postSequence(true);
    ASSERT_TRUE(waitFrames(1));
    EXPECT_EQ(worker->sequence(), SequenceView{});
    EXPECT_FALSE(panel.checked(ctl::ContinuousMode));
    download.running = false;  // the transfer ends before the next command
    worker->postCommand(CMD_STATUS_READ);
    ASSERT_TRUE(waitFrames(2));
    ASSERT_TRUE(waitSettled());
    auto r = requests();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].substr(0, 5), "60 03");
    EXPECT_EQ(r[1], "00 01 1C");
}

// The command's answer is negative here: it is not the sequence's answer,
// so it ends nothing.
TEST_F(Worker, ACommandPressedDuringTheSequenceLeavesItAlone) {
    start({"--delay", "30", "--negative-at", "0x01:1"});
    panel.setSelection(ctl::DischargeAmount, 2);
    panel.setChecked(ctl::ContinuousMode, true);
    worker->postSequence(true);
    ASSERT_TRUE(waitUntil([&] { return requests().size() >= 2; }, std::chrono::seconds(20)));
    worker->postCommand(CMD_STATUS_READ);
    ASSERT_TRUE(waitUntil([&] { return requests().size() >= 9; }, std::chrono::seconds(20)));
    EXPECT_TRUE(panel.checked(ctl::ContinuousMode));
    panel.setChecked(ctl::ContinuousMode, false);
    ASSERT_TRUE(waitSettled());

    EXPECT_EQ(panel.text(ctl::Dh0Dh1).substr(0, 2), "E0") << "the last answer shown is the sequence's";
    auto r = requests();
    EXPECT_EQ(std::count(r.begin(), r.end(), "00 01 1C"), 1);
    std::erase(r, "00 01 1C");
    ASSERT_GE(r.size(), 6u);
    for (size_t i = 0; i < r.size(); ++i) {
        SCOPED_TRACE(i);
        switch (i % 3) {
            case 0: EXPECT_EQ(r[i].substr(0, 5), "60 03"); break;
            case 1: EXPECT_EQ(r[i], "60 05 01 20 1C"); break;
            case 2: EXPECT_EQ(r[i], "60 05 01 21 1C"); break;
        }
    }
}

TEST_F(Worker, WithMessagesOffNothingIsShownButTheWorkGoesOn) {
    start();
    panel.setChecked(ctl::ShowMessages, false);
    panel.setChecked(ctl::ContinuousMode, true);
    worker->postCommand(CMD_STATUS_READ);
    ASSERT_TRUE(waitFrames(3));
    panel.setChecked(ctl::ContinuousMode, false);
    EXPECT_TRUE(lines().empty());
    EXPECT_GE(requests().size(), 3u);
    EXPECT_EQ(panel.text(ctl::Dh0Dh1), "E001");
    EXPECT_TRUE(waitUntil([] { return RSBuffersLent() == 0; }));
}

TEST_F(Worker, UnsolicitedFramesAreDecodedTracedAndGivenBack) {
    start({"--unsolicited", "100"});
    ASSERT_TRUE(waitFrames(12));  // more than the pool holds: every buffer came back
    EXPECT_GE(count("Receive Normal End"), 12u);
    EXPECT_TRUE(waitUntil([] { return RSBuffersLent() == 0; }));
}

TEST_F(Worker, ResetAfterCloseEndsTheRepeatModeAndTheSequence) {
    start();
    panel.setChecked(ctl::ContinuousMode, true);
    worker->postCommand(CMD_STATUS_READ);
    ASSERT_TRUE(waitFrames(2));
    // As COM Close does: the worker learns the port is closing first, so a
    // repeat refused by the closed port ends that request, not the worker.
    worker->setPortClosed(true);
    RSClose();
    worker->resetAfterClose();
    EXPECT_FALSE(panel.checked(ctl::ContinuousMode));
    EXPECT_FALSE(worker->ended());
    // A new open: nothing goes out on its own, and commands still work.
    ASSERT_EQ(RSOpen(worker->threadId(), 5, 9600, 8, 2, 0), 0);
    worker->setPortClosed(false);
    uint64_t before = worker->framesHandled();
    EXPECT_TRUE(staysFalse([&] { return worker->framesHandled() != before; }, 700ms));
    worker->postCommand(CMD_STATUS_READ);
    EXPECT_TRUE(waitFrames(before + 1));
}

// Without an open port the driver refuses the request: the operator's
// command ends the worker, and every later post fails.
TEST(WorkerWithoutPort, ARefusedCommandEndsTheWorker) {
    MemoryPanel panel;
    panel.setChecked(ctl::ShowMessages, true);
    SendThread worker(panel);
    ASSERT_TRUE(worker.start());
    EXPECT_TRUE(worker.postCommand(CMD_STATUS_READ));
    ASSERT_TRUE(waitUntil([&] { return worker.ended(); }));
    EXPECT_EQ(panel.messages(), std::vector<std::string>{"Message send to SendThread error"});
    EXPECT_FALSE(worker.postCommand(CMD_STATUS_READ));
    EXPECT_EQ(panel.messages().size(), 2u);
    EXPECT_FALSE(worker.postSequence(true));
    EXPECT_EQ(panel.messages().size(), 3u) << "one refusal for the sequence and its command";
    EXPECT_FALSE(worker.runOnWorker([] {}));
    EXPECT_EQ(worker.sequence(), std::nullopt);
    worker.stop();
}

TEST(WorkerWithoutPort, IgnoredCommandsKeepTheWorkerAlive) {
    MemoryPanel panel;
    panel.setChecked(ctl::ShowMessages, true);
    SendThread worker(panel);
    ASSERT_TRUE(worker.start());
    // A request sent for any of them would be refused and end the worker.
    for (int n : {0, 17, 18, 19, 20, 21, 22, 100, 101}) EXPECT_TRUE(worker.postCommand(n));
    bool ran = false;
    EXPECT_TRUE(worker.runOnWorker([&] { ran = true; }));
    EXPECT_TRUE(ran);
    EXPECT_FALSE(worker.ended());
    EXPECT_TRUE(panel.messages().empty());
}

}  // namespace
