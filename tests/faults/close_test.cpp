// "COM Close" and "Exit" while a send waits for a unit that never answers:
// the wait is cut short, and the send's own lines come before the lines the
// close appends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "line_rig.h"
#include "support/files.h"
#include "support/shell.h"
#include "support/wait.h"
#include "valdor/panel/controls.h"

namespace {

using namespace std::chrono_literals;
using faults::LineRig;
namespace ctl = valdor::ctl;

struct Closing {
    const char *name;
    bool exit;                 // "Exit" rather than "COM Close"
    const char *closingLine;  // the last line the press appends
};

const Closing kClosings[] = {
    {"ComClose", false, "Please COM OPEN."},
    {"Exit", true, "*** Test END ***"},
};

void PrintTo(const Closing &c, std::ostream *out) { *out << c.name; }

class CloseOnSilentUnit : public ::testing::TestWithParam<Closing> {};

TEST_P(CloseOnSilentUnit, SendFailsFirstAndTheCloseDoesNotWaitOutTheBids) {
    const Closing &c = GetParam();
    testsupport::TempDir dir;
    const std::string log = dir.file("line.log");
    LineRig rig({"--silent", "--log", log});
    const size_t from = rig.mark();
    ASSERT_TRUE(rig.press(ctl::StatusRead));
    // The bid is out, its grant awaited: the unit has logged it.
    ASSERT_TRUE(testsupport::waitUntil([&] {
        return testsupport::slurp(log).find(" host>unit 10 05\n") != std::string::npos;
    }));

    const auto start = faults::Clock::now();
    if (c.exit)
        rig.console().exit();
    else
        rig.press(ctl::ComClose);
    // Three unanswered bids would take 13.5 s; the bound only has to tell
    // the two apart on a loaded machine.
    EXPECT_LT(faults::Clock::now() - start, 5s);

    ASSERT_TRUE(rig.waitForQuiet(500ms, 10s));
    EXPECT_EQ(rig.shapesSince(from),
              (std::vector<std::string>{"SEND 01", "Send Abnormal End", c.closingLine}));
    EXPECT_TRUE(rig.requests().empty());
}

INSTANTIATE_TEST_SUITE_P(Faults, CloseOnSilentUnit, ::testing::ValuesIn(kClosings),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
