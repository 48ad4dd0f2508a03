// What a recipe's `expect` judges: the text `show` prints for one control at
// that moment, compared with a text, read as a number within a range, or
// (for an indicator or a button) on or off.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace valdor {

class Panel;

enum class ExpectOp { Equal, NotEqual, InRange, On, Off };

// The operator as a recipe writes it: "==", "!=", "in", "on", "off".
const char *expectOpText(ExpectOp op);

// What an expectation reads of its control.
enum class ExpectedKind {
    Field,      // the field's text
    Indicator,  // "on" while lit, "off" otherwise
    Button,     // "on" while enabled, "off" otherwise
};

// The kind of control `expect` may name by number; none for a control that
// neither `show response` nor `show device` prints and that is no button.
std::optional<ExpectedKind> expectedKind(int control);

// LO..HI, both inside.  Decimal bounds (a sign and a fraction allowed), or
// hexadecimal ones when both carry 0x; kept as written and compared exactly,
// digit by digit, so that no bound is rounded.
struct ExpectRange {
    std::string low;
    std::string high;
    bool hex = false;
};

// The range written as LO..HI, or none when it is no such thing.  A range
// with LO above HI is read; rangeIsEmpty tells.
std::optional<ExpectRange> parseExpectRange(std::string_view text);
bool rangeIsEmpty(const ExpectRange &range);

struct Expectation {
    int control = 0;
    ExpectedKind kind = ExpectedKind::Field;
    ExpectOp op = ExpectOp::Equal;
    std::string text;   // == and !=
    ExpectRange range;  // in
};

// The text the recipe states: TEXT, LO..HI, or on/off.
std::string expectedText(const Expectation &e);

// Whether the text `shown` meets the expectation.  For `in`, a text that is
// no number of the range's kind does not hold (a hexadecimal text may carry
// 0x itself, digits in either case); for on/off, `shown` is "on" or "off".
bool expectationHolds(const Expectation &e, std::string_view shown);

// One expectation judged, as the records keep it.
struct ExpectationRecord {
    std::string control;  // the control's number
    std::string op;
    std::string expected;
    std::string actual;
    bool held = false;
};

// The text `show` gives the control now: a field's text, or on/off.  None
// for a field of the Device Information window while it does not exist
// (`show device` then prints the window as absent).
std::optional<std::string> shownText(const Panel &panel, int control, ExpectedKind kind);

// Judges the expectation against the panel as it is now.  A control without
// a text does not hold whatever the operator, recorded with the actual text
// "absent".
ExpectationRecord judge(const Expectation &e, const Panel &panel);

// "expect 1201 == \"0000\": actual \"0012\"" for one that did not hold.
std::string describeFailure(const ExpectationRecord &record);

// The texts of `controls` joined with '-': the unit's serial.
std::string serialFrom(const std::vector<int> &controls, const Panel &panel);

}  // namespace valdor
