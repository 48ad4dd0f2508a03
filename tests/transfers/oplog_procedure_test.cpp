// The operational-log acquisition driven directly: a test thread plays the
// worker, a small function plays the unit.  Whole reports from the simulated
// unit are checked in line_test.cpp.
#include <gtest/gtest.h>


#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "expected_report.h"
#include "fakes.h"
#include "support/wait.h"
#include "valdor/engine/commands.h"
#include "valdor/transfers/download_procedure.h"
#include "valdor/transfers/oplog_procedure.h"
#include "valdor/transfers/oplog_report.h"

namespace {

using namespace transfers_test;
using namespace std::chrono_literals;
namespace ctl = valdor::ctl;
using Request = std::pair<uint8_t, uint8_t>;

std::vector<uint8_t> records(int section, int block) {
    std::vector<uint8_t> data(1024);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(section * 61 + block * 17 + i * 5);
    return data;
}

std::vector<uint8_t> positiveAnswer(Request r, size_t length = 1114) {
    std::vector<uint8_t> answer(90, 0x5A);
    answer[0] = 0xE0;
    auto data = records(r.first, r.second);
    answer.insert(answer.end(), data.begin(), data.end());
    answer.resize(length);
    return answer;
}

std::string fullReport() { return expectedReport(records, false); }

class OplogTest : public TransferTest {
protected:
    // Plays command 13 and the exchanges that follow: `unit` answers each
    // request (positively when empty); `afterEach` runs on the test thread
    // while an answer is on its way.
    std::vector<Request> acquire(std::function<std::vector<uint8_t>(Request)> unit = {},
                                 const std::function<void(size_t)> &afterEach = {}) {
        if (!unit) unit = [](Request r) { return positiveAnswer(r); };
        std::vector<Request> sent;
        EXPECT_EQ(worker.takePosted(), valdor::CMD_OPERATIONAL_LOG);
        std::optional<Request> next;
        worker.run([&] { next = oplog.beginRequest(); });
        while (next) {
            sent.push_back(*next);
            auto answer = unit(*next);
            if (afterEach) afterEach(sent.size());
            worker.run([&] { next = oplog.underWay() ? oplog.onResponse(answer) : std::nullopt; });
        }
        return sent;
    }

