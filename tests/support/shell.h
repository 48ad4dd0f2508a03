// Small helpers the end-to-end tests share: read a file whole, split text
// into lines, count occurrences, run a shell command for its status, and
// run the console headless on a script.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

inline std::string slurp(const std::filesystem::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

inline size_t count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Runs `command` through the shell: its exit status, or -1 when it did not exit.
inline int run(const std::string &command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The same, with its standard output appended to `out`.
inline int run(const std::string &command, std::string &out) {
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the console headless on `script` in the folder `work`, COM1 mapped
// to `com`: its exit status.  Its standard output goes to `out` and its
// errors to `out`.err, both in `work`; `env` adds NAME=value words.
inline int runScript(const std::filesystem::path &work, const std::string &com, const std::string &options,
                     const std::string &script, const std::string &out, const std::string &env = "") {
    return run("cd '" + work.string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY RSLINK_COM1='" + com + "' " + env +
               " '" + VALDOR_PATH + "' " + options + " --script '" + script + "' > '" + out + "' 2> '" + out +
               ".err'");
}

}  // namespace testsupport
