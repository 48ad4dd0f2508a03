// Lines from another thread are queued and applied by the window thread in
// batches; the box must show exactly what one synchronous append per line
// would have shown, whatever the window thread does next.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QTextDocument>
#include <functional>
#include <thread>

#include "qt/qt_support.h"
#include "support/message_lines.h"
#include "valdor/panel/message_limit.h"

using namespace valdor;
using namespace qtsupport;
using testsupport::boxText;
using testsupport::messageLines;

namespace {

// Appends `lines` from a thread of its own and waits for it to finish, so
// that they are issued before whatever the caller does next.
void appendFromWorker(qt::CRsDlg &w, const std::vector<std::string> &lines) {
    std::thread worker([&] {
        for (const auto &line : lines) w.appendMessage(line);
    });
    worker.join();
}

struct Case {
    const char *name;
    bool showing;                                  // 1241 while the worker's lines are issued
    std::function<void(qt::CRsDlg &)> windowStep;  // what the window thread does next
    std::string expected;                          // the box afterwards
};

class QueuedLines : public ::testing::TestWithParam<Case> {};

TEST_P(QueuedLines, TheBoxShowsWhatSynchronousAppendsWould) {
    const Case &c = GetParam();
    Shown s;
    qt::CRsDlg &w = *s.window;
    w.setChecked(ctl::ShowMessages, c.showing);
    w.clearMessages();
    appendFromWorker(w, {"w1", "w2", "w3"});
    c.windowStep(w);
    EXPECT_EQ(w.text(ctl::MessageBox), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    WindowSteps, QueuedLines,
    ::testing::Values(
        Case{"OwnLineComesAfter", true, [](qt::CRsDlg &w) { w.appendMessage("mine"); },
             "w1\r\nw2\r\nw3\r\nmine\r\n"},
        Case{"ClearRemovesThem", true, [](qt::CRsDlg &w) { w.clearMessages(); }, ""},
        Case{"ClearButtonRemovesThem", true,
             [](qt::CRsDlg &w) {
                 w.setEnabled(ctl::Clear, true);
                 click(w, ctl::Clear);
             },
             ""},
        Case{"UntickingKeepsLinesIssuedBefore", true,
             [](qt::CRsDlg &w) {
                 w.setChecked(ctl::ShowMessages, false);
                 w.appendMessage("hidden");
             },
             "w1\r\nw2\r\nw3\r\n"},
        Case{"TickingShowsNoLineIssuedBefore", false,
             [](qt::CRsDlg &w) {
                 w.setChecked(ctl::ShowMessages, true);
                 w.appendMessage("shown");
             },
             "shown\r\n"},
        Case{"OperatorUntickingKeepsLinesIssuedBefore", true,
             [](qt::CRsDlg &w) {
                 click(w, ctl::ShowMessages);
                 w.appendMessage("hidden");
             },
             "w1\r\nw2\r\nw3\r\n"},
        Case{"OperatorTickingShowsNoLineIssuedBefore", false,
             [](qt::CRsDlg &w) {
                 click(w, ctl::ShowMessages);
                 w.appendMessage("shown");
             },
             "shown\r\n"},
        Case{"TimerShowsThemUnasked", true,
             [](qt::CRsDlg &w) {
                 auto *box = static_cast<QPlainTextEdit *>(w.control(ctl::MessageBox));
                 ASSERT_TRUE(waitFor([&] { return box->toPlainText() == "w1\nw2\nw3"; }));
             },
             "w1\r\nw2\r\nw3\r\n"}),
    [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

TEST(QueuedLinesOrder, WindowAndWorkerLinesKeepTheOrderIssued) {
    Shown s;
    qt::CRsDlg &w = *s.window;
    w.setChecked(ctl::ShowMessages, true);
    w.clearMessages();
    std::string expected;
    for (int round = 0; round < 5; ++round) {
        const std::string a = "worker " + std::to_string(round), b = "window " + std::to_string(round);
        appendFromWorker(w, {a});
        w.appendMessage(b);
        expected += a + "\r\n" + b + "\r\n";
    }
    EXPECT_EQ(w.text(ctl::MessageBox), expected);
}

// A batch larger than the box drops the same oldest lines, its own among
// them, as line-by-line appends do.
TEST(QueuedLinesOrder, ABatchOverTheBoundKeepsTheNewestLines) {
    Shown s;
    qt::CRsDlg &w = *s.window;
    w.setChecked(ctl::ShowMessages, true);
    w.clearMessages();
    const auto before = messageLines(200, 15, 400);
    for (const auto &line : before) w.appendMessage(line);
    auto lines = messageLines(3 * kMessageBoxMaxChars / 2 / 1700);
    appendFromWorker(w, lines);
    size_t firstKept = 0, chars = 0;
    for (const auto &line : lines) {
        chars += line.size() + 2;
        while (chars > kMessageBoxMaxChars) chars -= lines[firstKept++].size() + 2;
    }
    ASSERT_GT(firstKept, 0u);
    EXPECT_EQ(w.text(ctl::MessageBox), boxText(lines, firstKept));
    auto *box = static_cast<QPlainTextEdit *>(w.control(ctl::MessageBox));
    EXPECT_EQ(static_cast<size_t>(box->document()->blockCount()), lines.size() - firstKept);
}

}  // namespace
