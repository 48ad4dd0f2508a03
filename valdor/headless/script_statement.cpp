#include "valdor/headless/script_statement.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "valdor/panel/buttons.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/param_tables.h"

namespace valdor {

namespace {

constexpr double kDefaultWaitSeconds = 10.0;

using Tokens = std::vector<ScriptToken>;

// A statement refused while it is read; `action` holds what is known of it
// when the refusal waits for the control's enabled check.
struct Refused {
    ScriptErrorAt at;
    std::string message;
    ScriptAction action;
};

[[noreturn]] void refuse(const std::string &message) {
    throw Refused{ScriptErrorAt::Statement, message, script::Blank{}};
}
[[noreturn]] void refuseArgument(ScriptAction known, const std::string &message) {
    throw Refused{ScriptErrorAt::Argument, message, std::move(known)};
}

bool parseInt(const std::string &s, long &value) {
    if (s.empty()) return false;
    char *end = nullptr;
    errno = 0;
    value = std::strtol(s.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

bool parseSeconds(const std::string &s, double &value) {
    if (s.empty()) return false;
    char *end = nullptr;
    value = std::strtod(s.c_str(), &end);
    return *end == '\0' && std::isfinite(value) && value >= 0;
}

constexpr bool isCheckable(int id) {
    return (id >= ctl::Enhanced && id <= ctl::CountOrderReversing) || id == ctl::MeasuredInf;
}
constexpr bool isRadio(int id) { return id >= ctl::TransportFirst && id <= ctl::RetrievalLast; }

void arity(const Tokens &t, size_t low, size_t high, const char *usage) {
    if (t.size() < low || t.size() > high) refuse(std::string("usage: ") + usage);
}

// A control named by its number.
int control(const Tokens &t) {
    long id = 0;
    if (t[1].quoted || !parseInt(t[1].text, id)) refuse(t[0].text + " " + shownToken(t[1]) + ": not a control number");
    return static_cast<int>(id);
}

ScriptAction select(const Tokens &t) {
    arity(t, 3, 3, "select CONTROL POSITION|\"ITEM TEXT\"|none");
    script::Select s{control(t), std::nullopt};
    const ParamTable *table = tableFor(s.control);
    std::string where = "select " + shownToken(t[1]);
    if (!table) refuse(where + ": not a combo box");
    long n = 0;
    if (t[2].quoted) {
        for (size_t i = 0; i < table->items.size(); ++i)
            if (t[2].text == table->items[i].text) s.position = static_cast<int>(i);
        if (!s.position) refuseArgument(s, where + ": no item " + shownToken(t[2]));
    } else if (t[2].text == "none") {
        s.position = std::nullopt;
    } else if (parseInt(t[2].text, n) && n >= 0 && static_cast<size_t>(n) < table->items.size()) {
        s.position = static_cast<int>(n);
    } else {
        refuseArgument(s, where + ": bad position '" + t[2].text + "' (0 to " +
                              std::to_string(table->items.size() - 1) + ", an item text or none)");
    }
    return s;
}

ScriptAction check(const Tokens &t) {
    arity(t, 3, 3, "check CONTROL on|off");
    script::Check c{control(t), false};
    std::string where = "check " + shownToken(t[1]);
    if (!isCheckable(c.control)) refuse(where + ": not a check box");
    if (t[2].quoted || (t[2].text != "on" && t[2].text != "off"))
        refuseArgument(c, where + ": say on or off, not " + shownToken(t[2]));
    c.on = t[2].text == "on";
    return c;
}

ScriptAction radio(const Tokens &t) {
    arity(t, 2, 2, "radio CONTROL");
    script::Radio r{control(t)};
    if (!isRadio(r.control)) refuse("radio " + shownToken(t[1]) + ": not a radio button");
    return r;
}

ScriptAction type(const Tokens &t) {
    arity(t, 3, 3, "type 1236 \"TEXT\"");
    script::Type y{control(t), t[2].text};
    if (y.control != ctl::MessageText) refuse("type " + shownToken(t[1]) + ": only field 1236 takes text");
    return y;
}

ScriptAction press(const Tokens &t) {
    arity(t, 2, 2, "press CONTROL|\"CAPTION\"");
    std::string where = "press " + shownToken(t[1]);
    long n = 0;
    if (t[1].quoted) {
        auto byCaption = buttonByCaption(t[1].text);
        if (!byCaption) refuse(where + ": no button has this caption");
        return script::Press{*byCaption};
    }
    if (parseInt(t[1].text, n) && isButton(static_cast<int>(n))) return script::Press{static_cast<int>(n)};
    refuse(where + ": not a button");
}

ScriptAction choose(const Tokens &t) {
    arity(t, 2, 2, "choose \"PATH\"|cancel");
    if (t[1].quoted) return script::Choose{t[1].text};
    if (t[1].text == "cancel") return script::Choose{std::nullopt};
    refuse("choose: give a quoted \"PATH\" or cancel");
}

double seconds(const Tokens &t, size_t index, double fallback) {
    if (t.size() <= index) return fallback;
    double s = 0;
    if (t[index].quoted || !parseSeconds(t[index].text, s)) refuse("wait: bad SECONDS '" + t[index].text + "'");
    return s;
}

ScriptAction wait(const Tokens &t) {
    if (t.size() < 2) refuse("usage: wait responses N [SECONDS] | message \"TEXT\" [SECONDS] | idle SECONDS");
    const std::string &what = t[1].text;
    if (what == "responses" && !t[1].quoted) {
        arity(t, 3, 4, "wait responses N [SECONDS]");
        long n = 0;
        if (t[2].quoted || !parseInt(t[2].text, n) || n < 0) refuse("wait responses: bad N '" + t[2].text + "'");
        return script::WaitResponses{static_cast<uint64_t>(n), t[2].text, seconds(t, 3, kDefaultWaitSeconds)};
    }
    if (what == "message" && !t[1].quoted) {
        arity(t, 3, 4, "wait message \"TEXT\" [SECONDS]");
        return script::WaitMessage{t[2].text, shownToken(t[2]), seconds(t, 3, kDefaultWaitSeconds)};
    }
    if (what == "idle" && !t[1].quoted) {
        arity(t, 3, 3, "wait idle SECONDS");
        return script::WaitIdle{seconds(t, 2, 0)};
    }
    refuse("wait: say responses, message or idle, not " + shownToken(t[1]));
}

ScriptAction show(const Tokens &t) {
    arity(t, 2, 2, "show response|device|enabled");
    if (!t[1].quoted) {
        if (t[1].text == "response") return script::Show{script::ShowWhat::Response};
        if (t[1].text == "device") return script::Show{script::ShowWhat::Device};
        if (t[1].text == "enabled") return script::Show{script::ShowWhat::Enabled};
    }
    refuse("show: say response, device or enabled, not " + shownToken(t[1]));
}

ScriptAction capture(const Tokens &t) {
    arity(t, 2, 2, "capture \"FILE\" | off");
    if (!t[1].quoted && t[1].text == "off") return script::Capture{std::nullopt};
    if (!t[1].quoted) refuse("capture: say \"FILE\" or off, not " + shownToken(t[1]));
    return script::Capture{t[1].text};
}

ScriptAction action(const Tokens &t) {
    const std::string &verb = t[0].text;
    if (t[0].quoted) refuse("unknown statement " + shownToken(t[0]));
    if (verb == "select") return select(t);
    if (verb == "check") return check(t);
    if (verb == "radio") return radio(t);
    if (verb == "type") return type(t);
    if (verb == "press") return press(t);
    if (verb == "choose") return choose(t);
    if (verb == "wait") return wait(t);
    if (verb == "show") return show(t);
    if (verb == "capture") return capture(t);
    refuse("unknown statement '" + verb + "'");
}

struct ControlOf {
    std::optional<EnabledCheck> operator()(const script::Select &s) const { return EnabledCheck{s.control, "combo box"}; }
    std::optional<EnabledCheck> operator()(const script::Check &c) const { return EnabledCheck{c.control, "check box"}; }
    std::optional<EnabledCheck> operator()(const script::Radio &r) const { return EnabledCheck{r.control, "radio button"}; }
    std::optional<EnabledCheck> operator()(const script::Type &y) const { return EnabledCheck{y.control, "field"}; }
    std::optional<EnabledCheck> operator()(const script::Press &p) const { return EnabledCheck{p.button, "button"}; }
    std::optional<EnabledCheck> operator()(const auto &) const { return std::nullopt; }
};

}  // namespace

std::string shownToken(const ScriptToken &t) { return t.quoted ? "\"" + t.text + "\"" : t.text; }

ScriptStatement parseScriptStatement(const std::vector<ScriptToken> &tokens, int line) {
    ScriptStatement s;
    s.line = line;
    s.verb = shownToken(tokens[0]);
    s.where = tokens.size() > 1 ? tokens[0].text + " " + shownToken(tokens[1]) : s.verb;
    try {
        s.action = action(tokens);
    } catch (Refused &refused) {
        s.action = std::move(refused.action);
        s.error = std::move(refused.message);
        s.errorAt = refused.at;
    }
    return s;
}

ScriptStatement parseScriptLine(std::string_view text, int line) {
    const auto tokens = tokenizeScriptLine(text);
    if (!tokens) {
        ScriptStatement s;
        s.line = line;
        s.error = tokens.failure().why;
        s.errorAt = ScriptErrorAt::Split;
        return s;
    }
    if (tokens->empty()) {
        ScriptStatement s;
        s.line = line;
        return s;
    }
    return parseScriptStatement(*tokens, line);
}

std::optional<EnabledCheck> enabledCheck(const ScriptAction &action) {
    return std::visit(ControlOf{}, action);
}

rslink::Result<std::vector<ScriptToken>> tokenizeScriptLine(std::string_view line) {
    std::vector<ScriptToken> out;
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            ScriptToken token{"", true};
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char q = line[i++];
                if (q == '"') {
                    closed = true;
                    break;
                }
                if (q == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\')) q = line[i++];
                token.text += q;
            }
            if (!closed) return rslink::Failure{0, "a quoted text is not closed"};
            out.push_back(std::move(token));
        } else {
            ScriptToken token;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '"' && line[i] != '#')
                token.text += line[i++];
            out.push_back(std::move(token));
        }
    }
    return out;
}

}  // namespace valdor
