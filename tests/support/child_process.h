// A program a test runs in the background, its standard output and error
// in files of the test's own folder, so that the test can read what it
// printed while it runs and how it ended.
#pragma once

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/shell.h"
#include "support/wait.h"

namespace testsupport {

class ChildProcess {
public:
    // Runs argv[0] with `argv`; its output goes to <work>/<name>.out and .err.
    ChildProcess(const std::filesystem::path &work, const std::string &name, std::vector<std::string> argv)
        : out_(work / (name + ".out")), err_(work / (name + ".err")) {
        // Emptied before the child starts, so that nothing a program of the
        // same name left there is taken for this one's output.
        for (const auto &file : {out_, err_}) std::ofstream(file, std::ios::trunc);
        pid_ = fork();
        if (pid_ == 0) {
            // A test program that crashes must not leave its child running.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int o = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(o, 1);
            dup2(e, 2);
            std::vector<char *> args;
            for (auto &s : argv) args.push_back(s.data());
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
    }
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // The first line it printed on standard output ("" after 10 s): the pty
    // path of a simulated unit or of a relay.
    std::string firstLine() const {
        std::string line;
        waitUntil([&] {
            const std::string text = slurp(out_);
            const size_t nl = text.find('\n');
            if (nl != std::string::npos) line = text.substr(0, nl);
            return nl != std::string::npos;
        });
        return line;
    }
    // Waits (10 s at most) until its standard error holds `what`.
    bool waitForError(const std::string &what) const {
        return waitUntil([&] { return errors().find(what) != std::string::npos; });
    }
    std::string output() const { return slurp(out_); }
    std::string errors() const { return slurp(err_); }
    // Ends it with SIGTERM and returns its exit status (-1: a signal ended it).
    int stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        return status_;
    }

private:
    std::filesystem::path out_, err_;
    pid_t pid_ = -1;
    int status_ = -1;
};

}  // namespace testsupport
