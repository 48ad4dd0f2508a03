// valdor --run end to end: the program against several simulated units at
// once, its records read back by the tools a plant's systems use, its
// time-out, an abort by signal, a unit whose process dies, a retest, and
// every refusal made before anything is created.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/bdusim_process.h"
#include "support/files.h"
#include "support/shell.h"
#include "support/wait.h"

namespace fs = std::filesystem;
using testsupport::Bdusim;
using testsupport::slurp;

namespace {

// A status read judged, the serial taken from the device information, a
// teardown that closes the port.  `WAIT` is each exchange's bound.
std::string recipe(int wait = 2, const std::string &teardown = "press \"COM Close\"\n") {
    const std::string w = std::to_string(wait);
    return "select 1137 \"COM1\"\n"
           "press \"COM Open\"\n"
           "wait message \"COM OPEN Completed.\" 3\n"
           "step \"status\"\n"
           "press \"Status Read\"\n"
           "wait message \"Receive Normal End\" " + w + "\n"
           "expect 1201 == \"0000\"\n"
           "step \"device\"\n"
           "press \"Device Information\"\n"
           "wait message \"Receive Normal End\" " + w + "\n"
           "serial 1604 1605\n"
           "teardown\n" + teardown;
}

class RunTest : public ::testing::Test {
protected:
    std::string file(const std::string &name, const std::string &text) {
        std::ofstream(work.path() / name, std::ios::binary) << text;
        return (work.path() / name).string();
    }
    fs::path at(const std::string &name) const { return work.path() / name; }

    // valdor with `args`, in the work folder: its status, output and errors.
    int valdor(const std::string &args) {
        const int status = testsupport::run("cd '" + work.path().string() +
                                            "' && env -u DISPLAY -u WAYLAND_DISPLAY '" VALDOR_PATH "' " + args +
                                            " > out.txt 2> err.txt");
        out = slurp(at("out.txt"));
        err = slurp(at("err.txt"));
        return status;
    }

    // Every record of the run in DIR as the tools a plant uses read it:
    // Python's csv and json modules, and junitparser.
    std::string records(const std::string &dir) {
        const std::string script = file("read.py",
            "import csv, json, os, sys\n"
            "from junitparser import JUnitXml\n"
            "d = sys.argv[1]\n"
            "for row in csv.DictReader(open(os.path.join(d, 'summary.csv'), newline='')):\n"
            "    u = row['unit']\n"
            "    steps = [json.loads(l) for l in open(os.path.join(d, u, 'steps.jsonl'))]\n"
            "    print(u, row['outcome'], row['failed_step'] or '-', row['serial'] or '-', row['valdor_version'],\n"
            "          ' '.join(s['step'] + ':' + s['outcome'] for s in steps))\n"
            "    for s in steps:\n"
            "        for e in s['expectations']: print(' ', s['step'], e['control'], e['op'], e['held'])\n"
            "x = JUnitXml.fromfile(os.path.join(d, 'junit.xml'))\n"
            "print('junit', x.tests, x.failures, x.errors, x.skipped)\n");
        std::string text;
        EXPECT_EQ(testsupport::run("/usr/bin/python3 '" + script + "' '" + (work.path() / dir).string() + "' 2>&1", text), 0)
            << text;
        return text;
    }

