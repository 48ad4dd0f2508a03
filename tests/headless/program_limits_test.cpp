// The valdor program at its edges: waits far longer than a clock can count,
// a reader of standard output that goes away, and script paths that cannot
// be read.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <vector>
#include <fstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/bdusim_process.h"
#include "support/shell.h"
#include "support/wait.h"
#include "support/files.h"

namespace {

// valdor --script PATH as a child process, without a display; its standard
// output is a pipe the test reads from, its standard error a file.
class Program {
public:
    explicit Program(const std::string &script) {
        err_ = testsupport::scratch() + "/program_limits.err";
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], 1);
            int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(err, 2);
            ::close(fds[0]);
            ::close(fds[1]);
            ::unsetenv("DISPLAY");
            ::unsetenv("WAYLAND_DISPLAY");
            ::execl(VALDOR_PATH, VALDOR_PATH, "--script", script.c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        closeOutput();
    }

    // One line of standard output, without its newline ("" at the end).
    std::string readLine() {
        std::string line;
        char c;
        while (::read(out_, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }
    // Everything left on standard output.
    std::string readRest() {
        std::string all;
        char buf[4096];
        for (ssize_t n; (n = ::read(out_, buf, sizeof buf)) > 0;) all.append(buf, static_cast<size_t>(n));
        return all;
    }
    // The reader goes away, as `| head -1` does after its line.
    void closeOutput() {
        if (out_ >= 0) ::close(out_);
        out_ = -1;
    }
    // The wait status once the program ends within `limit`, or nothing.
    std::optional<int> waitEnd(std::chrono::milliseconds limit) {
        std::optional<int> ended;
        testsupport::waitUntil(
            [&] {
                int status = 0;
                if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
                pid_ = -1;
                ended = status;
                return true;
            },
            limit);
        return ended;
    }
    std::string errors() const { return testsupport::slurp(err_); }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string err_;
};

std::string writeScript(const std::string &name, const std::string &text) {
    std::string path = testsupport::scratch() + "/" + name;
    std::ofstream(path) << text;
    return path;
}

// A wait far longer than the clock can count waits; it neither fails nor
// returns at once.
class LongWait : public ::testing::TestWithParam<const char *> {};

TEST_P(LongWait, StillWaitsAfterASecond) {
    Program p(writeScript("long_wait.vds", std::string(GetParam()) + "\n"));
    EXPECT_EQ(p.readLine(), "Please COM OPEN.");
    auto ended = p.waitEnd(std::chrono::milliseconds(1000));
    EXPECT_FALSE(ended.has_value()) << GetParam() << " ended at once with status "
                                    << (ended ? WEXITSTATUS(*ended) : -1) << ": " << p.errors();
}

INSTANTIATE_TEST_SUITE_P(Deadlines, LongWait,
                         ::testing::Values("wait message \"x\" 1e10", "wait message \"x\" 1e300",
                                           "wait responses 1 1e10", "wait responses 1 1e300",
                                           "wait idle 1e10", "wait idle 1e300"));

// Whether lines keep coming or the script waits in silence, the reader
// going away ends it at once with the normal shutdown.
TEST(ClosedOutput, EndsTheScriptWithTheNormalShutdown) {
    testsupport::Bdusim sim;
    sim.mapCom(4);
    // Lines keep coming after the first: each Status Read answer adds some.
    std::string busy = "select 1137 \"COM4\"\npress \"COM Open\"\nwait message \"COM OPEN Completed.\"\n";
    for (int i = 0; i < 20; ++i) busy += "press \"Status Read\"\nwait message \"Receive Normal End\"\n";
    busy += "wait message \"never\" 1e10\n";
    // Nothing at all after the first line: only the reader's going away can end the wait.
    const std::string silent = "wait message \"never\" 1e10\n";
    for (const auto &[name, script] : {std::pair{"busy", busy}, std::pair{"silent", silent}}) {
        SCOPED_TRACE(name);
        Program p(writeScript(std::string("closed_output_") + name + ".vds", script));
        EXPECT_EQ(p.readLine(), "Please COM OPEN.");
        p.closeOutput();
        auto ended = p.waitEnd(std::chrono::seconds(60));
        ASSERT_TRUE(ended.has_value()) << "still running after its reader went away";
        ASSERT_TRUE(WIFEXITED(*ended)) << "killed by signal " << (WIFSIGNALED(*ended) ? WTERMSIG(*ended) : 0);
        EXPECT_EQ(WEXITSTATUS(*ended), 2);
        EXPECT_NE(p.errors().find("standard output is closed (Broken pipe): the script ends"), std::string::npos)
            << p.errors();
    }
}

// Script paths that cannot be read are a script error that names the path
// and why; the console does not start.
struct Unreadable {
    const char *what;
    std::string path;
    int error;
};

TEST(UnreadableScript, IsAScriptErrorNamingThePathAndTheReason) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(testsupport::scratch()) / "unreadable_scripts";
    fs::create_directories(dir / "a folder");
    const std::string locked = writeScript("locked.vds", "show enabled\n");
    ::chmod(locked.c_str(), 0);
    std::vector<Unreadable> cases = {
        {"a folder", (dir / "a folder").string(), EISDIR},
        {"a missing file", (dir / "missing.vds").string(), ENOENT},
    };
    // Permissions do not stop root.
    if (::geteuid() != 0) cases.push_back({"an unreadable file", locked, EACCES});
    for (const auto &c : cases) {
        Program p(c.path);
        const std::string out = p.readRest();
        auto ended = p.waitEnd(std::chrono::seconds(30));
        ASSERT_TRUE(ended.has_value()) << c.what;
        ASSERT_TRUE(WIFEXITED(*ended)) << c.what;
        EXPECT_EQ(WEXITSTATUS(*ended), 2) << c.what;
        EXPECT_EQ(out, "") << c.what << ": the console ran";
        const std::string err = p.errors();
        EXPECT_NE(err.find(c.path), std::string::npos) << c.what << ": " << err;
        EXPECT_NE(err.find(std::strerror(c.error)), std::string::npos) << c.what << ": " << err;
    }
    ::chmod(locked.c_str(), 0644);
}

}  // namespace
