// The operational-log acquisition driven directly: a test thread plays the
// worker, a small function plays the unit.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "expected_report.h"
#include "fakes.h"
#include "valdor/engine/commands.h"
#include "valdor/transfers/download_procedure.h"
#include "valdor/transfers/oplog_procedure.h"
#include "valdor/transfers/oplog_report.h"

namespace {

using namespace transfers_test;
using valdor::MemoryPanel;
namespace ctl = valdor::ctl;
using Request = std::pair<uint8_t, uint8_t>;

// The record data the stand-in unit keeps for (section, block).
std::vector<uint8_t> records(uint8_t section, uint8_t block) {
    std::vector<uint8_t> data(1024);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(section * 61 + block * 17 + i * 5 + i / 256);
    return data;
}

std::vector<uint8_t> positiveAnswer(uint8_t section, uint8_t block, size_t length = 1114) {
    std::vector<uint8_t> answer(90, 0x5A);
    answer[0] = 0xE0;
    answer[1] = 0x13;
    answer[2] = 0xFF;
    auto data = records(section, block);
    answer.insert(answer.end(), data.begin(), data.end());
    answer.resize(length, 0xA5);
    return answer;
}

std::string expectedReport(bool measuredOnly, int sectionsDone = 4, int blocksOfNext = 0) {
    return transfers_test::expectedReport([](int s, int b) { return records(static_cast<uint8_t>(s), static_cast<uint8_t>(b)); },
                                          measuredOnly, sectionsDone, blocksOfNext);
}

class OplogTest : public ::testing::Test {
protected:
    void SetUp() override { showMessages(panel); }

    // Plays command 13 and the exchanges that follow; `unit` answers each
    // request, `afterEach` runs on the test thread after each answer.
    // An empty `unit` answers every request positively.
    std::vector<Request> acquire(std::function<std::vector<uint8_t>(Request)> unit = {},
                                 const std::function<void(size_t)> &afterEach = {}) {
        if (!unit) unit = [](Request r) { return positiveAnswer(r.first, r.second); };
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

    static std::vector<Request> allRequests(bool measuredOnly) {
        std::vector<Request> out;
        const int blocks[] = {8, 8, 4, 2};
        for (int s = 0; s < (measuredOnly ? 1 : 4); ++s)
            for (int b = 0; b < blocks[s]; ++b) out.emplace_back(s, b);
        return out;
    }

    MemoryPanel panel;
    FakeHost host;
    FakeWorker worker{panel};
    valdor::OplogProcedure oplog{panel, host, worker};
    TempDir dir;
};

TEST_F(OplogTest, FullReportHoldsFourSectionsInOrder) {
    host.answer = dir.file("report.txt");
    oplog.start();
    ASSERT_EQ(host.filters.size(), 2u);
    EXPECT_EQ(host.filters[0].description, "Operational Log files(*.txt)");
    EXPECT_EQ(host.filters[0].pattern, "*.txt");
    EXPECT_EQ(host.filters[1].description, "All files(*.*)");
    EXPECT_EQ(host.filters[1].pattern, "*.*");
    EXPECT_EQ(host.initialName, "*.txt");
    EXPECT_TRUE(oplog.underWay());

    EXPECT_EQ(acquire(), allRequests(false));
    EXPECT_FALSE(oplog.underWay());
    EXPECT_EQ(panel.messages().back(), "Operational Log NORMAL END");

    std::string report = readText(dir.file("report.txt"));
    EXPECT_EQ(report, expectedReport(false));
    EXPECT_EQ(report.rfind("\r\n<<< Measured information >>>\r\n", 0), 0u);
    // 512 + 256 + 256 + 128 lines and four headings of two line ends each.
    size_t lineEnds = 0;
    for (size_t at = report.find("\r\n"); at != std::string::npos; at = report.find("\r\n", at + 2)) ++lineEnds;
    EXPECT_EQ(lineEnds, 512u + 256 + 256 + 128 + 8);
}

TEST_F(OplogTest, MeasuredInformationOnlyWhenTicked) {
    panel.setChecked(ctl::MeasuredInf, true);
    host.answer = dir.file("measured.txt");
    oplog.start();
    EXPECT_EQ(acquire(), allRequests(true));
    std::string report = readText(dir.file("measured.txt"));
    EXPECT_EQ(report, expectedReport(true));
    EXPECT_EQ(report.size(), 512u * 50);
    EXPECT_EQ(report.find("<<<"), std::string::npos);
    EXPECT_EQ(panel.messages().back(), "Operational Log NORMAL END");
}

TEST_F(OplogTest, NumberedLinesCountOnAcrossAnswers) {
    host.answer = dir.file("numbers.txt");
    oplog.start();
    acquire();
    std::string report = readText(dir.file("numbers.txt"));
    size_t at = report.find("<<< Operational log >>>\r\n");
    ASSERT_NE(at, std::string::npos);
    std::string section = report.substr(at + 25);
    auto line = [&](size_t n) { return section.substr(n * 79, 79); };
    EXPECT_EQ(line(0).substr(0, 5), "0001 ");
    EXPECT_EQ(line(1).substr(0, 5), "0005 ");
    EXPECT_EQ(line(32).substr(0, 5), "0129 ");
    EXPECT_EQ(line(255).substr(0, 5), "1021 ");
    EXPECT_EQ(line(0).substr(77), "\r\n");
    EXPECT_EQ(line(255).substr(77), "\r\n");
}

TEST_F(OplogTest, NegativeAnswerKeepsWhatWasWritten) {
    host.answer = dir.file("neg.txt");
    oplog.start();
    auto sent = acquire([](Request r) {
        auto answer = positiveAnswer(r.first, r.second);
        if (r == Request{2, 1}) answer[0] = 0xE4;
        return answer;
    });
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), (Request{2, 1}));
    EXPECT_FALSE(oplog.underWay());
    EXPECT_EQ(panel.messages().back(), "Operational Log ABNORMAL END -> ERR RESPONSE");
    EXPECT_EQ(readText(dir.file("neg.txt")), expectedReport(false, 2, 1));
}

