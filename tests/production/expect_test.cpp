// What `expect` judges: the shown text against a text, a range or on/off,
// on a panel as it is, and a step run on a console without a unit.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "valdor/headless/script_runner.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/memory_panel.h"
#include "valdor/production/expect.h"
#include "valdor/production/recipe.h"
#include "valdor/production/step_runner.h"

using namespace valdor;

namespace {

Expectation inRange(const std::string &range) {
    Expectation e;
    e.op = ExpectOp::InRange;
    e.range = *parseExpectRange(range);
    return e;
}

}  // namespace

TEST(Expect, TextComparisonsAreExact) {
    Expectation eq;
    eq.text = "0000";
    Expectation ne = eq;
    ne.op = ExpectOp::NotEqual;
    for (const char *shown : {"0000", "0000 ", "000", "", "00A0"}) {
        const bool same = std::string(shown) == "0000";
        EXPECT_EQ(expectationHolds(eq, shown), same) << shown;
        EXPECT_EQ(expectationHolds(ne, shown), !same) << shown;
    }
}

TEST(Expect, RangesHoldInsideBothBoundsOnly) {
    struct Case {
        const char *range, *shown;
        bool holds;
    } cases[] = {
        {"0..10", "0", true},           {"0..10", "10", true},         {"0..10", "11", false},
        {"0..10", "007", true},         {"0..10", "-1", false},        {"-5..-1", "-3", true},
        {"0.10..0.20", "0.12", true},   {"0.10..0.20", "0.2", true},   {"0.10..0.20", "0.2000001", false},
        {"0.1..0.2", "0.09", false},    {"0..10", "", false},          {"0..10", "5 ", false},
        {"0..10", "1e1", false},        {"0..10", "0x5", false},       {"0..10", ".5", false},
        {"-0..0", "0", true},           {"0..99999999999999999999", "99999999999999999998", true},
        {"0x0000..0x00FF", "00A0", true}, {"0x0000..0x00ff", "00a0", true}, {"0x0000..0x00FF", "0100", false},
        {"0x10..0x20", "0x1F", true},   {"0x10..0x20", "0X20", true},  {"0x10..0x20", "21", false},
        {"0x10..0x20", "1G", false},    {"0x10..0x20", "0x", false},   {"0x00..0xFF", "00 01", false},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(parseExpectRange(c.range)) << c.range;
        EXPECT_EQ(expectationHolds(inRange(c.range), c.shown), c.holds) << c.range << " " << c.shown;
    }
}

TEST(Expect, MalformedAndEmptyRanges) {
    for (const char *bad : {"", "5", "1..", "..2", "a..b", "0x1..2", "1..0x2", "1.2.3..4", "0x..0x1", "1 ..2"})
        EXPECT_FALSE(parseExpectRange(bad)) << bad;
    EXPECT_TRUE(rangeIsEmpty(*parseExpectRange("0.2..0.19")));
    EXPECT_TRUE(rangeIsEmpty(*parseExpectRange("0x100..0xFF")));
    EXPECT_FALSE(rangeIsEmpty(*parseExpectRange("0x0F..0xf")));
    EXPECT_FALSE(rangeIsEmpty(*parseExpectRange("-1..-1")));
}

TEST(Expect, WhichControlsAreJudgedAndHow) {
    EXPECT_EQ(expectedKind(ctl::ErrorCode), ExpectedKind::Field);
    EXPECT_EQ(expectedKind(ctl::DevTitle), ExpectedKind::Field);
    EXPECT_EQ(expectedKind(ctl::DevRejectOption), ExpectedKind::Field);
    EXPECT_EQ(expectedKind(ctl::Bps), ExpectedKind::Indicator);
    EXPECT_EQ(expectedKind(ctl::ComOpen), ExpectedKind::Button);
    for (int notShown : {ctl::MessageText, ctl::MeasuredInf, ctl::Enhanced, ctl::ComPort, ctl::DevCodeLabel, 1617})
        EXPECT_FALSE(expectedKind(notShown)) << notShown;
}

TEST(Expect, JudgedOnThePanelAsShowPrintsIt) {
    MemoryPanel panel;
    panel.setText(ctl::ErrorCode, "00A0");
    panel.setChecked(ctl::Bps, true);
    panel.setEnabled(ctl::StatusRead, false);
    Recipe r = parseRecipe(
        "expect 1201 in 0x0000..0x00FF\nexpect 1201 == \"0000\"\nexpect 1290 on\nexpect 1291 off\n"
        "expect 1012 on\nexpect 1604 != \"x\"\n");
    ASSERT_TRUE(r.ok());
    std::vector<ExpectationRecord> got;
    for (const auto &s : r.steps[0].statements) got.push_back(judge(std::get<Expectation>(s.action), panel));
    const bool held[] = {true, false, true, true, false, false};
    const char *actual[] = {"00A0", "00A0", "on", "off", "off", "absent"};
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].held, held[i]) << i;
        EXPECT_EQ(got[i].actual, actual[i]) << i;
    }
    EXPECT_EQ(got[1].op, "==");
    EXPECT_EQ(got[1].expected, "0000");
    EXPECT_EQ(describeFailure(got[1]), "expect 1201 == \"0000\": actual \"00A0\"");

    panel.createDeviceWindow();
    panel.setText(ctl::DevCode1, "SN123456");
    panel.setText(ctl::DevCode2, "0001");
    EXPECT_TRUE(judge(std::get<Expectation>(r.steps[0].statements[5].action), panel).held);
    EXPECT_EQ(serialFrom({ctl::DevCode1, ctl::DevCode2}, panel), "SN123456-0001");
}

TEST(Expect, AStepGoesOnAfterAFailedExpectationAndEndsAtAnError) {
    Recipe r = parseRecipe(
        "step \"start-up\"\n"
        "expect \"COM Open\" on\n"
        "expect 1012 on\n"
        "expect 1201 == \"\"\n"
        "serial 1201\n"
        "press 1012\n"
        "expect 1201 == \"never judged\"\n");
    ASSERT_TRUE(r.ok());
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> out(std::tmpfile(), std::fclose);
    ScriptSession session(out.get(), out.get());
    UnitResult unit = plannedUnit("u1", "COM1", r);
    StepResult &step = unit.steps[0];
    unit.serial = "stale";
    runStep(session, r.steps[0], unit, step);
    EXPECT_EQ(step.outcome, Outcome::Error);
    EXPECT_EQ(step.message, "line 6: press 1012: button is disabled");
    ASSERT_EQ(step.expectations.size(), 3u);
    EXPECT_FALSE(step.expectations[1].held);
    EXPECT_TRUE(step.expectations[2].held);
    EXPECT_EQ(unit.serial, "");
}
