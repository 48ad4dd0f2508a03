// A script statement read into a value before it runs: the kind of statement
// and its arguments, checked for everything that does not depend on the
// console's state.  A script runs each line as it reads it; a recipe checks
// every line of its file this way before any unit starts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "rslink/core/result.h"

namespace valdor {

// One word of a statement; quoted text keeps its blanks.
struct ScriptToken {
    std::string text;
    bool quoted = false;
};

// Splits a line into tokens: blanks separate, `#` outside quotes starts a
// comment, inside double quotes `\"` is a quote and `\\` a backslash.
// Refused when a quote is not closed.
rslink::Result<std::vector<ScriptToken>> tokenizeScriptLine(std::string_view line);

// What `shown` texts look like in messages: quoted text in its quotes.
std::string shownToken(const ScriptToken &token);

namespace script {

struct Blank {};  // nothing to run: a blank line, a comment, or a refused statement
struct Select {
    int control = 0;
    std::optional<int> position;  // none: no item selected
};
struct Check {
    int control = 0;
    bool on = false;
};
struct Radio {
    int control = 0;
};
struct Type {
    int control = 0;
    std::string text;  // as written; the run cuts it to the field's length
};
struct Press {
    int button = 0;
};
struct Choose {
    std::optional<std::string> path;  // none: cancel
};
struct WaitResponses {
    uint64_t count = 0;
    std::string countText;  // N as written, for the time-out message
    double seconds = 0;
};
struct WaitMessage {
    std::string text;
    std::string shownText;  // TEXT as written, for the time-out message
    double seconds = 0;
};
struct WaitIdle {
    double seconds = 0;
};
enum class ShowWhat { Response, Device, Enabled };
struct Show {
    ShowWhat what = ShowWhat::Response;
};
struct Capture {
    std::optional<std::string> file;  // none: off
};

}  // namespace script

using ScriptAction = std::variant<script::Blank, script::Select, script::Check, script::Radio, script::Type,
                                  script::Press, script::Choose, script::WaitResponses, script::WaitMessage,
                                  script::WaitIdle, script::Show, script::Capture>;

// When a run reports a statement's error, so that a script reports each one
// at the moment it always has: a line that cannot be split at once; any
// other refused statement after the check that the console has not ended;
// a wrong argument of a control only after the check that the control is
// enabled (a disabled control is named first).
enum class ScriptErrorAt { None, Split, Statement, Argument };

struct ScriptStatement {
    int line = 0;
    std::string verb;   // the first word as messages show it
    std::string where;  // the verb and its control, as a refusal at run time names them
    ScriptAction action;
    std::string error;  // as the script reports it, without the line
    ScriptErrorAt errorAt = ScriptErrorAt::None;

    bool blank() const { return std::holds_alternative<script::Blank>(action) && errorAt == ScriptErrorAt::None; }
};

// The statement of the words `tokens` (at least one) found on line `line`.
ScriptStatement parseScriptStatement(const std::vector<ScriptToken> &tokens, int line);

// The statement on one line of a script (a blank one for a blank line or a
// comment).
ScriptStatement parseScriptLine(std::string_view text, int line);

// The control a statement needs enabled before it runs, and what a refusal
// calls it ("combo box"); none for a statement that needs no control.
struct EnabledCheck {
    int control;
    const char *what;
};
std::optional<EnabledCheck> enabledCheck(const ScriptAction &action);

}  // namespace valdor
