// The headless front end: runs the console on the in-memory panel from a
// script of button presses, one statement per line, without any window.
#pragma once

#include <cstdio>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "valdor/headless/script_statement.h"

namespace valdor {

class Panel;

// Exit status of a script run.
inline constexpr int kScriptOk = 0;
inline constexpr int kScriptTimedOut = 1;
inline constexpr int kScriptError = 2;

// What a statement ran into: the exit status a script ends with, and the
// message it writes after "line N: ".
struct ScriptFailure {
    int status;
    std::string message;
};

// How a session differs from a script's.
struct ScriptSessionOptions {
    // Message lines go to `out` as they come.  Off, only `show` lines go
    // there (the session log still has every message line).
    bool printMessages = true;
    // A `wait responses` or `wait message` ends at once, failed, when the
    // line fails ("Send Abnormal End" or "API Error End" since the previous
    // wait), rather than at its time-out; a wait for that very line holds.
    bool lineFailureEndsWait = false;
};

// One console run without a window, statement by statement: what a script
// runs on, and what one unit of a production run runs its recipe on.
// Message lines and `show` lines go to `out` as they come, warnings to
// `err`.  The console shuts down as "Exit" does at finish() or at the end.
class ScriptSession {
public:
    ScriptSession(std::FILE *out, std::FILE *err, ScriptSessionOptions options = {});
    ~ScriptSession();
    ScriptSession(const ScriptSession &) = delete;
    ScriptSession &operator=(const ScriptSession &) = delete;

    // Runs one statement; what it ran into, if anything.  A statement that
    // was refused when read is reported here, when its turn comes.
    std::optional<ScriptFailure> execute(const ScriptStatement &statement);
    // Closes the port and stops the worker, as "Exit" does; once only.
    void finish();
    // Writes one line to `err`, whole and in turn with the message lines.
    void error(const std::string &text);
    // The console's controls as they are now, for reading only.
    const Panel &panel() const;
    // The port is open: the last COM Open succeeded and no close followed.
    bool portOpen() const;
    // The last message line appended, "" before the first.
    std::string lastMessage() const;

    // From any thread: a wait running now, and every later one, ends at
    // once, failed ("broken off"), until resume().  The statement running
    // otherwise runs to its end.
    void interrupt();
    void resume();

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// Runs the statements read from `in`.  Message lines and `show` lines go to
// `out` as they come, warnings and errors to `err`.  At the end, and after
// any failure, the console shuts down as "Exit" does.
int runScript(std::istream &in, std::FILE *out, std::FILE *err);

// As runScript, reading FILE, or standard input for "-".
int runScriptFile(const std::string &path);

}  // namespace valdor
