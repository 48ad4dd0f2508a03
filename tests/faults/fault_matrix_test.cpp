// Every fault the simulated unit can play, against four kinds of exchange,
// through the real driver, SendThread and the console.  Each row names the
// unit's options, the command, and the lines the console must show for it.
// Whatever the fault, nothing may be lost or hang: every receive buffer comes
// back, COM Close returns promptly and a new COM Open works.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "line_rig.h"
#include "rslink/rslink.h"
#include "support/files.h"
#include "support/wait.h"
#include "valdor/panel/controls.h"

namespace {

using namespace std::chrono_literals;
using faults::LineRig;
namespace ctl = valdor::ctl;

enum class Command { StatusRead, BillCount, Download, OplogBlock };

struct CommandInfo {
    Command command;
    const char *name;
    int button;
    std::vector<const char *> frames;  // the command code of each request, in order
};

const CommandInfo kCommands[] = {
    {Command::StatusRead, "StatusRead", ctl::StatusRead, {"01"}},
    {Command::BillCount, "BillCount", ctl::BillCount, {"03"}},
    // A program of less than one block: one data frame, the end frame, the time frame.
    {Command::Download, "Download", ctl::DownLoad, {"D1", "D2", "D4"}},
    {Command::OplogBlock, "OplogBlock", ctl::OperationalLog, {"13"}},
};

const CommandInfo &info(Command c) {
    for (const auto &i : kCommands)
        if (i.command == c) return i;
    throw std::logic_error("no such command");
}

// How the lines after the press are compared with the expected ones.
enum class Match {
    Exact,    // these lines and no others, in this order
    InOrder,  // these lines in this order, others may come between
};

// What else a row checks.
enum Extra : unsigned {
    NONE = 0,
    REPEAT_ON = 1,          // 1242 ticked before the press: a negative answer must end it
    UNSOLICITED = 2,        // the unit's own frames must be traced and given back
    LINE_PACED = 4,         // took at least the line time of the bytes traced
    UNIT_DOWNLOAD_OK = 8,   // the unit took the whole program
    UNIT_HANGS_UP = 16,     // the unit ends: one driver error, no new COM Open
};

struct Row {
    const char *fault;  // the test's name for it
    std::vector<std::string> options;
    Command command;
    Match match;
    std::vector<std::string> expected;  // shapes (see shapeOf)
    unsigned extras = NONE;
    std::chrono::seconds timeout = 20s;
};

// The lines of one whole exchange per frame, and the download's end.
std::vector<std::string> normal(Command c) {
    std::vector<std::string> lines;
    for (const char *code : info(c).frames) {
        lines.insert(lines.end(), {std::string("SEND ") + code, "Send Normal End",
                                   std::string("RECV ") + code, "Receive Normal End"});
    }
    if (c == Command::Download) lines.push_back("DOWNLOAD NORMAL END");
    return lines;
}

// The first request given up: its SEND line and the failure, nothing more.
std::vector<std::string> sendFails(Command c) {
    return {std::string("SEND ") + info(c).frames[0], "Send Abnormal End"};
}

// The first request answered negatively.
std::vector<std::string> negative(Command c) {
    const std::string code = info(c).frames[0];
    std::vector<std::string> lines{"SEND " + code, "Send Normal End", "RECV " + code, "Receive Normal End"};
    if (c == Command::Download) lines.push_back("DOWNLOAD ABNORMAL END -> ERR RESPONSE");
    return lines;
}

// The unit's status response first, then the exchange as usual.
std::vector<std::string> unitFirst(Command c) {
    // The unit's frame answers no request of the download: the chain goes
    // on with the answers to its own frames.
    std::vector<std::string> lines{"RECV 01", "Receive Normal End"};
    auto rest = normal(c);
    lines.insert(lines.end(), rest.begin(), rest.end());
    return lines;
}

const char *negativeCode(Command c) {
    return c == Command::Download ? "0xD1" : info(c).frames[0];
}

unsigned normalExtras(Command c) { return c == Command::Download ? UNIT_DOWNLOAD_OK : NONE; }

// The unit hangs up: what went before, then the driver's one error.
std::vector<std::string> hungUp(std::vector<std::string> before) {
    before.push_back("API Error End");
    return before;
}

std::vector<Row> matrix() {
    std::vector<Row> rows;
    for (const auto &ci : kCommands) {
        const Command c = ci.command;
        const unsigned ok = normalExtras(c);
        const unsigned repeat = c == Command::Download ? NONE : REPEAT_ON;
        rows.push_back({"NoFault", {}, c, Match::Exact, normal(c), ok});
        rows.push_back({"NakEveryBid", {"--nak-bids"}, c, Match::Exact, sendFails(c)});
        rows.push_back({"NakTwoFrames", {"--nak-frames", "2"}, c, Match::Exact, normal(c), ok});
        rows.push_back({"NakThreeFrames", {"--nak-frames", "3"}, c, Match::Exact, sendFails(c)});
        rows.push_back({"BadCrcOnce", {"--bad-crc", "1"}, c, Match::Exact, normal(c), ok});
        rows.push_back({"EnqForAck", {"--enq-ack"}, c, Match::Exact, normal(c), ok});
        rows.push_back({"Contention", {"--contend", "1"}, c, Match::Exact, unitFirst(c), ok});
        rows.push_back({"Noise", {"--noise", "3"}, c, Match::Exact, normal(c), ok});
        rows.push_back({"ContentionWithNoise", {"--contend", "1", "--noise", "2"}, c,
                        c == Command::Download ? Match::InOrder : Match::Exact, unitFirst(c), ok});
        // Hung up at the first bid, and while the answer to a request is
        // awaited (the download's end frame, half way through its chain).
        rows.push_back({"HangUpAtBid", {"--hang-up", "bid:1"}, c, Match::InOrder, hungUp(sendFails(c)),
                        UNIT_HANGS_UP});
        {
            auto before = c == Command::Download
                              ? std::vector<std::string>{"SEND D1", "Send Normal End", "RECV D1",
                                                         "Receive Normal End", "SEND D2", "Send Normal End"}
                              : std::vector<std::string>{std::string("SEND ") + ci.frames[0], "Send Normal End"};
            const char *point = c == Command::Download ? "request:2" : "request:1";
            rows.push_back({"HangUpAwaitingAnswer", {"--hang-up", point}, c, Match::InOrder,
                            hungUp(before), UNIT_HANGS_UP});
        }
        rows.push_back({"Negative", {"--negative", negativeCode(c)}, c, Match::Exact, negative(c), repeat});
        rows.push_back({"Unsolicited", {"--unsolicited", "700"}, c, Match::InOrder, normal(c),
                        ok | UNSOLICITED});
        rows.push_back({"Paced9600", {"--baud", "9600"}, c, Match::Exact, normal(c), ok | LINE_PACED});
        rows.push_back({"SlowUnit", {"--delay", "400"}, c, Match::Exact, normal(c), ok});
    }
    // The unit that never answers costs 13.5 s a request: one row is enough.
    rows.push_back({"Silent", {"--silent"}, Command::StatusRead, Match::Exact, sendFails(Command::StatusRead),
                    NONE, 40s});
    // The narrower negative answers, each where it applies.
    rows.push_back({"NegativeAtFirst", {"--negative-at", "0x01:1"}, Command::StatusRead, Match::Exact,
                    negative(Command::StatusRead), REPEAT_ON});
    rows.push_back({"NegativeOplogBlock", {"--negative-oplog", "0,0"}, Command::OplogBlock, Match::Exact,
                    negative(Command::OplogBlock), REPEAT_ON});
    rows.push_back({"NegativeDownloadFrame", {"--negative-download", "1"}, Command::Download, Match::Exact,
                    negative(Command::Download)});
    return rows;
}

// gtest prints a row by this, instead of its bytes.
void PrintTo(const Row &row, std::ostream *out) {
    *out << row.fault << " x " << info(row.command).name;
}

std::string rowName(const ::testing::TestParamInfo<Row> &p) {
    return std::string(p.param.fault) + "_" + info(p.param.command).name;
}

bool inOrder(const std::vector<std::string> &lines, const std::vector<std::string> &expected) {
    size_t next = 0;
    for (const auto &line : lines)
        if (next < expected.size() && line == expected[next]) ++next;
    return next == expected.size();
}

// The line time of every text traced, with its frame around it, at 9600
// baud and 11 bits a byte: no paced exchange can be quicker.
std::chrono::milliseconds lineTimeOf(const std::vector<std::string> &lines) {
    size_t bytes = 0;
    for (const auto &line : lines)
        if (line.rfind("SEND[", 0) == 0 || line.rfind("RECV[", 0) == 0)
            bytes += faults::traceBytes(line).size() + 8;
    return std::chrono::milliseconds(bytes * 11 * 1000 / 9600);
}

class FaultMatrix : public ::testing::TestWithParam<Row> {
protected:
    // A program of 100 bytes, so that the chain is one data frame long.
    std::string writeProgram() {
        std::vector<uint8_t> bytes(100);
        std::iota(bytes.begin(), bytes.end(), uint8_t{1});
        return dir_.write("program.prg", bytes);
    }

