// The pieces of a run that need no process: its command line and units,
// the summary a retest reads back, the events a unit reports, and the
// lines the operator sees.
#include <gtest/gtest.h>

#include "valdor/production/recipe.h"
#include "valdor/production/retest.h"
#include "valdor/production/run_options.h"
#include "valdor/production/run_view.h"
#include "valdor/production/unit_report.h"

using namespace valdor;

namespace {

// The failure's words, or "accepted".
template <class T>
std::string refusal(const rslink::Result<T> &result) {
    if (result) return "accepted";
    EXPECT_EQ(result.failure().error, 0) << result.failure().why;
    return result.failure().why;
}

std::string derived(const std::string &word) {
    const auto unit = parseUnitWord(word);
    return unit ? unit->name + " | " + unit->port : "refused: " + unit.failure().why;
}

}  // namespace

TEST(RunOptions, TakesValuesInBothFormsAndRefusesWhatItDoesNotKnow) {
    const auto parsed = parseRunArguments({"--run", "r.vds", "--unit=a=COM2", "--unit", "/dev/ttyUSB0",
                                           "--unit-timeout=2.5", "--out", "o", "--units", "f1", "--units=f2",
                                           "--retest", "old", "--station", "s"});
    ASSERT_EQ(refusal(parsed), "accepted");
    const RunOptions &o = *parsed;
    EXPECT_EQ(o.recipe, "r.vds");
    ASSERT_EQ(o.units.size(), 2u);
    EXPECT_EQ(o.units[0].name + " " + o.units[0].port, "a COM2");
    EXPECT_EQ(o.units[1].name + " " + o.units[1].port, "ttyUSB0 /dev/ttyUSB0");
    EXPECT_DOUBLE_EQ(o.unitTimeout, 2.5);
    EXPECT_EQ(o.unitsFiles, (std::vector<std::string>{"f1", "f2"}));
    EXPECT_EQ(o.out.value_or(""), "o");
    EXPECT_EQ(o.retest.value_or(""), "old");
    EXPECT_EQ(o.station.value_or(""), "s");

    const std::pair<std::vector<std::string>, std::string> refusals[] = {
        {{"--run", "r", "--frob"}, "unknown option '--frob'"},
        {{"--run", "r", "stray"}, "unknown option 'stray'"},
        {{"--run", "r", "--unit"}, "--unit needs [NAME=]PORT"},
        {{"--run", "r", "--out="}, "--out needs DIR"},
        {{"--run", "r", "--out", "a", "--out", "b"}, "--out is given twice"},
        {{"--run", "r", "--unit-timeout", "0"}, "--unit-timeout: bad SECONDS '0' (a number above 0)"},
        {{"--run", "r", "--unit-timeout", "5s"}, "--unit-timeout: bad SECONDS '5s' (a number above 0)"},
        {{"--unit", "COM1"}, "--run needs RECIPE"},
    };
    for (const auto &[words, error] : refusals) EXPECT_EQ(refusal(parseRunArguments(words)), error) << words.back();
}

TEST(RunOptions, UnitNamesGivenOrTakenFromThePort) {
    EXPECT_EQ(derived("COM3"), "COM3 | COM3");
    EXPECT_EQ(derived("/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"),
              "pci-0000_00_14.0-usb-0_2_1.0-port0 | /dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
    EXPECT_EQ(derived("tcp://10.0.0.7:4001"), "10.0.0.7_4001 | tcp://10.0.0.7:4001");
    EXPECT_EQ(derived("left.1=/dev/ttyUSB0"), "left.1 | /dev/ttyUSB0");
    // An '=' after a '/' belongs to the path.
    EXPECT_EQ(derived("/dev/odd=name"), "odd_name | /dev/odd=name");
    EXPECT_EQ(derived("a b=COM1").rfind("refused: unit name 'a b'", 0), 0u);
    EXPECT_EQ(derived("..=COM1").rfind("refused: unit name '..'", 0), 0u);
    EXPECT_EQ(derived("a="), "refused: --unit a=: no PORT");
    EXPECT_EQ(derived("/dev/..").rfind("refused: --unit /dev/..: no unit name follows", 0), 0u);
    for (const char *good : {"a", "A-1_b.c", "..."}) EXPECT_TRUE(validUnitName(good)) << good;
    for (const char *bad : {"", ".", "..", "a/b", "é", "a\tb"}) EXPECT_FALSE(validUnitName(bad)) << bad;
}

TEST(RunOptions, UnitsFileAndDuplicates) {
    const auto read = parseUnitsFile("# slots\n\nleft  /dev/ttyUSB0\r\n  right\tCOM2  \n", "u.txt");
    ASSERT_EQ(refusal(read), "accepted");
    std::vector<UnitEntry> units = *read;
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[1].name + "|" + units[1].port, "right|COM2");
    EXPECT_EQ(refusal(parseUnitsFile("a COM1\nlonely\n", "u.txt")), "u.txt line 2: give NAME PORT");
    EXPECT_EQ(refusal(parseUnitsFile("a COM1 extra\n", "u.txt")), "u.txt line 1: give NAME PORT, nothing more");

    auto same = [](const std::string &port) { return port == "COM2" ? std::string("/dev/ttyUSB0") : port; };
    auto itself = [](const std::string &port) { return port; };
    EXPECT_EQ(refusal(checkDistinct(units, itself)), "accepted");
    EXPECT_EQ(refusal(checkDistinct(units, same)),
              "ports /dev/ttyUSB0 and COM2 are the same device /dev/ttyUSB0 (units left and right)");
    units.push_back({"left", "COM5", true});
    EXPECT_EQ(refusal(checkDistinct(units, itself)), "unit name left is given twice");
    units.back() = {"third", "COM2", true};
    EXPECT_EQ(refusal(checkDistinct(units, itself)), "port COM2 is given twice (units right and third)");
}

