// The headless front end: scripts run against the simulated unit, in this
// process and through the valdor program itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/bdusim_process.h"
#include "support/shell.h"
#include "valdor/headless/script_runner.h"

using namespace valdor;
using testsupport::Bdusim;

namespace {

std::string readAll(std::FILE *f) {
    std::rewind(f);
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    return s;
}

struct Run {
    int status;
    std::vector<std::string> out;
    std::string err;
};

Run run(const std::string &script) {
    std::istringstream in(script);
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> out(std::tmpfile(), std::fclose);
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> err(std::tmpfile(), std::fclose);
    int status = runScript(in, out.get(), err.get());
    return {status, testsupport::lines(readAll(out.get())), readAll(err.get())};
}

bool has(const std::vector<std::string> &lines, const std::string &line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(ScriptTokens, QuotesCommentsAndEscapes) {
    auto t = tokenizeScriptLine(R"(press "Bill Count <Front>"  # a comment)");
    ASSERT_TRUE(t);
    ASSERT_EQ(t->size(), 2u);
    EXPECT_EQ((*t)[1].text, "Bill Count <Front>");
    EXPECT_TRUE((*t)[1].quoted);

    t = tokenizeScriptLine(R"(type 1236 "say \"hi\" # \\ here")");
    ASSERT_TRUE(t);
    ASSERT_EQ(t->size(), 3u);
    EXPECT_EQ((*t)[2].text, R"(say "hi" # \ here)");

    t = tokenizeScriptLine("   # only a comment");
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->empty());
    t = tokenizeScriptLine(R"(select 1143 "+5mm    ")");
    ASSERT_TRUE(t);
    EXPECT_EQ((*t)[2].text, "+5mm    ");
    t = tokenizeScriptLine(R"(press "Status Read)");
    ASSERT_FALSE(t);
    EXPECT_EQ(t.failure().why, "a quoted text is not closed");
}

TEST(Script, EmptyScriptStartsAndEndsTheConsole) {
    auto r = run("");
    EXPECT_EQ(r.status, kScriptOk);
    EXPECT_EQ(r.out, (std::vector<std::string>{"Please COM OPEN.", "*** Test END ***"}));
}

TEST(Script, ErrorsNameTheLineAndStillShutDown) {
    auto r = run("# first\n\npress 1012\n");
    EXPECT_EQ(r.status, kScriptError);
    EXPECT_NE(r.err.find("line 3: press 1012: button is disabled"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.back(), "*** Test END ***");

    for (const char *bad : {"jump 3\n", "select 9999 0\n", "select 1143 6\n", "select 1143 \"nope\"\n",
                            "check 1283 on\n", "check 1240 maybe\n", "radio 1200\n", "type 1000 \"x\"\n",
                            "press \"No Such\"\n", "press 1200\n", "wait\n", "wait responses x\n",
                            "show things\n", "choose somewhere\n"}) {
        auto e = run(bad);
        EXPECT_EQ(e.status, kScriptError) << bad;
        EXPECT_EQ(e.err.rfind("line 1: ", 0), 0u) << bad << e.err;
    }
}

TEST(Script, StatementsAfterExitAreRefused) {
    auto r = run("press \"Exit\"\nshow enabled\n");
    EXPECT_EQ(r.status, kScriptError);
    EXPECT_NE(r.err.find("line 2:"), std::string::npos);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), "*** Test END ***"), 1);
}

TEST(Script, ShowLinesAndEnabledButtonsAtStartUp) {
    auto r = run("show enabled\nshow device\nshow response\n");
    ASSERT_EQ(r.status, kScriptOk);
    for (const char *line : {"@1001\ton", "@1003\ton", "@1006\ton", "@device\tabsent", "@1200\t", "@1235\t"})
        EXPECT_TRUE(has(r.out, line)) << line;
    for (const char *line : {"@1012\ton", "@1002\ton"}) EXPECT_FALSE(has(r.out, line)) << line;
}

TEST(Script, LongTextIsCutToFortyWithAWarning) {
    auto r = run("type 1236 \"0123456789012345678901234567890123456789XYZ\"\n");
    EXPECT_EQ(r.status, kScriptOk);
    EXPECT_NE(r.err.find("line 1: warning"), std::string::npos);
}

TEST(Script, UnansweredFileDialogIsCancelledWithAWarning) {
    Bdusim sim;
    sim.mapCom(2);
    auto r = run("select 1137 \"COM2\"\npress \"COM Open\"\npress \"Acquire Ope-Log\"\n"
                 "choose cancel\npress \"Acquire Ope-Log\"\n");
    EXPECT_EQ(r.status, kScriptOk) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), "Operational Log Cancel"), 2);
    EXPECT_NE(r.err.find("line 3: warning"), std::string::npos) << r.err;
}

TEST(Script, StatusReadAgainstTheSimulatedUnit) {
    Bdusim sim;
    sim.mapCom(2);
    auto r = run("select 1137 \"COM2\"\n"
                 "press \"COM Open\"\n"
                 "wait message \"COM OPEN Completed.\"\n"
                 "press 1012\n"
                 "wait responses 1\n"
                 "show response\n"
                 "show device\n"
                 "wait responses 1 0.5\n");
    EXPECT_EQ(r.status, kScriptTimedOut) << r.err;
    EXPECT_NE(r.err.find("line 8: wait responses 1: timed out after 0.5 s"), std::string::npos) << r.err;
    EXPECT_TRUE(has(r.out, "@1200\tE001"));
    EXPECT_TRUE(has(r.out, "@1207\tNormal end"));
    EXPECT_TRUE(has(r.out, "Send Normal End"));
    EXPECT_EQ(r.out.back(), "*** Test END ***");
    // The window exists but the status response did not fill it.
    EXPECT_TRUE(has(r.out, "@1390\t"));
}

TEST(Script, TestEndIsTheLastLineEvenWhenTheRepeatModeRuns) {
    Bdusim sim;
    sim.mapCom(2);
    auto r = run("select 1137 \"COM2\"\npress \"COM Open\"\ncheck 1242 on\n"
                 "press \"Status Read\"\nwait responses 3\n");
    EXPECT_EQ(r.status, kScriptOk) << r.err;
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), "*** Test END ***");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), "*** Test END ***"), 1);
}

// A wait sees the lines since the previous wait, those of a press included,
// and none from before it, whichever kind of wait that was.
TEST(Script, EachWaitCountsFromTheEndOfThePreviousOne) {
    Bdusim sim;
    sim.mapCom(2);
    const std::string open = "select 1137 \"COM2\"\npress \"COM Open\"\n";
    for (const char *between : {"wait idle 0.3\n", "wait responses 0\n", "wait message \"COM OPEN Completed.\"\n"}) {
        auto r = run(open + between + "wait message \"COM OPEN Completed.\" 0.3\n");
        EXPECT_EQ(r.status, kScriptTimedOut) << between << r.err;
        EXPECT_NE(r.err.find("line 4: wait message"), std::string::npos) << between << r.err;
    }
    // Lines of a press that came before the wait, and lines that come during it.
    auto r = run(open + "press \"Status Read\"\nshow enabled\nwait message \"Send Normal End\"\n"
                        "press \"Status Read\"\nwait message \"Receive Normal End\"\n");
    EXPECT_EQ(r.status, kScriptOk) << r.err;
}

// The program itself with no display at all runs the examples
// (examples_test.cpp); its help ends well.
TEST(ScriptProgram, HelpEndsWithStatusZero) {
    EXPECT_EQ(testsupport::run(std::string(VALDOR_PATH) + " --help > /dev/null"), 0);
}

}  // namespace
