// Bringing a fault home, end to end: a session against the simulated unit
// with a refused frame and a bad check code is captured, replayed by
// `bdusim --replay`, exported to pcap for tshark with the dissector, and
// decoded; and the capture starts from the environment and the script too.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/capture_read.h"
#include "support/child_process.h"
#include "support/files.h"

namespace fs = std::filesystem;
namespace cap = rslink::capture;
using namespace std::chrono_literals;

namespace {

using namespace testsupport;  // the child processes, files and shell

// A bdusim of this test, its output and errors in unit.out and unit.err.
struct Unit : ChildProcess {
    Unit(const fs::path &work, std::vector<std::string> options)
        : ChildProcess(work, "unit", [&] {
              options.insert(options.begin(), BDUSIM_PATH);
              return options;
          }()) {}
    std::string path() const { return firstLine(); }
};

// Trace times and the date bytes a request carries (a "Log All Clear" text)
// are the only things two runs of one session may differ in.
std::string mask(const std::string &text) {
    static const std::regex stamp(R"((SEND|RECV)\[\d\d:\d\d:\d\d:\d\d\d\])");
    static const std::regex date(R"((3\d ){4}2E (3\d ){2}2E (3\d ){2}20 (3\d ){2}3A (3\d ){2}3A (3\d ){2})");
    std::istringstream in(text);
    std::string out;
    for (std::string line; std::getline(in, line);) {
        line = std::regex_replace(line, stamp, "$1[time]");
        if (line.rfind("SEND[", 0) == 0) line = std::regex_replace(line, date, "<date> ");
        out += line + "\n";
    }
    return out;
}

// The capture with every burst cut into single bytes at the burst's time, as
// an adapter that hands the bytes over one by one would leave it.
void splitIntoBytes(const fs::path &from, const fs::path &to) {
    const cap::Parsed parsed = readCapture(from);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    std::vector<uint8_t> out = cap::encodeHeader();
    auto append = [&](const std::vector<uint8_t> &bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); };
    for (const cap::Record &r : parsed.records) {
        switch (r.type) {
            case cap::RecordType::Clock: append(cap::encodeClock(r.device, r.micros, r.wallMicros, r.text)); break;
            case cap::RecordType::Open:
                append(cap::encodeOpen(r.device, r.micros, r.speed, r.dataBits, r.parity, r.stopBits, r.port, r.text));
                break;
            case cap::RecordType::Close: append(cap::encodeClose(r.device, r.micros)); break;
            case cap::RecordType::Burst:
                for (uint8_t byte : r.bytes) cap::appendBurst(out, r.device, r.micros, r.direction, {&byte, 1});
                break;
        }
    }
    std::ofstream(to, std::ios::binary).write(reinterpret_cast<const char *>(out.data()), std::streamsize(out.size()));
}

constexpr char kSession[] =
    "select 1137 \"COM1\"\n"
    "press \"COM Open\"\n"
    "wait message \"COM OPEN Completed.\"\n"
    "press \"Status Read\"\n"
    "wait message \"Receive Normal End\"\n"
    "show response\n"
    "press \"Log All Clear\"\n"
    "wait message \"Receive Normal End\"\n"
    "show response\n"
    "check 1240 on\n"
    "press \"Status Read\"\n"
    "wait message \"Receive Normal End\"\n"
    "show response\n";