    testsupport::TempDir dir_;
};

TEST_P(FaultMatrix, OutcomeLinesAndNothingLost) {
    const Row &row = GetParam();
    const CommandInfo &ci = info(row.command);
    LineRig rig(row.options);
    if (row.command == Command::Download) rig.host().answers.push_back(writeProgram());
    if (row.extras & REPEAT_ON) rig.panel().setChecked(ctl::ContinuousMode, true);

    const size_t from = rig.mark();
    const auto started = faults::Clock::now();
    ASSERT_TRUE(rig.press(ci.button));
    ASSERT_TRUE(rig.waitForLine(row.expected.back(), 1, from, row.timeout))
        << "never saw \"" << row.expected.back() << "\"";
    const auto took = faults::Clock::now() - started;
    // Whatever was still to come (a repeat that must not happen, a late
    // frame) has come by the time the line has been quiet a while.
    if (row.extras & UNSOLICITED) {
        // At least one frame of the unit's own beyond the answers; the unit
        // goes on sending them, so the line never falls quiet.
        ASSERT_TRUE(rig.waitForLine("Receive Normal End", ci.frames.size() + 1, from, 20s));
    } else {
        ASSERT_TRUE(rig.waitForQuiet(1500ms, 30s));
    }

    const auto lines = rig.linesSince(from);
    const auto shapes = rig.shapesSince(from);
    if (row.match == Match::Exact) {
        EXPECT_EQ(shapes, row.expected);
        // The unit took each acknowledged request once, and no other.
        const auto sent = std::count(row.expected.begin(), row.expected.end(), "Send Normal End");
        EXPECT_EQ(rig.requests().size(), static_cast<size_t>(sent));
    } else {
        EXPECT_TRUE(inOrder(shapes, row.expected)) << ::testing::PrintToString(shapes);
    }

    if (row.extras & REPEAT_ON) {
        EXPECT_FALSE(rig.panel().checked(ctl::ContinuousMode)) << "a negative answer must end the repeat";
        EXPECT_EQ(rig.requests().size(), 1u) << "the request was repeated after a negative answer";
    }
    if (row.extras & LINE_PACED) {
        EXPECT_GE(took, lineTimeOf(lines));
    }
    if (row.extras & UNIT_DOWNLOAD_OK) {
        EXPECT_TRUE(rig.unit().waitForLine(
            [](const std::string &l) { return l.rfind("DOWNLOAD OK blocks=1 bytes=100 ", 0) == 0; }, 10s));
    }
    // The response fields show what came last; a negative one is decoded too.
    if (row.fault == std::string("Negative") && row.command != Command::Download) {
        EXPECT_EQ(rig.panel().text(ctl::Dh0Dh1).substr(0, 2), "F0");
    }

    // Nothing lent stays lent, even with the unit still talking.
    EXPECT_TRUE(testsupport::waitUntil([] { return RSBuffersLent() == 0; }, 10s)) << RSBuffersLent();

    if (row.extras & UNIT_HANGS_UP) {
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "API Error End"), 1) << ::testing::PrintToString(shapes);
        // A press after the hang-up fails at once, without a second report.
        const size_t after = rig.mark();
        ASSERT_TRUE(rig.press(ctl::StatusRead));
        ASSERT_TRUE(rig.waitForLine("Send Abnormal End", 1, after, 10s));
        ASSERT_TRUE(rig.waitForQuiet(1000ms, 10s));
        EXPECT_EQ(rig.shapesSince(after), (std::vector<std::string>{"SEND 01", "Send Abnormal End"}));
    }

    // The port closes promptly whatever the unit does, and opens again.
    const auto closing = rig.closePort();
    EXPECT_FALSE(rig.console().portOpen());
    EXPECT_LT(closing, 10s);
    if (!(row.extras & UNIT_HANGS_UP)) {
        EXPECT_TRUE(rig.reopenPort());
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(matrix()), rowName);