TEST_F(OplogTest, OperationalLogButtonStopsTheAcquisition) {
    host.answer = dir.file("stop.txt");
    oplog.start();
    auto sent = acquire({}, [&](size_t n) {
        if (n == 3) oplog.stopAcquiring();  // pressed while the third answer is on its way
    });
    EXPECT_EQ(sent.size(), 3u);
    EXPECT_FALSE(oplog.underWay());
    // The button's own command 13 closes the report and asks for P1/P2.
    EXPECT_TRUE(heldOpen(dir.file("stop.txt")));
    std::optional<Request> plain{Request{9, 9}};
    worker.run([&] { plain = oplog.beginRequest(); });
    EXPECT_FALSE(plain.has_value());
    EXPECT_FALSE(heldOpen(dir.file("stop.txt")));
    EXPECT_EQ(readText(dir.file("stop.txt")), "\r\n<<< Measured information >>>\r\n" +
                                                  sixteenByteLines(records(0, 0)) +
                                                  sixteenByteLines(records(0, 1)));
    for (auto &m : panel.messages()) EXPECT_EQ(m.find("Operational Log"), std::string::npos) << m;
}

TEST_F(OplogTest, StartsThatCannotGoAhead) {
    host.answer.reset();
    oplog.start();
    EXPECT_EQ(panel.messages().back(), "Operational Log Cancel");
    EXPECT_FALSE(oplog.underWay());

    host.answer = dir.file("missing/folder/report.txt");
    oplog.start();
    EXPECT_EQ(panel.messages().back(), "FILE OPEN ERROR(FILENAME=report.txt CODE=0x00000002)");
    EXPECT_FALSE(oplog.underWay());
    EXPECT_TRUE(worker.posted().empty());

    worker.end();
    host.answer = dir.file("r.txt");
    oplog.start();
    EXPECT_EQ(panel.messages().back(), "Message send to SendThread error");
    EXPECT_FALSE(oplog.underWay());
}

TEST_F(OplogTest, OneAcquisitionAtATimeAndNoneDuringADownload) {
    host.answer = dir.file("first.txt");
    oplog.start();
    int dialogs = host.dialogs;
    host.answer = dir.file("second.txt");
    oplog.start();
    EXPECT_EQ(host.dialogs, dialogs);
    EXPECT_EQ(panel.messages().back(),
              "Operational Log START ERROR(an acquisition is running; press Operational Log to stop it)");
    EXPECT_FALSE(std::filesystem::exists(dir.file("second.txt")));
    EXPECT_EQ(acquire(), allRequests(false));  // the first one is undisturbed
    EXPECT_EQ(readText(dir.file("first.txt")), expectedReport(false));

    valdor::DownloadProcedure download{panel, host, worker};
    host.answer = dir.write("p.prg", std::vector<uint8_t>(10, 1));
    download.start();
    ASSERT_TRUE(download.underWay());
    dialogs = host.dialogs;
    host.answer = dir.file("third.txt");
    oplog.start();
    EXPECT_EQ(host.dialogs, dialogs);
    EXPECT_EQ(panel.messages().back(), "Operational Log START ERROR(a download is running)");
    EXPECT_FALSE(oplog.underWay());
}