class FieldRecord : public ::testing::Test {
protected:
    void SetUp() override {
        work_ = fs::path(testsupport::scratch()) /
                ("field-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(work_);
        fs::create_directories(work_);
        std::ofstream(work_ / "session.vds") << kSession;
    }

    // Runs the console on a script against a unit; returns its exit status.
    int console(const Unit &unit, const std::string &options, const std::string &script,
                const std::string &out, const std::string &env = "") {
        return runScript(work_, unit.path(), options, script, out, env);
    }

    // The recorded session: a refused frame and a bad check code.
    void record() {
        Unit unit(work_, {"--nak-frames", "1", "--bad-crc", "1"});
        ASSERT_FALSE(unit.path().empty()) << unit.errors();
        ASSERT_EQ(console(unit, "--capture field.rslcap --log session.log", "session.vds", "original.txt"), 0)
            << slurp(work_ / "original.txt.err");
    }

    std::string decode(const std::string &file) {
        const std::string out = file + ".decoded";
        EXPECT_EQ(run("'" + std::string(VALDOR_PATH) + "' --decode '" + (work_ / file).string() + "' > '" +
                      (work_ / out).string() + "'"),
                  0);
        return slurp(work_ / out);
    }

    fs::path work_;
};

class Replayed : public FieldRecord, public ::testing::WithParamInterface<bool> {};

TEST_P(Replayed, TheConsoleSeesTheSameSessionFaultsIncluded) {
    record();
    const std::string original = decode("field.rslcap");
    ASSERT_EQ(count(original, "bad, "), 1u) << original;
    ASSERT_EQ(count(original, "RECV DLE NAK"), 1u) << original;

    std::vector<std::string> options = {"--replay", (work_ / "field.rslcap").string()};
    if (!GetParam()) options.push_back("--replay-no-delays");
    Unit replay(work_, options);
    ASSERT_FALSE(replay.path().empty()) << replay.errors();
    ASSERT_EQ(console(replay, "--capture again.rslcap", "session.vds", "replayed.txt"), 0)
        << slurp(work_ / "replayed.txt.err");
    EXPECT_EQ(replay.stop(), 0) << replay.errors();
    EXPECT_EQ(count(replay.errors(), "differs"), 0u) << replay.errors();

    EXPECT_EQ(mask(slurp(work_ / "replayed.txt")), mask(slurp(work_ / "original.txt")));
    const std::string again = decode("again.rslcap");
    EXPECT_EQ(count(again, "bad, "), 1u) << "the bad check code came back";
    EXPECT_EQ(count(again, "RECV DLE NAK"), 1u) << "the refusal came back";
    EXPECT_EQ(count(again, " frame "), count(original, " frame "));
}

INSTANTIATE_TEST_SUITE_P(Delays, Replayed, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "recorded_delays" : "no_delays"; });

// Every example of docs/examples, recorded and replayed: the same output and
// the same report file (the operational-log acquisition writes one; the
// download's time frame carries the date, which the replay leaves out).
class ExampleReplayed : public FieldRecord, public ::testing::WithParamInterface<const char *> {};

TEST_P(ExampleReplayed, GivesTheSameOutputAndReport) {
    const fs::path examples = fs::path(SOURCE_DIR) / "docs" / "examples";
    const std::string script = (examples / (std::string(GetParam()) + ".vds")).string();
    fs::copy_file(examples / "sample.prg", work_ / "sample.prg");
    {
        Unit unit(work_, {});
        ASSERT_FALSE(unit.path().empty());
        ASSERT_EQ(console(unit, "--capture example.rslcap", script, "original.txt"), 0)
            << slurp(work_ / "original.txt.err");
    }
    const bool report = fs::exists(work_ / "oplog-report.txt");
    EXPECT_EQ(report, std::string(GetParam()) == "oplog-acquisition");
    if (report) fs::rename(work_ / "oplog-report.txt", work_ / "original-report.txt");
    Unit replay(work_, {"--replay", (work_ / "example.rslcap").string(), "--replay-no-delays"});
    ASSERT_EQ(console(replay, "", script, "replayed.txt"), 0) << slurp(work_ / "replayed.txt.err");
    EXPECT_EQ(replay.stop(), 0) << replay.errors();
    static const std::regex clockFrame(R"(SEND\[time\]>60 D4 FF .*)");
    EXPECT_EQ(std::regex_replace(mask(slurp(work_ / "replayed.txt")), clockFrame, "<clock frame>"),
              std::regex_replace(mask(slurp(work_ / "original.txt")), clockFrame, "<clock frame>"));
    if (report) {
        EXPECT_EQ(slurp(work_ / "oplog-report.txt"), slurp(work_ / "original-report.txt"));
    }
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleReplayed,
                         ::testing::Values("status-check", "bill-count", "log-read", "oplog-acquisition",
                                           "download"),
                         [](const auto &info) {
                             std::string n = info.param;
                             std::replace(n.begin(), n.end(), '-', '_');
                             return n;
                         });

