// The window's message box keeps the same bound as the in-memory panel: the
// newest whole lines within kMessageBoxMaxChars characters, still scrolled to
// the end, its document holding no more blocks than the lines it shows.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextDocument>

#include "qt/qt_support.h"
#include "support/message_lines.h"
#include "valdor/panel/message_limit.h"

using namespace valdor;
using namespace qtsupport;
using testsupport::boxText;
using testsupport::messageLines;

namespace {

TEST(WindowMessageBox, KeepsTheNewestLinesWithinTheBound) {
    Shown s;
    qt::CRsDlg &w = *s.window;
    w.setEnabled(ctl::Clear, true);
    click(w, ctl::Clear);
    auto lines = messageLines(3 * kMessageBoxMaxChars / 2 / 1700);  // about one and a half boxes
    size_t firstKept = 0, chars = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        w.appendMessage(lines[i]);
        chars += lines[i].size() + 2;
        while (chars > kMessageBoxMaxChars) chars -= lines[firstKept++].size() + 2;
        if (i % 500 == 0) QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    ASSERT_GT(firstKept, 0u) << "nothing was ever dropped";
    const std::string text = w.text(ctl::MessageBox);
    EXPECT_LE(text.size(), kMessageBoxMaxChars);
    EXPECT_GT(text.size(), kMessageBoxMaxChars - 3402) << "the box is not full";
    EXPECT_EQ(text, boxText(lines, firstKept));
    auto *box = static_cast<QPlainTextEdit *>(w.control(ctl::MessageBox));
    EXPECT_EQ(static_cast<size_t>(box->document()->blockCount()), lines.size() - firstKept);
    EXPECT_EQ(box->verticalScrollBar()->value(), box->verticalScrollBar()->maximum());

    // Clear as before: the next line starts at the top of an empty box.
    click(w, ctl::Clear);
    EXPECT_EQ(w.text(ctl::MessageBox), "");
    w.appendMessage("next");
    EXPECT_EQ(w.text(ctl::MessageBox), "next\r\n");
}

TEST(WindowMessageBox, ALineLongerThanTheBoundStillShowsAlone) {
    Shown s;
    qt::CRsDlg &w = *s.window;
    const std::string huge(kMessageBoxMaxChars + 10, 'x');
    w.appendMessage(huge);
    EXPECT_EQ(w.text(ctl::MessageBox), huge + "\r\n");
    w.appendMessage("after");
    EXPECT_EQ(w.text(ctl::MessageBox), "after\r\n");
}

}  // namespace