// ---- An operator's command during a transfer --------------------------------
// "Status Read" pressed while a download or an acquisition runs, or pressed
// just before one starts with its answer still to come, is sent and
// answered as usual; the transfer goes on with the answers to its own
// requests only, so that what it produces is byte for byte what an
// undisturbed run produces.

enum class Transfer { Download, Acquisition };

struct Interleave {
    const char *name;
    Transfer transfer;
    std::vector<std::string> options;
    // Press "Status Read" once this many frames have been handled since the
    // transfer's button; 0: just before that button.
    std::vector<uint64_t> pressAt;
};

const Interleave kInterleaves[] = {
    {"TwoPressesDuringADownload", Transfer::Download, {"--delay", "20"}, {1, 3, 3}},
    {"PressedBeforeADownload", Transfer::Download, {"--delay", "200"}, {0}},
    {"PressesDuringAnAcquisition", Transfer::Acquisition, {"--delay", "20"}, {2, 9, 9, 17}},
    {"PressedBeforeAnAcquisition", Transfer::Acquisition, {"--delay", "200"}, {0}},
};

void PrintTo(const Interleave &row, std::ostream *out) { *out << row.name; }

// `endLine` came, and after the last `lastAnswer`.
bool endsAfter(const std::vector<std::string> &shapes, const std::string &endLine, const std::string &lastAnswer) {
    const auto end = std::find(shapes.begin(), shapes.end(), endLine);
    const auto last = std::find(shapes.rbegin(), shapes.rend(), lastAnswer);
    if (end == shapes.end() || last == shapes.rend()) return false;
    return end - shapes.begin() > shapes.rend() - last - 1;
}