TEST_F(FieldRecord, ADifferentRequestIsReportedWithBothTextsAndCanStopTheReplay) {
    record();
    std::ofstream(work_ / "other.vds") << "select 1137 \"COM1\"\npress \"COM Open\"\n"
                                          "wait message \"COM OPEN Completed.\"\ncheck 1240 on\n"
                                          "press \"Status Read\"\nwait message \"Receive Normal End\" 3\n";
    Unit replay(work_, {"--replay", (work_ / "field.rslcap").string(), "--replay-no-delays",
                        "--replay-stop-on-mismatch"});
    console(replay, "", "other.vds", "other.txt");
    EXPECT_EQ(replay.stop(), 1);
    const std::string report = replay.errors();
    EXPECT_NE(report.find("differs from the recording"), std::string::npos) << report;
    EXPECT_NE(report.find("recorded: 00 01 1C"), std::string::npos) << report;
    EXPECT_NE(report.find("live:     60 01 FF 00 00 01 00 1C"), std::string::npos) << report;
    EXPECT_NE(report.find("stopped"), std::string::npos) << report;
}

TEST_F(FieldRecord, TheSessionLogHoldsEveryMessageLineWithItsDateAndTime) {
    record();
    const std::string log = slurp(work_ / "session.log");
    std::istringstream shown(slurp(work_ / "original.txt"));
    static const std::regex dated(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (.*)$)");
    std::istringstream logged(log);
    std::vector<std::string> logLines;
    for (std::string l; std::getline(logged, l);) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, dated)) << l;
        logLines.push_back(m[1]);
    }
    size_t at = 0;
    for (std::string l; std::getline(shown, l);) {
        if (l.empty() || l[0] == '@') continue;
        while (at < logLines.size() && logLines[at] != l) ++at;
        ASSERT_LT(at, logLines.size()) << "not in the log, in order: " << l;
    }
    EXPECT_EQ(logLines.back(), "*** Test END ***");
}

// As recorded, and with every burst cut into single bytes: the dissector and
// the decoder put split pairs and frames together again.
TEST_F(FieldRecord, TsharkWithTheDissectorDecodesEveryFrameAndFindsTheBadOne) {
    if (run("command -v tshark > /dev/null") != 0) GTEST_SKIP() << "tshark is not installed (scripts/install-deps.sh)";
    record();
    splitIntoBytes(work_ / "field.rslcap", work_ / "bytes.rslcap");
    const std::string decoded = decode("field.rslcap");
    EXPECT_EQ(decode("bytes.rslcap"), decoded);
    for (const std::string name : {"field", "bytes"}) {
        SCOPED_TRACE(name);
        const std::string valdor = VALDOR_PATH;
        ASSERT_EQ(run("cd '" + work_.string() + "' && '" + valdor + "' --export-pcap " + name + ".rslcap " + name +
                      ".pcap"),
                  0);
        // Two passes: what is printed comes from the second, which sees each
        // packet again as the window does on a click.
        const std::string tshark = "cd '" + work_.string() + "' && tshark -2 -X lua_script:'" DISSECTOR_PATH
                                   "' -r " + name + ".pcap ";
        ASSERT_EQ(run(tshark + "-T fields -E 'separator=|' -e rslink.direction -e rslink.crc.status -e rslink.command "
                               "-e rslink.dh0 -e rslink.dh1 -e rslink.error.text > fields.txt 2> tshark.err"),
                  0)
            << slurp(work_ / "tshark.err");
        const std::string fields = slurp(work_ / "fields.txt");
        EXPECT_EQ(count(fields, "good") + count(fields, "bad"), count(decoded, " frame ")) << fields;
        EXPECT_EQ(count(fields, "|bad|"), 1u) << fields;
        EXPECT_EQ(count(fields, "Status read"), count(decoded, "request: Status read")) << fields;
        EXPECT_EQ(count(fields, "Log read/clear, with optional message"), 1u) << fields;
        EXPECT_EQ(count(fields, "0xe0|0x01|Normal end"), count(decoded, "RECV frame E0 01 ")) << fields;
        EXPECT_EQ(count(fields, "0xe0|0x12|Normal end"), 1u) << fields;

        ASSERT_EQ(run(tshark + "-Y rslink.crc.bad -T fields -e rslink.dh1 -e rslink.crc > bad.txt 2>> tshark.err"),
                  0);
        const std::string bad = slurp(work_ / "bad.txt");
        EXPECT_EQ(count(bad, "\n"), 1u) << bad;
        EXPECT_EQ(bad.rfind("0x01\t", 0), 0u) << bad;
        // Nothing is left over as noise or unfinished.
        ASSERT_EQ(run(tshark + "-Y 'rslink.noise || rslink.partial' > leftover.txt 2>> tshark.err"), 0);
        EXPECT_EQ(slurp(work_ / "leftover.txt"), "");
    }
}

