// The records of a run, read back by the tools their consumers use: the
// JUnit file by junitparser, the CSV by Python's csv module, the JSON lines
// by its json module.  Odd bytes in the texts must neither break a reader
// nor be lost.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/files.h"
#include "support/shell.h"
#include "valdor/production/records.h"
#include "valdor/production/recipe.h"
#include "valdor/production/sha256.h"

using namespace valdor;
using testsupport::TempDir;

namespace {

// Odd bytes: a control character, a quote, a comma, CR LF, valid UTF-8
// (e acute), a lone byte that is no UTF-8, and U+FFFF, which XML forbids.
const std::string kOdd = "bad\x01 \"x\", <&>\r\n\xC3\xA9 \xFF end \xEF\xBF\xBF";

// How the CSV and the XML show kOdd: the forbidden and the stray bytes as \xHH.
const std::string kOddMarked = "bad\\x01 \"x\", <&>\r\n\xC3\xA9 \\xFF end \\xEF\\xBF\\xBF";

std::string hexOf(const std::string &bytes) {
    std::string hex;
    for (unsigned char c : bytes) hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
    return hex;
}

// The text as the CSV and the XML write it, for texts made of kOdd's bytes.
std::string marked(std::string text) {
    for (auto [from, to] : {std::pair<std::string, std::string>{"\xEF\xBF\xBF", "\\xEF\\xBF\\xBF"},
                            {"\x01", "\\x01"},
                            {"\xFF", "\\xFF"}})
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
    return text;
}

std::string python(const TempDir &dir, const std::string &code, const std::string &arg) {
    const std::string script = dir.file("check.py");
    std::ofstream(script) << code;
    std::string out;
    const int status = testsupport::run("/usr/bin/python3 '" + script + "' '" + arg + "' 2>&1", out);
    EXPECT_EQ(status, 0) << out;
    return out;
}

StepResult step(const std::string &name, Outcome outcome, double seconds, const std::string &message = "") {
    StepResult s;
    s.name = name;
    s.outcome = outcome;
    s.seconds = seconds;
    s.message = message;
    return s;
}

// Three units: one passed, one failed two expectations of its second step,
// one timed out in its first step with odd bytes in its message.
RunResult sampleRun() {
    RunResult run{{"bench-1", sha256Hex("recipe"), "5.2", 12.5}, {}};
    UnitResult good{"good", "/dev/serial/by-path/a", "SN1-0001", {}, true};
    good.steps = {step("prepare", Outcome::Pass, 0.25), step("status", Outcome::Pass, 1.0),
                  step("teardown", Outcome::Pass, 0.125)};
    UnitResult bad{"bad", "COM3", "", {}, true};
    StepResult failed;
    failed.begin(std::chrono::system_clock::time_point(std::chrono::milliseconds(1714566896789)));
    failed.name = "status";
    failed.seconds = 2.25;
    failed.judged({"1201", "==", "0000", "0012", false});
    failed.judged({"1290", "on", "on", "on", true});
    failed.judged({"1203", "in", "0x00..0x10", kOdd, false});
    bad.steps = {step("prepare", Outcome::Pass, 0.5), failed, step("count", Outcome::Skipped, 0),
                 step("teardown", Outcome::Pass, 0.125)};
    UnitResult slow{"slow", "COM4", kOdd, {}, true};
    slow.steps = {step("prepare", Outcome::Timeout, 600, kOdd), step("status", Outcome::Skipped, 0),
                  step("count", Outcome::Skipped, 0), step("teardown", Outcome::Skipped, 0)};
    run.units = {good, bad, slow};
    return run;
}

}  // namespace

