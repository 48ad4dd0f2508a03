// The message box's bound on the in-memory panel: it keeps the newest whole
// lines that fit in kMessageBoxMaxChars characters, however many come.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/message_lines.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/memory_panel.h"
#include "valdor/panel/message_limit.h"

using namespace valdor;
using testsupport::boxChars;
using testsupport::boxText;
using testsupport::messageLines;

namespace {

constexpr size_t kLongest = 3400;

struct PanelBox : ::testing::Test {
    PanelBox() { panel.setChecked(ctl::ShowMessages, true); }
    MemoryPanel panel;
};

TEST_F(PanelBox, KeepsEverythingUpToTheBoundThenDropsTheOldestWholeLines) {
    auto lines = messageLines(3 * kMessageBoxMaxChars / 1700);  // about three boxes' worth
    ASSERT_GT(boxChars(lines), 2 * kMessageBoxMaxChars);
    size_t firstKept = 0, dropped = 0, chars = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        panel.appendMessage(lines[i]);
        // The expected box: the newest lines whose characters fit.
        chars += lines[i].size() + 2;
        while (chars > kMessageBoxMaxChars) chars -= lines[firstKept++].size() + 2;
        if (firstKept > 0 && dropped == 0) {
            dropped = i;
            // The first drop happens only when the bound is really reached.
            EXPECT_GT(boxChars({lines.begin(), lines.begin() + i + 1}), kMessageBoxMaxChars);
        }
    }
    ASSERT_GT(dropped, 0u) << "nothing was ever dropped";
    const std::string text = panel.text(ctl::MessageBox);
    EXPECT_LE(text.size(), kMessageBoxMaxChars);
    EXPECT_GT(text.size(), kMessageBoxMaxChars - (kLongest + 2)) << "the box is not full";
    EXPECT_EQ(text, boxText(lines, firstKept));
    auto kept = panel.messages();
    ASSERT_EQ(kept.size(), lines.size() - firstKept);
    EXPECT_EQ(kept.front(), lines[firstKept]);
    EXPECT_EQ(kept.back(), lines.back());
}

TEST_F(PanelBox, ClearStartsTheCountAfresh) {
    auto lines = messageLines(kMessageBoxMaxChars / 1000);
    for (const auto &l : lines) panel.appendMessage(l);
    panel.clearMessages();
    EXPECT_EQ(panel.text(ctl::MessageBox), "");
    // After Clear a whole box fits again: the lines before Clear no longer count.
    size_t fit = 0;
    for (size_t chars = 0; fit < lines.size() && chars + lines[fit].size() + 2 <= kMessageBoxMaxChars; ++fit)
        chars += lines[fit].size() + 2;
    for (size_t i = 0; i < fit; ++i) panel.appendMessage(lines[i]);
    EXPECT_EQ(panel.text(ctl::MessageBox), boxText({lines.begin(), lines.begin() + fit}, 0));
}

TEST_F(PanelBox, ALineLongerThanTheBoundStillShowsAlone) {
    panel.appendMessage("first");
    const std::string huge(kMessageBoxMaxChars + 10, 'x');
    panel.appendMessage(huge);
    EXPECT_EQ(panel.messages(), std::vector<std::string>{huge});
    panel.appendMessage("after");
    EXPECT_EQ(panel.messages(), std::vector<std::string>{"after"});
}

TEST_F(PanelBox, LinesDroppedWhileDisplayIsOffTakeNoRoom) {
    panel.appendMessage("kept");
    panel.setChecked(ctl::ShowMessages, false);
    for (const auto &l : messageLines(2 * kMessageBoxMaxChars / 1700)) panel.appendMessage(l);
    panel.setChecked(ctl::ShowMessages, true);
    panel.appendMessage("next");
    EXPECT_EQ(panel.messages(), (std::vector<std::string>{"kept", "next"}));
}

}  // namespace
