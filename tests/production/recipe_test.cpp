// The recipe parser: steps, teardown, and every wrong line reported before
// any unit starts, worded as a script run words it.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "valdor/headless/script_runner.h"
#include "valdor/production/recipe.h"

using namespace valdor;

namespace {

std::vector<std::string> errorsOf(const std::string &text) { return parseRecipe(text).errors; }

// What `valdor --script` writes on standard error for a one-line script.
std::string scriptError(const std::string &line) {
    std::istringstream in(line + "\n");
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> out(std::tmpfile(), std::fclose);
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> err(std::tmpfile(), std::fclose);
    runScript(in, out.get(), err.get());
    std::rewind(err.get());
    std::string text;
    for (int c; (c = std::fgetc(err.get())) != EOF;) text += static_cast<char>(c);
    return text;
}

}  // namespace

TEST(Recipe, StepsPrepareAndTeardownInRecipeOrder) {
    Recipe r = parseRecipe(
        "# opens the port\r\n"
        "select 1137 \"COM1\"\n"
        "press \"COM Open\"\n"
        "step \"status\"\n"
        "press \"Status Read\"\n"
        "expect 1201 == \"0000\"\n"
        "step \"empty\"\n"
        "step \"device\"\n"
        "serial 1604 1605\n"
        "expect \"COM Close\" on\n"
        "teardown\n"
        "press \"COM Close\"\n"
        "expect 1290 off");
    ASSERT_TRUE(r.ok()) << r.errors[0];
    ASSERT_EQ(r.steps.size(), 4u);
    EXPECT_EQ(r.steps[0].name, kPrepareStep);
    EXPECT_EQ(r.steps[0].statements.size(), 2u);
    EXPECT_EQ(r.steps[0].statements[1].line, 3);
    EXPECT_EQ(r.steps[1].name, "status");
    EXPECT_EQ(r.steps[1].line, 4);
    EXPECT_EQ(r.steps[2].statements.size(), 0u);
    const auto &serial = std::get<SerialFrom>(r.steps[3].statements[0].action);
    EXPECT_EQ(serial.controls, (std::vector<int>{1604, 1605}));
    const auto &button = std::get<Expectation>(r.steps[3].statements[1].action);
    EXPECT_EQ(button.control, 1007);
    EXPECT_EQ(button.kind, ExpectedKind::Button);
    ASSERT_TRUE(r.teardown);
    EXPECT_EQ(r.teardown->name, "teardown");
    EXPECT_EQ(r.teardown->statements.size(), 2u);
    EXPECT_EQ(std::get<Expectation>(r.teardown->statements[1].action).op, ExpectOp::Off);
}

TEST(Recipe, NoPrepareStepWithoutStatementsBeforeTheFirstStep) {
    Recipe r = parseRecipe("# nothing yet\n\nstep \"one\"\nshow enabled\n");
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r.steps.size(), 1u);
    EXPECT_EQ(r.steps[0].name, "one");
    EXPECT_FALSE(r.teardown);
}

TEST(Recipe, ScriptErrorsAreWordedAsTheScriptWordsThem) {
    for (const char *line : {"jump 3", "\"quoted\" verb", "select 9999 0", "select x 1", "check 1283 on",
                             "radio 1200", "type 1000 \"x\"", "press \"No Such\"", "press 1200", "wait",
                             "wait responses x", "wait message", "wait idle 1 2", "show things",
                             "choose somewhere", "capture on", "press \"Status Read"}) {
        auto errors = errorsOf(line);
        ASSERT_EQ(errors.size(), 1u) << line;
        EXPECT_EQ(errors[0] + "\n", scriptError(line)) << line;
    }
}

TEST(Recipe, ArgumentErrorsThatAScriptReportsLateAreFoundUpFront) {
    // A script names the disabled combo box first; the recipe still sees
    // that the position could never be right.
    auto errors = errorsOf("select 1143 6\ncheck 1240 maybe\n");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].rfind("line 1: select 1143: bad position '6'", 0), 0u) << errors[0];
    EXPECT_EQ(errors[1], "line 2: check 1240: say on or off, not maybe");
}

TEST(Recipe, EveryWrongLineIsReportedWithItsNumber) {
    const std::string text =
        "step \"a\"\n"                      // 1
        "expect 1236 == \"x\"\n"            // 2 not shown by show
        "expect 1201 on\n"                  // 3 a field takes no on
        "expect 1290 == \"on\"\n"           // 4 an indicator takes on|off
        "expect \"Nope\" on\n"              // 5
        "expect 1201 in 0x10..20\n"         // 6 mixed range
        "expect 1201 in 5..1\n"             // 7 empty range
        "expect 1201 == 0000\n"             // 8 unquoted text
        "expect 1201 in\n"                  // 9
        "serial 1290\n"                     // 10 an indicator is no serial
        "select 1137 \"COM2\"\n"            // 11
        "select 1137 3\n"                   // 12
        "step \"\"\n"                       // 13
        "step plain\n"                      // 14
        "step \"tab\there\"\n"              // 15
        "teardown\n"                        // 16
        "teardown\n"                        // 17
        "step \"late\"\n"                   // 18
        "teardown now\n";                   // 19
    auto errors = errorsOf(text);
    ASSERT_EQ(errors.size(), 17u);
    for (size_t i = 0; i < errors.size(); ++i) {
        const int line = static_cast<int>(i) + 2 + (i >= 14 ? 1 : 0);  // line 16 is sound
        EXPECT_EQ(errors[i].rfind("line " + std::to_string(line) + ": ", 0), 0u) << errors[i];
    }
    EXPECT_EQ(errors[9], "line 11: select 1137 \"COM2\": a unit's port is COM1; select \"COM1\" or 0");
    EXPECT_EQ(errors[14], "line 17: teardown: once only, and it is on line 16");
}

TEST(Recipe, ThePortMayBeChosenAsItsItemOrItsPosition) {
    EXPECT_TRUE(parseRecipe("select 1137 \"COM1\"\nselect 1137 0\nselect 1137 none\n").ok());
}
