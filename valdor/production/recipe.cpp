#include "valdor/production/recipe.h"

#include <cerrno>
#include <cstdlib>

#include "valdor/panel/buttons.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/show_lines.h"

namespace valdor {

namespace {

using Tokens = std::vector<ScriptToken>;

struct Refusal {
    std::string message;
};

[[noreturn]] void refuse(std::string message) { throw Refusal{std::move(message)}; }

std::optional<int> number(const ScriptToken &t) {
    if (t.quoted || t.text.empty()) return std::nullopt;
    char *end = nullptr;
    errno = 0;
    const long n = std::strtol(t.text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || n < 0 || n > 99999) return std::nullopt;
    return static_cast<int>(n);
}

const char *kindName(ExpectedKind kind) {
    switch (kind) {
        case ExpectedKind::Field: return "a field";
        case ExpectedKind::Indicator: return "an indicator";
        case ExpectedKind::Button: return "a button";
    }
    return "a control";
}

Expectation expect(const Tokens &t) {
    constexpr const char *usage = "usage: expect CONTROL == \"TEXT\" | != \"TEXT\" | in LO..HI | on|off";
    if (t.size() < 3 || t.size() > 4) refuse(usage);
    const std::string control = shownToken(t[1]);
    Expectation e;
    if (t[1].quoted) {
        auto button = buttonByCaption(t[1].text);
        if (!button) refuse("expect " + control + ": no button has this caption");
        e.control = *button;
        e.kind = ExpectedKind::Button;
    } else {
        auto id = number(t[1]);
        auto kind = id ? expectedKind(*id) : std::nullopt;
        if (!kind) refuse("expect " + control + ": not a control that show prints, nor a button");
        e.control = *id;
        e.kind = *kind;
    }
    const std::string op = t[2].quoted ? shownToken(t[2]) : t[2].text;
    const bool onOff = op == "on" || op == "off";
    if (!onOff && op != "==" && op != "!=" && op != "in")
        refuse("expect " + control + ": say ==, !=, in, on or off, not " + op);
    if (t.size() != (onOff ? 3u : 4u)) refuse(usage);
    if (onOff != (e.kind != ExpectedKind::Field))
        refuse("expect " + control + ": " + kindName(e.kind) + " takes " +
               (onOff ? "==, != or in" : "on or off") + ", not " + op);
    if (onOff) {
        e.op = op == "on" ? ExpectOp::On : ExpectOp::Off;
    } else if (op == "in") {
        e.op = ExpectOp::InRange;
        const std::string where = "expect " + control + " in " + shownToken(t[3]);
        auto range = t[3].quoted ? std::nullopt : parseExpectRange(t[3].text);
        if (!range) refuse(where + ": bad range (LO..HI: two decimal numbers, or two hexadecimal ones with 0x)");
        if (rangeIsEmpty(*range)) refuse(where + ": empty range, LO is above HI");
        e.range = *range;
    } else {
        e.op = op == "==" ? ExpectOp::Equal : ExpectOp::NotEqual;
        if (!t[3].quoted) refuse("expect " + control + " " + op + ": give the TEXT in double quotes, not " + t[3].text);
        e.text = t[3].text;
    }
    return e;
}

SerialFrom serial(const Tokens &t) {
    if (t.size() < 2) refuse("usage: serial CONTROL [CONTROL ...]");
    SerialFrom s;
    for (size_t i = 1; i < t.size(); ++i) {
        auto id = number(t[i]);
        if (!id || shownAs(*id) != ShownAs::Field)
            refuse("serial " + shownToken(t[i]) + ": not a field that show response or show device prints");
        s.controls.push_back(*id);
    }
    return s;
}

// Inside a unit's run its port is COM1, whatever it is mapped to.
void checkPortChoice(const ScriptStatement &s, const Tokens &t) {
    auto *select = std::get_if<script::Select>(&s.action);
    if (select && select->control == ctl::ComPort && select->position && *select->position != 0)
        refuse(s.where + " " + shownToken(t[2]) + ": a unit's port is COM1; select \"COM1\" or 0");
}

class RecipeReader {
public:
    void line(std::string_view text, int number) {
        try {
            const auto tokens = tokenizeScriptLine(text);
            if (!tokens) refuse(tokens.failure().why);
            const Tokens &t = *tokens;
            if (t.empty()) return;
            const std::string verb = t[0].quoted ? std::string() : t[0].text;
            if (verb == "step") return step(t, number);
            if (verb == "teardown") return teardown(t, number);
            if (verb == "expect") return add(number, expect(t));
            if (verb == "serial") return add(number, serial(t));
            ScriptStatement s = parseScriptStatement(t, number);
            if (s.errorAt != ScriptErrorAt::None) refuse(s.error);
            checkPortChoice(s, t);
            // The unit's capture runs from its start to its end.
            if (std::holds_alternative<script::Capture>(s.action))
                refuse("capture: a unit's line is captured to DIR/NAME/line.rslcap for the whole run");
            add(number, std::move(s));
        } catch (const Refusal &refusal) {
            recipe_.errors.push_back("line " + std::to_string(number) + ": " + refusal.message);
        }
    }

    Recipe finish() {
        close();
        return std::move(recipe_);
    }

private:
    template <class Action>
    void add(int number, Action action) {
        current_.statements.push_back(RecipeStatement{number, std::move(action)});
    }

    void step(const Tokens &t, int number) {
        if (t.size() != 2 || !t[1].quoted) refuse("usage: step \"NAME\"");
        const std::string where = "step " + shownToken(t[1]);
        if (t[1].text.empty()) refuse(where + ": the name is empty");
        // The name goes into tab-separated lines and one-line records.
        for (unsigned char c : t[1].text)
            if (c < 0x20 || c == 0x7f) refuse(where + ": a name has no control characters");
        if (teardownLine_ != 0)
            refuse(where + ": after teardown (line " + std::to_string(teardownLine_) +
                   "), which comes after the last step");
        close();
        current_ = RecipeStep{t[1].text, number, {}};
    }

    void teardown(const Tokens &t, int number) {
        if (t.size() != 1) refuse("usage: teardown");
        if (teardownLine_ != 0) refuse("teardown: once only, and it is on line " + std::to_string(teardownLine_));
        close();
        current_ = RecipeStep{kTeardownStep, number, {}};
        teardownLine_ = number;
    }

    // The step being read is complete; a "prepare" without statements is none.
    void close() {
        if (teardownLine_ != 0)
            recipe_.teardown = std::move(current_);
        else if (current_.line != 0 || !current_.statements.empty())
            recipe_.steps.push_back(std::move(current_));
        current_ = RecipeStep{kPrepareStep, 0, {}};
    }

    Recipe recipe_;
    RecipeStep current_{kPrepareStep, 0, {}};
    int teardownLine_ = 0;
};

}  // namespace

Recipe parseRecipe(std::string_view text) {
    RecipeReader reader;
    int number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        reader.line(line, ++number);
    }
    return reader.finish();
}

}  // namespace valdor