    testsupport::TempDir work;
    std::string out, err;
};

// The run as a shell starts a job: in a process group of its own, which
// Ctrl-C on a terminal signals as a whole.
class Job {
public:
    Job(const fs::path &work, std::vector<std::string> args) : out_(work / "out.txt") {
        args.insert(args.begin(), VALDOR_PATH);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::chdir(work.c_str()) != 0) ::_exit(127);
            ::dup2(::open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
            ::dup2(::open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            std::vector<char *> argv;
            for (auto &a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::setpgid(pid_, pid_);
    }
    ~Job() {
        if (pid_ > 0) ::kill(-pid_, SIGKILL), ::waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return pid_; }
    std::string output() const { return slurp(out_); }
    bool printed(const std::string &text) const {
        return testsupport::waitUntil([&] { return output().find(text) != std::string::npos; });
    }
    // Its exit status once it has ended by itself (-1 when a signal ended it).
    int wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    fs::path out_;
    pid_t pid_ = -1;
};

// Units hold in a step until something ends it; the teardown reads the
// status, for as long as the unit takes to answer, and closes the port.
const char kHoldRecipe[] =
    "select 1137 \"COM1\"\n"
    "press \"COM Open\"\n"
    "wait message \"COM OPEN Completed.\" 3\n"
    "step \"hold\"\n"
    "wait message \"never\" 30\n"
    "teardown\n"
    "press \"Status Read\"\n"
    "wait message \"Receive Normal End\" 30\n"
    "press \"COM Close\"\n";

std::set<std::string> linesOf(const std::string &text) {
    auto all = testsupport::lines(text);
    return {all.begin(), all.end()};
}

}  // namespace

TEST_F(RunTest, GoodNegativeSilentAndHungUpUnitsEachGetTheirVerdictAndRecords) {
    Bdusim good, negative({"--negative", "0x01"}), silent({"--silent"}), hangUp({"--hang-up", "request:2"});
    const std::string r = file("recipe.vds", recipe());
    EXPECT_EQ(valdor("--run recipe.vds --station bench-7 --out run --unit good=" + good.path() + " --unit neg=" +
                     negative.path() + " --unit " + silent.path() + " --unit hang=" + hangUp.path()),
              1)
        << err;
    EXPECT_EQ(err, "");
    const std::string quiet = fs::path(silent.path()).filename().string();
    const auto lines = testsupport::lines(out);
    ASSERT_EQ(lines.size(), 18u) << out;
    EXPECT_EQ(lines[16], "run: 1 passed, 1 failed, 2 error, 0 timeout, 0 aborted");
    EXPECT_EQ(lines[17], "run");
    // Units run side by side: their lines interleave, each unit's in order.
    const std::set<std::string> steps(lines.begin(), lines.begin() + 16);
    EXPECT_EQ(steps, linesOf("good\tprepare\tPASS\t\ngood\tstatus\tPASS\t\ngood\tdevice\tPASS\t\ngood\tteardown\tPASS\t\n"
                             "neg\tprepare\tPASS\t\nneg\tstatus\tFAIL\texpect 1201 == \"0000\": actual \"700B\"\n"
                             "neg\tdevice\tSKIPPED\t\nneg\tteardown\tPASS\t\n" +
                             quiet + "\tprepare\tPASS\t\n" + quiet +
                             "\tstatus\tERROR\tline 6: wait message \"Receive Normal End\": timed out after 2 s\n" +
                             quiet + "\tdevice\tSKIPPED\t\n" + quiet + "\tteardown\tPASS\t\n"
                             "hang\tprepare\tPASS\t\nhang\tstatus\tPASS\t\n"
                             "hang\tdevice\tERROR\tline 10: wait message \"Receive Normal End\": the line failed "
                             "(API Error End)\nhang\tteardown\tPASS\t\n"));

    EXPECT_EQ(records("run"),
              "good PASS - BDUSIM01-0520 5.2 prepare:PASS status:PASS device:PASS teardown:PASS\n"
              "  status 1201 == True\n"
              "neg FAIL status - 5.2 prepare:PASS status:FAIL device:SKIPPED teardown:PASS\n"
              "  status 1201 == False\n" +
                  quiet + " ERROR status - 5.2 prepare:PASS status:ERROR device:SKIPPED teardown:PASS\n"
                  "hang ERROR device - 5.2 prepare:PASS status:PASS device:ERROR teardown:PASS\n"
                  "  status 1201 == True\n"
                  "junit 16 1 2 2\n");
    EXPECT_EQ(slurp(at("run/recipe.vds")), slurp(r));
    const std::string log = slurp(at("run/good/session.log"));
    EXPECT_NE(log.find(" COM OPEN Completed.\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" *** Test END ***\n"), std::string::npos) << log;
    EXPECT_GT(fs::file_size(at("run/good/line.rslcap")), 0u);
    EXPECT_NE(slurp(at("run/junit.xml")).find("<property name=\"station\" value=\"bench-7\"/>"), std::string::npos);
}

TEST_F(RunTest, AUnitPastItsTimeOutIsKilledWithoutTeardown) {
    Bdusim slow({"--delay", "5000"});
    file("recipe.vds", recipe(10));
    EXPECT_EQ(valdor("--run recipe.vds --out run --unit-timeout 1.5 --unit slow=" + slow.path()), 1) << err;
    EXPECT_EQ(out, "slow\tprepare\tPASS\t\nslow\tstatus\tTIMEOUT\tthe unit ran past its time-out of 1.5 s\n"
                   "slow\tdevice\tSKIPPED\t\nslow\tteardown\tSKIPPED\t\n"
                   "run: 0 passed, 0 failed, 0 error, 1 timeout, 0 aborted\nrun\n");
    // The killed unit left its port: a new run opens it, into a folder of
    // its own under runs/.
    file("open.vds", "select 1137 \"COM1\"\npress \"COM Open\"\nwait message \"COM OPEN Completed.\" 3\n");
    EXPECT_EQ(valdor("--run open.vds --unit slow=" + slow.path()), 0) << out << err;
    const std::string dir = testsupport::lines(out).back();
    auto digits = [&](size_t from, size_t to) {
        return std::all_of(dir.begin() + from, dir.begin() + to, [](char c) { return c >= '0' && c <= '9'; });
    };
    EXPECT_TRUE(dir.size() == 20 && dir.rfind("runs/", 0) == 0 && digits(5, 13) && dir[13] == '-' && digits(14, 20))
        << dir;  // runs/YYYYMMDD-HHMMSS
    EXPECT_TRUE(fs::exists(at(dir + "/slow/steps.jsonl")));
}

// Ctrl-C reaches the run and its units as one process group: every unit's
// step ends ABORTED and its teardown runs, cut off five seconds after the
// abort where it hangs, and the run ends within seven with its records.
TEST_F(RunTest, CtrlCAbortsEveryUnitAndBoundsTheTeardowns) {
    Bdusim quick, stuck({"--delay", "30000"});
    file("recipe.vds", kHoldRecipe);
    Job job(work.path(), {"--run", "recipe.vds", "--out", "run", "--unit", "quick=" + quick.path(), "--unit",
                          "stuck=" + stuck.path()});
    ASSERT_TRUE(testsupport::waitUntil([&] { return testsupport::count(job.output(), "\tprepare\tPASS") == 2; }))
        << job.output() << slurp(at("err.txt"));
    const auto signalled = std::chrono::steady_clock::now();
    ASSERT_EQ(::kill(-job.pid(), SIGINT), 0);
    EXPECT_EQ(job.wait(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(7));
    EXPECT_EQ(linesOf(job.output()),
              linesOf("quick\tprepare\tPASS\t\nquick\thold\tABORTED\taborted by SIGINT\nquick\tteardown\tPASS\t\n"
                      "stuck\tprepare\tPASS\t\nstuck\thold\tABORTED\taborted by SIGINT\n"
                      "stuck\tteardown\tABORTED\taborted by SIGINT: teardown cut off 5 s after the abort\n"
                      "run: 0 passed, 0 failed, 0 error, 0 timeout, 2 aborted\nrun\n"));
    EXPECT_EQ(records("run"),
              "quick ABORTED hold - 5.2 prepare:PASS hold:ABORTED teardown:PASS\n"
              "stuck ABORTED hold - 5.2 prepare:PASS hold:ABORTED teardown:ABORTED\n"
              "junit 6 0 3 0\n");
}

TEST_F(RunTest, SigtermToTheRunAloneAbortsAsCtrlCDoes) {
    Bdusim unit;
    file("recipe.vds", kHoldRecipe);
    Job job(work.path(), {"--run", "recipe.vds", "--out", "run", "--unit", "u=" + unit.path()});
    ASSERT_TRUE(job.printed("u\tprepare\tPASS")) << slurp(at("err.txt"));
    ASSERT_EQ(::kill(job.pid(), SIGTERM), 0);
    EXPECT_EQ(job.wait(), 1);
    EXPECT_EQ(job.output(), "u\tprepare\tPASS\t\nu\thold\tABORTED\taborted by SIGTERM\nu\tteardown\tPASS\t\n"
                            "run: 0 passed, 0 failed, 0 error, 0 timeout, 1 aborted\nrun\n");
    EXPECT_EQ(testsupport::count(slurp(at("run/u/steps.jsonl")), "\n"), 3u);
}

// A unit whose process dies is that unit's problem: its step ends ERROR,
// the other unit runs on to its end.
TEST_F(RunTest, AUnitWhoseProcessDiesEndsInErrorAndHoldsUpNoOther) {
    Bdusim first, second;
    std::string holdAWhile = kHoldRecipe;
    holdAWhile.replace(holdAWhile.find("wait message \"never\" 30"), 23, "wait idle 1.5");
    file("recipe.vds", holdAWhile);
    Job job(work.path(), {"--run", "recipe.vds", "--out", "run", "--unit", "a=" + first.path(), "--unit",
                          "b=" + second.path()});
    ASSERT_TRUE(testsupport::waitUntil([&] { return testsupport::count(job.output(), "\tprepare\tPASS") == 2; }));
    // The run's children, in the order it started them: a first.
    const std::string children = slurp("/proc/" + std::to_string(job.pid()) + "/task/" + std::to_string(job.pid()) +
                                       "/children");
    ASSERT_FALSE(children.empty());
    ASSERT_EQ(::kill(std::stoi(children), SIGKILL), 0);
    EXPECT_EQ(job.wait(), 1);
    EXPECT_EQ(linesOf(job.output()),
              linesOf("a\tprepare\tPASS\t\na\thold\tERROR\tthe unit's process died (SIGKILL)\na\tteardown\tSKIPPED\t\n"
                      "b\tprepare\tPASS\t\nb\thold\tPASS\t\nb\tteardown\tPASS\t\n"
                      "run: 1 passed, 0 failed, 1 error, 0 timeout, 0 aborted\nrun\n"));
    // The run wrote the lines of the steps the dead unit could not.
    EXPECT_EQ(records("run"),
              "a ERROR hold - 5.2 prepare:PASS hold:ERROR teardown:SKIPPED\n"
              "b PASS - - 5.2 prepare:PASS hold:PASS teardown:PASS\n"
              "junit 6 0 1 1\n");
}

TEST_F(RunTest, RetestRunsTheUnitsThatDidNotPassWithTheSameRecipeOnly) {
    Bdusim good, negative({"--negative", "0x01"}), replacement;
    file("recipe.vds", recipe());
    ASSERT_EQ(valdor("--run recipe.vds --out first --unit good=" + good.path() + " --unit neg=" + negative.path()), 1);

    // The failed unit moves to a good port; the unit that passed stays out.
    EXPECT_EQ(valdor("--run recipe.vds --retest first --out second --unit neg=" + replacement.path()), 0) << err;
    EXPECT_EQ(out, "neg\tprepare\tPASS\t\nneg\tstatus\tPASS\t\nneg\tdevice\tPASS\t\nneg\tteardown\tPASS\t\n"
                   "run: 1 passed, 0 failed, 0 error, 0 timeout, 0 aborted\nsecond\n");
    EXPECT_NE(slurp(at("second/summary.csv")).find("\r\nneg," + replacement.path() + ",BDUSIM01-0520,PASS,"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(at("second/good")));

    EXPECT_EQ(valdor("--run recipe.vds --retest second"), 0);
    EXPECT_EQ(out, "valdor: nothing to retest: every unit of second passed\n");
    EXPECT_FALSE(fs::exists(at("runs")));

    file("other.vds", recipe(3));
    EXPECT_EQ(valdor("--run other.vds --retest first --out third"), 2);
    EXPECT_EQ(err.rfind("valdor: --retest first: RECIPE is not the recipe that run ran (its SHA-256 is ", 0), 0u)
        << err;
    EXPECT_FALSE(fs::exists(at("third")));
}

TEST_F(RunTest, RefusalsNameTheCulpritOnOneLineAndCreateNothing) {
    file("recipe.vds", recipe());
    file("wrong.vds", "step \"a\"\nexpect 1201 = \"0\"\npress \"Status Read\"\nselect 1137 \"COM2\"\n");
    fs::create_directories(at("full"));
    file("full/keep", "x");
    const std::pair<std::string, std::string> cases[] = {
        {"--run recipe.vds --unit COM1 --frobnicate", "valdor: unknown option '--frobnicate'\n"},
        {"--run recipe.vds", "valdor: no unit: give --unit [NAME=]PORT or --units FILE\n"},
        {"--run recipe.vds --unit a=/dev/null --unit b=/dev/null",
         "valdor: port /dev/null is given twice (units a and b)\n"},
        {"--run recipe.vds --unit a=/dev/null --unit a=/dev/zero", "valdor: unit name a is given twice\n"},
        {"--run recipe.vds --unit COM1 --out full", "valdor: the output folder full exists and is not empty\n"},
        {"--run missing.vds --unit COM1", "valdor: cannot read the recipe missing.vds: No such file or directory\n"},
        {"--run wrong.vds --unit COM1",
         "line 2: expect 1201: say ==, !=, in, on or off, not =\n"
         "line 4: select 1137 \"COM2\": a unit's port is COM1; select \"COM1\" or 0\n"},
    };
    for (const auto &[args, refusal] : cases) {
        EXPECT_EQ(valdor(args), 2) << args;
        EXPECT_EQ(err, refusal) << args;
        EXPECT_EQ(out, "") << args;
        EXPECT_FALSE(fs::exists(at("runs"))) << args;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(at("full")), fs::directory_iterator()), 1);
}

// On a terminal the operator sees a line a unit redrawn in place, then the
// summary table, never the lines meant for a pipe.
TEST_F(RunTest, OnATerminalUnitsAreRedrawnInPlaceThenSummarised) {
    Bdusim unit;
    file("recipe.vds", recipe());
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::chdir(work.path().c_str()) != 0) ::_exit(127);
        ::execl(VALDOR_PATH, VALDOR_PATH, "--run", "recipe.vds", "--out", "run", "--unit", ("u=" + unit.path()).c_str(),
                static_cast<char *>(nullptr));
        ::_exit(127);
    }
    std::string screen;
    char buffer[4096];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) screen.append(buffer, static_cast<size_t>(n));
    ::close(master);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << screen;
    EXPECT_EQ(screen.find('\t'), std::string::npos) << screen;
    EXPECT_NE(screen.find("\x1b[2A\r"), std::string::npos) << screen;  // back over the heading and the unit
    EXPECT_NE(screen.find("u     " + unit.path() + "  BDUSIM01-0520  done  "), std::string::npos) << screen;
    EXPECT_NE(screen.find("\r\nUNIT  PORT"), std::string::npos) << screen;
    EXPECT_NE(screen.find("run: 1 passed, 0 failed, 0 error, 0 timeout, 0 aborted\r\nrun\r\n"), std::string::npos)
        << screen;
}