// A capture that nothing ends (neither RSCapture nor the script): the
// console's Exit closes the port, the program ends, and the file ends at its
// last record, the COM Close, with no zero tail.
TEST_F(FieldRecord, ACaptureNothingEndsIsCutToItsRecordsWhenTheProgramEnds) {
    Unit unit(work_, {});
    ASSERT_FALSE(unit.path().empty()) << unit.errors();
    struct Way {
        std::string file, options, env;
    };
    for (const Way &way : {Way{"by-option.rslcap", "--capture by-option.rslcap", ""},
                           Way{"by-env.rslcap", "", "RSLINK_CAPTURE=by-env.rslcap"}}) {
        SCOPED_TRACE(way.file);
        ASSERT_EQ(console(unit, way.options, "session.vds", way.file + ".txt", way.env), 0)
            << slurp(work_ / (way.file + ".txt.err"));
        const cap::Parsed p = readCapture(work_ / way.file);
        ASSERT_TRUE(p.ok()) << p.error;
        ASSERT_GE(p.records.size(), 3u);
        EXPECT_EQ(p.records.back().type, cap::RecordType::Close);
        // A COM Close record is its header and its time.
        EXPECT_EQ(fs::file_size(work_ / way.file), p.records.back().offset + cap::kRecordHeaderSize + 8);
    }
}

TEST_F(FieldRecord, TheEnvironmentAndTheScriptStatementStartAndStopTheCapture) {
    Unit unit(work_, {});
    ASSERT_FALSE(unit.path().empty());
    std::ofstream(work_ / "partial.vds")
        << "select 1137 \"COM1\"\npress \"COM Open\"\nwait message \"COM OPEN Completed.\"\n"
           "press \"Status Read\"\nwait message \"Receive Normal End\"\n"
           "capture \"middle.rslcap\"\n"
           "check 1240 on\npress \"Status Read\"\nwait message \"Receive Normal End\"\n"
           "capture off\n"
           "press \"Cancel\"\nwait message \"Receive Normal End\"\n";
    ASSERT_EQ(console(unit, "", "partial.vds", "partial.txt", "RSLINK_CAPTURE=env.rslcap"), 0)
        << slurp(work_ / "partial.txt.err");

    const cap::Parsed env = readCapture(work_ / "env.rslcap");
    ASSERT_TRUE(env.ok()) << env.error;
    ASSERT_GE(env.records.size(), 3u);
    EXPECT_EQ(env.records[0].type, cap::RecordType::Clock);
    EXPECT_EQ(env.records[1].type, cap::RecordType::Open);
    EXPECT_EQ(env.records[1].speed, 9600u);
    EXPECT_EQ(env.records[1].parity, 2);
    EXPECT_EQ(env.records[1].port, 1);
    EXPECT_EQ(env.records[1].text, unit.path());
    const std::string fromEnv = decode("env.rslcap");
    EXPECT_EQ(count(fromEnv, "SEND frame 00 01 1C "), 1u) << fromEnv;
    EXPECT_EQ(count(fromEnv, "SEND frame 60 01 FF"), 0u) << "the statement moved the capture";

    const std::string middle = decode("middle.rslcap");
    EXPECT_EQ(count(middle, "SEND frame 60 01 FF 00 00 01 00 1C "), 1u) << middle;
    EXPECT_EQ(count(middle, "SEND frame 00 01 1C "), 0u) << middle;
    EXPECT_EQ(count(middle, "request: Cancel"), 0u) << "capture off stopped it";
    EXPECT_EQ(count(middle, "COM Open"), 1u) << "a capture started on an open port notes its settings";

    std::ofstream(work_ / "bad.vds") << "capture \"/nonexistent-folder/x.rslcap\"\n";
    EXPECT_EQ(console(unit, "", "bad.vds", "bad.txt"), 2);
    EXPECT_NE(slurp(work_ / "bad.txt.err").find("/nonexistent-folder/x.rslcap"), std::string::npos);
}

}  // namespace