TEST(Sha256, KnownVectorsAndEveryPaddingLength) {
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    Sha256 million;
    for (int i = 0; i < 1000; ++i) million.add(std::string(1000, 'a'));
    auto digest = million.finish();
    EXPECT_EQ(hexOf(std::string(digest.begin(), digest.end())), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

    // Lengths around the block and padding edges, against Python's hashlib.
    TempDir dir;
    std::string ours;
    for (int n = 0; n <= 130; ++n) ours += sha256Hex(std::string(n, static_cast<char>('0' + n % 10))) + "\n";
    EXPECT_EQ(python(dir,
                     "import hashlib\n"
                     "for n in range(131): print(hashlib.sha256(str(n % 10).encode() * n).hexdigest())\n",
                     ""),
              ours);
}

TEST(Records, JsonLinesAppendedAndReadBackWithEveryByte) {
    TempDir dir;
    const RunResult run = sampleRun();
    const std::string path = dir.file("steps.jsonl");
    {
        StepsFile file(path);
        ASSERT_TRUE(file.opened());
        for (const auto &s : run.units[1].steps) ASSERT_TRUE(file.append(run.units[1], s));
    }
    StepsFile again(path);
    ASSERT_TRUE(again.append(run.units[2], run.units[2].steps[0]));

    const std::string out = python(dir,
                                   "import json, sys\n"
                                   "for line in open(sys.argv[1], 'rb'):\n"
                                   "    o = json.loads(line)\n"
                                   "    print(','.join(o), o['outcome'], o['start'], o['seconds'],\n"
                                   "          [(e['control'], e['held']) for e in o['expectations']])\n"
                                   "    print(o['message'].encode('utf-8').hex(), o['serial'].encode('utf-8').hex())\n",
                                   path);
    const auto lines = testsupport::lines(out);
    ASSERT_EQ(lines.size(), 10u) << out;
    const std::string keys = "unit,port,serial,step,outcome,start,seconds,expectations,message";
    EXPECT_EQ(lines[2],
              keys + " FAIL 2024-05-01T12:34:56.789Z 2.25 [('1201', False), ('1290', True), ('1203', False)]");
    EXPECT_EQ(lines[4].rfind(keys + " SKIPPED ", 0), 0u) << lines[4];
    EXPECT_EQ(lines[8].rfind(keys + " TIMEOUT ", 0), 0u) << lines[8];

    // Control characters come back as themselves; a stray byte as U+00XX.
    std::string decoded = kOdd;
    decoded.replace(decoded.find('\xFF'), 1, "\xC3\xBF");
    EXPECT_EQ(lines[9], hexOf(decoded) + " " + hexOf(decoded));
}

TEST(Records, SummaryCsvQuotesAndMarksOddBytes) {
    TempDir dir;
    const RunResult run = sampleRun();
    const std::string path = dir.file("summary.csv");
    ASSERT_TRUE(replaceFile(path, summaryCsv(run)));
    const std::string out = python(dir,
                                   "import csv, sys\n"
                                   "rows = list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8')))\n"
                                   "print(len(rows), ','.join(rows[0]))\n"
                                   "for r in rows[1:]: print(len(r), r[0], r[3], repr(r[4]), r[6], r[7])\n"
                                   "print(rows[2][5].encode('utf-8').hex())\n"
                                   "print(rows[3][2].encode('utf-8').hex())\n",
                                   path);
    const auto lines = testsupport::lines(out);
    ASSERT_EQ(lines.size(), 6u) << out;
    EXPECT_EQ(lines[0], std::string("4 ") + kSummaryCsvHeader);
    EXPECT_EQ(lines[1], "10 good PASS '' 1.375 bench-1");
    EXPECT_EQ(lines[2], "10 bad FAIL 'status' 2.875 bench-1");
    EXPECT_EQ(lines[3], "10 slow TIMEOUT 'prepare' 600.000 bench-1");
    ASSERT_NE(run.units[1].steps[1].message.find('\x01'), std::string::npos);
    EXPECT_EQ(lines[4], hexOf(marked(run.units[1].steps[1].message)));
    EXPECT_EQ(lines[5], hexOf(kOddMarked));
}

TEST(Records, JUnitReadByJunitparserAgreesWithTheResult) {
    TempDir dir;
    const RunResult run = sampleRun();
    const std::string path = dir.file("junit.xml");
    ASSERT_TRUE(replaceFile(path, junitXml(run)));
    const std::string out = python(
        dir,
        "import sys\n"
        "from junitparser import JUnitXml, Failure, Error, Skipped\n"
        "xml = JUnitXml.fromfile(sys.argv[1])\n"
        "print('run', xml.tests, xml.failures, xml.errors, xml.skipped, xml.time)\n"
        "for s in xml:\n"
        "    props = {p.name: p.value for p in s.properties()}\n"
        "    print('suite', s.name, s.tests, s.failures, s.errors, s.skipped, s.time, props['serial'] == '' or 'set',\n"
        "          props['port'], props['station'], len(props['recipe_sha256']))\n"
        "    for c in s:\n"
        "        kinds = [(type(r).__name__, r.type) for r in c.result]\n"
        "        print('case', c.classname, c.name, '%.3f' % c.time, kinds)\n"
        "        for r in c.result:\n"
        "            if r.message: print('text', r.message == r.text, r.message.encode('utf-8').hex())\n",
        path);
    const auto lines = testsupport::lines(out);
    ASSERT_EQ(lines.size(), 17u) << out;
    EXPECT_EQ(lines[0], "run 11 1 1 4 12.5");
    EXPECT_EQ(lines[1], "suite good 3 0 0 0 1.375 set /dev/serial/by-path/a bench-1 64");
    EXPECT_EQ(lines[2], "case good 01 prepare 0.250 []");
    EXPECT_EQ(lines[4], "case good 03 teardown 0.125 []");
    EXPECT_EQ(lines[5], "suite bad 4 1 0 1 2.875 True COM3 bench-1 64");
    EXPECT_EQ(lines[7], "case bad 02 status 2.250 [('Failure', 'expect')]");
    EXPECT_EQ(lines[8], "text True " + hexOf(marked(run.units[1].steps[1].message)));
    EXPECT_EQ(lines[9], "case bad 03 count 0.000 [('Skipped', None)]");
    EXPECT_EQ(lines[11], "suite slow 4 0 1 3 600.0 set COM4 bench-1 64");
    EXPECT_EQ(lines[12], "case slow 01 prepare 600.000 [('Error', 'TIMEOUT')]");
    EXPECT_EQ(lines[13], "text True " + hexOf(kOddMarked));
}

TEST(Records, StepsFileCompletedAfterAWriterThatDied) {
    TempDir dir;
    const RunResult run = sampleRun();
    const UnitResult &bad = run.units[1];
    const std::string path = dir.file("steps.jsonl");
    // The first step's line whole, the second's cut short.
    std::ofstream(path, std::ios::binary) << stepJsonLine(bad, bad.steps[0]) << stepJsonLine(bad, bad.steps[1]).substr(0, 30);
    ASSERT_TRUE(completeStepsFile(path, bad));
    std::string expected;
    for (const auto &s : bad.steps) expected += stepJsonLine(bad, s);
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), expected);
    ASSERT_TRUE(completeStepsFile(path, bad));  // complete already: left as it is
    std::ifstream again(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}), expected);
}