// What a transfer run leaves behind, and how the console told it.
struct TransferRun {
    std::string product;  // what the unit said of the program it took, or the report
    size_t statusReads = 0;     // "Status Read" requests the unit took
    size_t answers = 0;         // "Receive Normal End" lines
    bool endAfterLastAnswer = false;
    std::vector<std::string> abnormal;
};

class InterleavedCommand : public ::testing::TestWithParam<Interleave> {
protected:
    void SetUp() override {
        std::vector<uint8_t> program(5000);  // five data frames, the last one short
        for (size_t i = 0; i < program.size(); ++i) program[i] = static_cast<uint8_t>(i * 7 + i / 251);
        temp_.write("program.prg", program);
    }

    TransferRun run(const Interleave &row, bool disturbed) {
        TransferRun out;
        LineRig rig(row.options);
        const bool download = row.transfer == Transfer::Download;
        const std::string report = dir_ + (disturbed ? "/disturbed.txt" : "/undisturbed.txt");
        rig.host().answers.push_back(download ? dir_ + "/program.prg" : report);
        const char *endLine = download ? "DOWNLOAD NORMAL END" : "Operational Log NORMAL END";
        const std::string lastAnswer = download ? "RECV D4" : "RECV 13";

        const size_t from = rig.mark();
        size_t presses = 0;
        auto pressStatusRead = [&] {
            EXPECT_TRUE(rig.press(ctl::StatusRead));
            ++presses;
        };
        const auto pressAt = disturbed ? row.pressAt : std::vector<uint64_t>{};
        for (uint64_t at : pressAt)
            if (at == 0) pressStatusRead();
        const uint64_t start = rig.console().worker().framesHandled();
        EXPECT_TRUE(rig.press(download ? ctl::DownLoad : ctl::AcquireOpeLog));
        for (uint64_t at : pressAt) {
            if (at == 0) continue;
            EXPECT_TRUE(testsupport::waitUntil(
                [&] { return rig.console().worker().framesHandled() >= start + at; }, 30s));
            pressStatusRead();
        }
        EXPECT_TRUE(rig.waitForLine(endLine, 1, from, 60s)) << "never saw \"" << endLine << "\"";
        EXPECT_TRUE(rig.waitForQuiet(1500ms, 30s));

        const auto shapes = rig.shapesSince(from);
        out.answers = static_cast<size_t>(std::count(shapes.begin(), shapes.end(), "Receive Normal End"));
        out.endAfterLastAnswer = endsAfter(shapes, endLine, lastAnswer);
        for (const auto &line : shapes)
            if (line.find("ABNORMAL") != std::string::npos || line.find("ERROR") != std::string::npos)
                out.abnormal.push_back(line);
        for (const auto &request : rig.requests())
            if (request.size() > 1 && request[1] == 0x01) ++out.statusReads;
        EXPECT_EQ(out.statusReads, presses);
        if (download) {
            // The clock the time frame set differs from run to run; that it
            // was set counts.
            for (const auto &line : rig.unit().lines())
                if (line.rfind("DOWNLOAD ", 0) == 0)
                    out.product += line.rfind("DOWNLOAD CLOCK ", 0) == 0 ? "DOWNLOAD CLOCK\n" : line + "\n";
        } else {
            std::ifstream in(report, std::ios::binary);
            out.product.assign(std::istreambuf_iterator<char>(in), {});
        }
        return out;
    }