    valdor::OplogProcedure oplog{panel, host, worker};
};

// A report that cannot be created, and the "Operational Log" button stopping
// an acquisition, are checked through the console (line_test.cpp).
TEST_F(OplogTest, StartsThatCannotGoAhead) {
    host.answer.reset();
    oplog.start();
    expectDialog("Operational Log files(*.txt)", "*.txt");
    EXPECT_EQ(lastMessage(), "Operational Log Cancel");
    EXPECT_TRUE(worker.posted().empty());
    EXPECT_FALSE(oplog.underWay());

    worker.end();
    host.answer = dir.file("r.txt");
    oplog.start();
    EXPECT_EQ(lastMessage(), "Message send to SendThread error");
    EXPECT_FALSE(oplog.underWay());
}

TEST_F(OplogTest, TransfersExcludeEachOther) {
    valdor::DownloadProcedure download{panel, host, worker};
    worker.downloadRunning = [&] { return download.underWay(); };
    worker.acquisitionRunning = [&] { return oplog.underWay(); };
    host.answer = dir.file("first.txt");
    oplog.start();

    // A second acquisition, and a download, are refused before their dialog.
    int dialogs = host.dialogs;
    host.answer = dir.file("second.txt");
    oplog.start();
    EXPECT_EQ(lastMessage(),
              "Operational Log START ERROR(an acquisition is running; press Operational Log to stop it)");
    host.answer = dir.write("p.prg", std::vector<uint8_t>(10, 1));
    download.start();
    EXPECT_EQ(lastMessage(), "DOWNLOAD START ERROR(an operational log acquisition is running)");
    EXPECT_EQ(host.dialogs, dialogs);
    EXPECT_FALSE(std::filesystem::exists(dir.file("second.txt")));
    EXPECT_EQ(acquire().size(), 22u);  // the first one is undisturbed
    EXPECT_EQ(readText(dir.file("first.txt")), fullReport());
    EXPECT_EQ(lastMessage(), "Operational Log NORMAL END");

    download.start();
    ASSERT_TRUE(download.underWay());
    host.answer = dir.file("third.txt");
    oplog.start();
    EXPECT_EQ(lastMessage(), "Operational Log START ERROR(a download is running)");
    EXPECT_FALSE(oplog.underWay());
}

TEST_F(OplogTest, RestartAfterStopWritesAFreshReportToTheSameFile) {
    host.answer = dir.file("same.txt");
    oplog.start();
    acquire({}, [&](size_t n) {
        if (n == 5) oplog.stopAcquiring();
    });
    // Started again before the button's command 13 has closed the report.
    oplog.start();
    acquire();
    EXPECT_EQ(readText(dir.file("same.txt")), fullReport());
}

TEST_F(OplogTest, AbortClosesTheReportAndResets) {
    host.answer = dir.file("abort.txt");
    oplog.start();
    acquire({}, [&](size_t n) {
        if (n == 4) worker.run([&] { oplog.abort(); });
    });
    EXPECT_FALSE(oplog.underWay());
    EXPECT_FALSE(heldOpen(dir.file("abort.txt")));
    EXPECT_TRUE(panel.messages().empty());
    EXPECT_EQ(readText(dir.file("abort.txt")), expectedReport(records, false, 0, 3));

    host.answer = dir.file("after.txt");
    oplog.start();
    acquire();
    EXPECT_EQ(readText(dir.file("after.txt")), fullReport());
}

TEST_F(OplogTest, ShortAnswersWriteOnlyWhatArrived) {
    host.answer = dir.file("short.txt");
    panel.setChecked(ctl::MeasuredInf, true);
    oplog.start();
    acquire([](Request r) {
        if (r.second == 0) return positiveAnswer(r, 90 + 20);  // 20 data bytes
        if (r.second == 1) return positiveAnswer(r, 60);       // none
        return positiveAnswer(r);
    });
    auto first = records(0, 0);
    std::string expected = sixteenByteLines(std::vector<uint8_t>(first.begin(), first.begin() + 16));
    char pair[4];
    for (size_t i = 16; i < 20; ++i) {
        std::snprintf(pair, sizeof pair, "%02X ", first[i]);
        expected += pair;
    }
    expected += "\r\n";
    for (int b = 2; b < 8; ++b) expected += sixteenByteLines(records(0, b));
    EXPECT_EQ(readText(dir.file("short.txt")), expected);
    EXPECT_EQ(lastMessage(), "Operational Log NORMAL END");

    // An answer without a response code is not positive.
    host.answer = dir.file("empty.txt");
    oplog.start();
    EXPECT_EQ(acquire([](Request) { return std::vector<uint8_t>{}; }).size(), 1u);
    EXPECT_EQ(lastMessage(), "Operational Log ABNORMAL END -> ERR RESPONSE");
}

// A report that cannot be written to (here the file-size limit, as a full
// disk would) ends the acquisition with the reason.
TEST_F(OplogTest, FullDiskEndsTheAcquisitionWithItsReason) {
    host.answer = dir.file("full.txt");
    oplog.start();
    std::vector<Request> sent;
    // The heading fits, the first answer's lines do not.
    testsupport::withFileSizeLimit(100, [&] { sent = acquire(); });
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_FALSE(oplog.underWay());
    EXPECT_EQ(lastMessage(), "Operational Log ABNORMAL END -> FILE WRITE ERROR(FILENAME=full.txt CODE=0x0000001b)");
}

// A report named where a pipe or a device is must not block the window nor
// be written to: refused as the download refuses such a program file.
TEST_F(OplogTest, AReportThatIsNoRegularFileIsRefusedWithoutBlocking) {
    const std::string fifo = dir.file("pipe.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = dir.file("folder.txt");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    for (const std::string &path : {fifo, std::string("/dev/null"), folder}) {
        SCOPED_TRACE(path);
        host.answer = path;
        // A blocked open of the pipe is let go by opening its other end.
        int reader = -1;
        EXPECT_TRUE(testsupport::returnsWithoutBlocking(
            [&] { oplog.start(); }, [&] { reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK); }))
            << "the start blocked";
        if (reader >= 0) ::close(reader);
        EXPECT_EQ(lastMessage(), valdor::formatMessage("FILE OPEN ERROR(FILENAME=%s CODE=0x%08x)",
                                                       valdor::bareName(path).c_str(), EINVAL));
        EXPECT_FALSE(oplog.underWay());
        EXPECT_FALSE(worker.takePosted());
    }
}

// The record area of an answer: from byte 90, at most 1024 bytes (the
// reports' line formats are checked against expected_report.h above).
TEST(OplogReport, RecordArea) {
    std::vector<uint8_t> answer(2000, 0);
    EXPECT_EQ(valdor::recordData(answer).size(), 1024u);
    EXPECT_EQ(valdor::recordData(answer).data(), answer.data() + 90);
    EXPECT_EQ(valdor::recordData(std::span(answer).first(100)).size(), 10u);
    EXPECT_EQ(valdor::recordData(std::span(answer).first(90)).size(), 0u);
}

}  // namespace
