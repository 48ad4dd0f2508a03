#include "valdor/production/expect.h"

#include <algorithm>

#include "valdor/panel/buttons.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/panel.h"
#include "valdor/panel/show_lines.h"

namespace valdor {

namespace {

// Not the <cctype> tests: those follow the locale.
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool allOf(std::string_view s, bool (*is)(char)) { return !s.empty() && std::all_of(s.begin(), s.end(), is); }

// A number reduced so that equal values have equal forms: no leading zeros
// in the whole part, no trailing zeros in the fraction, no sign on zero.
struct Number {
    bool negative = false;
    std::string whole;     // digits; "" for zero
    std::string fraction;  // digits
};

std::optional<Number> readDecimal(std::string_view s) {
    Number n;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        n.negative = s[0] == '-';
        s.remove_prefix(1);
    }
    const size_t point = s.find('.');
    std::string_view whole = s.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? std::string_view() : s.substr(point + 1);
    if (!allOf(whole, isDigit) || (point != std::string_view::npos && !allOf(fraction, isDigit))) return std::nullopt;
    n.whole = std::string(whole.substr(std::min(whole.find_first_not_of('0'), whole.size())));
    n.fraction = std::string(fraction.substr(0, fraction.find_last_not_of('0') + 1));
    if (n.whole.empty() && n.fraction.empty()) n.negative = false;
    return n;
}

// Hexadecimal digits after 0x, or with or without it, upper-cased.
std::optional<Number> readHex(std::string_view s, bool prefixRequired) {
    const bool prefixed = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    if (prefixed) s.remove_prefix(2);
    if ((prefixRequired && !prefixed) || !allOf(s, isHexDigit)) return std::nullopt;
    Number n;
    for (char c : s.substr(std::min(s.find_first_not_of('0'), s.size())))
        n.whole += upper(c);
    return n;
}

// Digit strings of the same base compare by length, then digit by digit
// ('0'-'9' sort below 'A'-'F').
int compareMagnitude(const Number &a, const Number &b) {
    if (a.whole.size() != b.whole.size()) return a.whole.size() < b.whole.size() ? -1 : 1;
    if (int c = a.whole.compare(b.whole)) return c < 0 ? -1 : 1;
    if (int c = a.fraction.compare(b.fraction)) return c < 0 ? -1 : 1;
    return 0;
}

int compare(const Number &a, const Number &b) {
    if (a.negative != b.negative) return a.negative ? -1 : 1;
    const int magnitude = compareMagnitude(a, b);
    return a.negative ? -magnitude : magnitude;
}

std::optional<Number> readBound(const std::string &text, bool hex) {
    return hex ? readHex(text, true) : readDecimal(text);
}

bool inRange(const ExpectRange &range, std::string_view shown) {
    auto value = range.hex ? readHex(shown, false) : readDecimal(shown);
    auto low = readBound(range.low, range.hex);
    auto high = readBound(range.high, range.hex);
    return value && low && high && compare(*low, *value) <= 0 && compare(*value, *high) <= 0;
}

// A text in double quotes, as a script would write it.
std::string quoted(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

const char *expectOpText(ExpectOp op) {
    switch (op) {
        case ExpectOp::Equal: return "==";
        case ExpectOp::NotEqual: return "!=";
        case ExpectOp::InRange: return "in";
        case ExpectOp::On: return "on";
        case ExpectOp::Off: return "off";
    }
    return "?";
}

std::optional<ExpectedKind> expectedKind(int control) {
    if (isButton(control)) return ExpectedKind::Button;
    switch (shownAs(control)) {
        case ShownAs::Field: return ExpectedKind::Field;
        case ShownAs::Indicator: return ExpectedKind::Indicator;
        case ShownAs::Nothing: break;
    }
    return std::nullopt;
}

std::optional<ExpectRange> parseExpectRange(std::string_view text) {
    const size_t dots = text.find("..");
    if (dots == std::string_view::npos) return std::nullopt;
    ExpectRange range{std::string(text.substr(0, dots)), std::string(text.substr(dots + 2)), false};
    const bool lowHex = readHex(range.low, true).has_value();
    const bool highHex = readHex(range.high, true).has_value();
    if (lowHex && highHex) {
        range.hex = true;
        return range;
    }
    if (readDecimal(range.low) && readDecimal(range.high)) return range;
    return std::nullopt;
}

bool rangeIsEmpty(const ExpectRange &range) {
    auto low = readBound(range.low, range.hex);
    auto high = readBound(range.high, range.hex);
    return !low || !high || compare(*low, *high) > 0;
}

std::string expectedText(const Expectation &e) {
    switch (e.op) {
        case ExpectOp::Equal:
        case ExpectOp::NotEqual: return e.text;
        case ExpectOp::InRange: return e.range.low + ".." + e.range.high;
        case ExpectOp::On:
        case ExpectOp::Off: return expectOpText(e.op);
    }
    return {};
}

bool expectationHolds(const Expectation &e, std::string_view shown) {
    switch (e.op) {
        case ExpectOp::Equal: return shown == e.text;
        case ExpectOp::NotEqual: return shown != e.text;
        case ExpectOp::InRange: return inRange(e.range, shown);
        case ExpectOp::On: return shown == "on";
        case ExpectOp::Off: return shown == "off";
    }
    return false;
}

std::optional<std::string> shownText(const Panel &panel, int control, ExpectedKind kind) {
    switch (kind) {
        case ExpectedKind::Field:
            if (ctl::isDeviceControl(control) && !panel.deviceWindowExists()) return std::nullopt;
            return panel.text(control);
        case ExpectedKind::Indicator: return panel.checked(control) ? "on" : "off";
        case ExpectedKind::Button: return panel.enabled(control) ? "on" : "off";
    }
    return std::nullopt;
}

ExpectationRecord judge(const Expectation &e, const Panel &panel) {
    ExpectationRecord r{std::to_string(e.control), expectOpText(e.op), expectedText(e), "absent", false};
    if (auto text = shownText(panel, e.control, e.kind)) {
        r.actual = *text;
        r.held = expectationHolds(e, *text);
    }
    return r;
}

std::string describeFailure(const ExpectationRecord &r) {
    std::string stated = r.op == "==" || r.op == "!=" ? r.op + " " + quoted(r.expected)
                         : r.op == "in"               ? "in " + r.expected
                                                      : r.op;
    return "expect " + r.control + " " + stated + ": actual " + quoted(r.actual);
}

std::string serialFrom(const std::vector<int> &controls, const Panel &panel) {
    std::string serial;
    for (size_t i = 0; i < controls.size(); ++i) {
        if (i > 0) serial += '-';
        serial += shownText(panel, controls[i], ExpectedKind::Field).value_or("");
    }
    return serial;
}

}  // namespace valdor
