// What the script runner keeps between waits while the repeat mode floods
// the box: no more than the box itself would hold, so a line pushed out of
// the box by newer ones is no longer there for a `wait message`.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <istream>
#include <string>
#include <thread>

#include "support/bdusim_process.h"
#include "support/held_script.h"
#include "valdor/panel/message_limit.h"
#include "valdor/headless/script_runner.h"

using namespace valdor;
using testsupport::CountedOutput;
using testsupport::HeldScript;

namespace {

TEST(HeldScript, ALinePushedOutOfTheBoxIsNoLongerFound) {
    testsupport::Bdusim sim;
    sim.mapCom(5);
    HeldScript script("select 1137 \"COM5\"\npress \"COM Open\"\ncheck 1241 on\ncheck 1242 on\n"
                      "press \"Operational Log\"\n",
                      "wait message \"COM OPEN Completed.\" 0.1\ncheck 1242 off\n");
    std::istream in(&script);
    CountedOutput counted;
    std::FILE *err = std::tmpfile();
    int status = -1;
    std::thread runner([&] { status = runScript(in, counted.file(), err); });
    // Well over a box of lines after "COM OPEN Completed.", all while the
    // runner waits for its next statement.
    const bool flooded = counted.reach(2 * kMessageBoxMaxChars, std::chrono::seconds(120));
    script.release();
    runner.join();
    ASSERT_TRUE(flooded) << "the repeat mode did not run";
    EXPECT_EQ(status, kScriptTimedOut) << "a line more than a box ago was still kept";
    std::rewind(err);
    char buf[512] = {};
    (void)std::fread(buf, 1, sizeof buf - 1, err);
    std::fclose(err);
    EXPECT_NE(std::string(buf).find("line 6: wait message \"COM OPEN Completed.\": timed out"), std::string::npos)
        << buf;
}

}  // namespace