    testsupport::TempDir temp_;
    const std::string dir_ = temp_.path().string();
};

TEST_P(InterleavedCommand, TheTransferEndsAsIfItHadNotBeenPressed) {
    const Interleave &row = GetParam();
    const TransferRun calm = run(row, false);
    ASSERT_TRUE(calm.abnormal.empty()) << ::testing::PrintToString(calm.abnormal);
    ASSERT_FALSE(calm.product.empty());
    if (row.transfer == Transfer::Download) {
        ASSERT_EQ(calm.product.rfind("DOWNLOAD OK blocks=5 bytes=5000 ", 0), 0u);
    }

    const TransferRun busy = run(row, true);
    EXPECT_TRUE(busy.abnormal.empty()) << ::testing::PrintToString(busy.abnormal);
    EXPECT_TRUE(busy.product == calm.product) << "the disturbed run produced something else ("
                                              << busy.product.size() << " bytes against " << calm.product.size()
                                              << ")";
    // Every press answered once, and the transfer ended only after its own
    // last answer.
    EXPECT_EQ(busy.answers, calm.answers + row.pressAt.size());
    EXPECT_TRUE(calm.endAfterLastAnswer);
    EXPECT_TRUE(busy.endAfterLastAnswer);
}

INSTANTIATE_TEST_SUITE_P(Transfers, InterleavedCommand, ::testing::ValuesIn(kInterleaves),
                         [](const ::testing::TestParamInfo<Interleave> &p) { return std::string(p.param.name); });

// A download cancelled (from the file dialog) while its frame is still to be
// answered, and started again at once: the late answer belongs to nobody, and
// the new download runs its own chain to the end.
TEST_F(InterleavedCommand, ALateAnswerToACancelledDownloadMovesTheNextOneNot) {
    LineRig rig({"--delay", "400"});
    const std::string program = dir_ + "/program.prg";
    const size_t from = rig.mark();
    rig.host().answers.push_back(program);
    ASSERT_TRUE(rig.press(ctl::DownLoad));
    ASSERT_TRUE(testsupport::waitUntil([&] { return rig.requests().size() >= 1; }, 20s));
    ASSERT_TRUE(rig.press(ctl::DownLoad));  // the dialog is cancelled: the download is reset
    rig.host().answers.push_back(program);
    ASSERT_TRUE(rig.press(ctl::DownLoad));
    ASSERT_TRUE(rig.waitForLine("DOWNLOAD NORMAL END", 1, from, 60s));
    ASSERT_TRUE(rig.waitForQuiet(1500ms, 30s));

    const auto shapes = rig.shapesSince(from);
    EXPECT_EQ(std::count(shapes.begin(), shapes.end(), "Download Cancel"), 1);
    EXPECT_TRUE(endsAfter(shapes, "DOWNLOAD NORMAL END", "RECV D4"))
        << "the end came before the answer to the time frame";
    std::vector<std::string> verdicts;
    for (const auto &line : rig.unit().lines())
        if (line.rfind("DOWNLOAD OK", 0) == 0 || line.rfind("DOWNLOAD BAD", 0) == 0) verdicts.push_back(line);
    ASSERT_EQ(verdicts.size(), 1u) << ::testing::PrintToString(verdicts);
    EXPECT_EQ(verdicts[0].rfind("DOWNLOAD OK blocks=5 bytes=5000 ", 0), 0u);
}

}  // namespace