TEST(Retest, ReadsTheSummaryBackAndPicksTheUnitsThatDidNotPass) {
    const std::string csv =
        "unit,port,serial,outcome,failed_step,message,seconds,station,recipe_sha256,valdor_version\r\n"
        "a,COM1,S1,PASS,,,1.000,st,abc,5.2\r\n"
        "b,\"/dev/x,y\",,FAIL,status,\"expect 1201 == \"\"0000\"\": actual \"\"12\"\"\r\nmore\",2.000,st,abc,5.2\r\n"
        "c,COM3,,ERROR,prepare,boom,0.500,st,abc,5.2\r\n";
    const auto read = readSummary(csv);
    ASSERT_EQ(refusal(read), "accepted");
    std::vector<SummaryRow> rows = *read;
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].port, "/dev/x,y");

    const auto units = unitsToRetest(rows, "abc", {{"c", "COM9", true}});
    ASSERT_EQ(refusal(units), "accepted");
    ASSERT_EQ(units->size(), 2u);
    const auto &u = *units;
    EXPECT_EQ(u[0].name + " " + u[0].port + " " + u[1].name + " " + u[1].port, "b /dev/x,y c COM9");

    EXPECT_EQ(refusal(unitsToRetest(rows, "abd", {})).rfind("RECIPE is not the recipe that run ran", 0), 0u);
    EXPECT_EQ(refusal(unitsToRetest(rows, "abc", {{"a", "COM9", true}})), "unit a is not one of the units to retest");
    rows.erase(rows.begin() + 1, rows.end());
    const auto none = unitsToRetest(rows, "abc", {});
    ASSERT_EQ(refusal(none), "accepted");
    EXPECT_TRUE(none->empty());

    EXPECT_EQ(refusal(readSummary("unit,port\r\na,b\r\n")), "its header lacks unit, port, outcome or recipe_sha256");
    EXPECT_EQ(refusal(readSummary("unit,port,outcome,recipe_sha256\r\n\"a,b\r\n")), "a quoted field is not closed");
    EXPECT_EQ(refusal(readSummary("unit,port,outcome,recipe_sha256\r\na,b,c\r\n")), "row 2 has 3 fields, not 4");
}

TEST(UnitEvents, EveryByteAndFigureCrossesThePipe) {
    UnitEvent end;
    end.kind = UnitEvent::Kind::End;
    end.index = 3;
    end.step.outcome = Outcome::Fail;
    end.step.start = std::chrono::system_clock::time_point(std::chrono::microseconds(1714566896789123));
    end.step.seconds = 0.1 + 0.2;
    end.step.message = "tab\there\\n new\nline\r\x01\xFF";
    end.step.expectations = {{"1201", "==", "0000", "00\t12", false}, {"1290", "on", "on", "on", true}};
    end.serial = "SN\\1";
    const std::string line = encodeUnitEvent(end);
    ASSERT_EQ(line.find('\n'), line.size() - 1);
    auto back = decodeUnitEvent(std::string_view(line).substr(0, line.size() - 1));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->index, 3u);
    EXPECT_EQ(back->step.outcome, Outcome::Fail);
    EXPECT_EQ(back->step.start, end.step.start);
    EXPECT_EQ(back->step.seconds, end.step.seconds);
    EXPECT_EQ(back->step.message, end.step.message);
    EXPECT_EQ(back->serial, end.serial);
    ASSERT_EQ(back->step.expectations.size(), 2u);
    EXPECT_EQ(back->step.expectations[0].actual, "00\t12");
    EXPECT_TRUE(back->step.expectations[1].held);

    for (const char *wrong : {"", "begin\t1", "end\t0\tPASS", "begin\tx\t0", "done\textra", "end\t0\tGOOD\t0\t0\t\t\t0",
                              "end\t0\tPASS\t0\t0\t\t\t1\t1201\t==\t0\t0", "begin\t1\t2\\"})
        EXPECT_FALSE(decodeUnitEvent(wrong)) << wrong;
}

TEST(RunView, LinesTheOperatorSees) {
    Recipe recipe = parseRecipe("step \"status\"\nstep \"count\"\nteardown\n");
    UnitResult unit = plannedUnit("left", "COM1", recipe);
    unit.steps[0].outcome = Outcome::Fail;
    unit.steps[0].message = "expect 1201 == \"0000\":\tactual \"\x1b[2J\"";
    EXPECT_EQ(stepLine(unit, unit.steps[0]),
              "left\tstatus\tFAIL\texpect 1201 == \"0000\":\\x09actual \"\\x1B[2J\"");

    UnitRow row{&unit, size_t{1}, 12.9, false};
    EXPECT_EQ(outcomeSoFar(row), "FAIL");
    auto lines = unitLines({row}, 80);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "left  COM1  -       count  12 s  FAIL");
    EXPECT_EQ(unitLines({row}, 10)[1], "left  COM1");

    UnitResult good = plannedUnit("right", "COM2", recipe);
    for (auto &s : good.steps) s.outcome = Outcome::Pass;
    UnitResult late = plannedUnit("late", "COM3", recipe);
    late.steps[0].outcome = Outcome::Pass;
    late.steps[1].outcome = Outcome::Aborted;
    EXPECT_EQ(countsLine({unit, good, late, good}), "run: 2 passed, 1 failed, 0 error, 0 timeout, 1 aborted");
}