TEST_F(OplogTest, RestartAfterStopWritesAFreshReportToTheSameFile) {
    host.answer = dir.file("same.txt");
    oplog.start();
    acquire({}, [&](size_t n) {
        if (n == 5) oplog.stopAcquiring();
    });
    // The stopped report is still open: the button's command 13 has not
    // been taken yet when the operator starts again.
    oplog.start();
    EXPECT_EQ(acquire(), allRequests(false));
    EXPECT_EQ(readText(dir.file("same.txt")), expectedReport(false));
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
    std::string expected = "\r\n<<< Measured information >>>\r\n";
    for (uint8_t b = 0; b < 3; ++b) expected += sixteenByteLines(records(0, b));
    EXPECT_EQ(readText(dir.file("abort.txt")), expected);

    // Counters start again from (0, 0).
    host.answer = dir.file("after.txt");
    oplog.start();
    EXPECT_EQ(acquire(), allRequests(false));
}

TEST_F(OplogTest, ShortAnswersWriteOnlyWhatArrived) {
    host.answer = dir.file("short.txt");
    panel.setChecked(ctl::MeasuredInf, true);
    oplog.start();
    acquire([](Request r) {
        if (r.second == 0) return positiveAnswer(0, 0, 90 + 20);  // 20 data bytes
        if (r.second == 1) return positiveAnswer(0, 1, 60);       // none
        return positiveAnswer(r.first, r.second);
    });
    auto first = records(0, 0);
    std::string expected;
    char pair[4];
    for (size_t i = 0; i < 20; ++i) {
        std::snprintf(pair, sizeof pair, "%02X ", first[i]);
        expected += pair;
        if (i == 15 || i == 19) expected += "\r\n";
    }
    for (uint8_t b = 2; b < 8; ++b) expected += sixteenByteLines(records(0, b));
    EXPECT_EQ(readText(dir.file("short.txt")), expected);
    EXPECT_EQ(panel.messages().back(), "Operational Log NORMAL END");
}

TEST_F(OplogTest, EmptyAnswerIsNotPositive) {
    host.answer = dir.file("empty.txt");
    oplog.start();
    acquire([](Request) { return std::vector<uint8_t>{}; });
    EXPECT_EQ(panel.messages().back(), "Operational Log ABNORMAL END -> ERR RESPONSE");
    EXPECT_FALSE(oplog.underWay());
}

TEST_F(OplogTest, FullDiskEndsTheAcquisitionWithItsReason) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    host.answer = "/dev/full";
    oplog.start();
    auto sent = acquire();
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_FALSE(oplog.underWay());
    EXPECT_EQ(panel.messages().back(),
              "Operational Log ABNORMAL END -> FILE WRITE ERROR(FILENAME=full CODE=0x0000001c)");
}

TEST(OplogReport, NumberedLineJoinsHalvesWithADash) {
    std::vector<uint8_t> data(32);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    std::string out;
    int32_t number = 1;
    valdor::appendNumberedLines(out, data, number);
    EXPECT_EQ(out, "0001 00010203-04050607 08090A0B-0C0D0E0F 10111213-14151617 18191A1B-1C1D1E1F \r\n");
    EXPECT_EQ(out.size(), 79u);
    EXPECT_EQ(number, 5);
}

TEST(OplogReport, RecordDataNeverReachesPastTheAnswer) {
    std::vector<uint8_t> answer(2000, 0);
    EXPECT_EQ(valdor::recordData(answer).size(), 1024u);
    EXPECT_EQ(valdor::recordData(std::span(answer).first(1114)).size(), 1024u);
    EXPECT_EQ(valdor::recordData(std::span(answer).first(100)).size(), 10u);
    EXPECT_EQ(valdor::recordData(std::span(answer).first(90)).size(), 0u);
    EXPECT_EQ(valdor::recordData(std::span(answer).first(3)).size(), 0u);
    EXPECT_EQ(valdor::recordData(answer).data(), answer.data() + 90);
}

}  // namespace
