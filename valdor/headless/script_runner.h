// The headless front end: runs the console on the in-memory panel from a
// script of button presses, one statement per line, without any window.
#pragma once

#include <cstdio>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace valdor {

// Exit status of a script run.
inline constexpr int kScriptOk = 0;
inline constexpr int kScriptTimedOut = 1;
inline constexpr int kScriptError = 2;

// One word of a statement; quoted text keeps its blanks.
struct ScriptToken {
    std::string text;
    bool quoted = false;
};

// Splits a line into tokens: blanks separate, `#` outside quotes starts a
// comment, inside double quotes `\"` is a quote and `\\` a backslash.
// Returns an error text when a quote is not closed.
std::optional<std::string> tokenizeScriptLine(std::string_view line, std::vector<ScriptToken> &out);

// Runs the statements read from `in`.  Message lines and `show` lines go to
// `out` as they come, warnings and errors to `err`.  At the end, and after
// any failure, the console shuts down as "Exit" does.
int runScript(std::istream &in, std::FILE *out, std::FILE *err);

// As runScript, reading FILE, or standard input for "-".
int runScriptFile(const std::string &path);

}  // namespace valdor
