// The console window itself: what it shows at start-up, its arrangement,
// colours and keyboard, the editable field and the message box.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOption>
#include <atomic>
#include <set>
#include <thread>

#include <QTimer>

#include "qt/qt_support.h"
#include "support/net_peer.h"
#include "support/scoped_env.h"
#include "support/wait.h"
#include "valdor/panel/buttons.h"
#include "valdor/panel/param_tables.h"
#include "valdor/qt/dialog_units.h"

using namespace valdor;
using namespace qtsupport;
using valdor::qt::CRsDlg;

namespace {

using Lines = std::vector<std::string>;

// The width a caption needs inside its control, by the style's own metrics.
int neededWidth(QWidget *widget, const QString &text) {
    QFontMetrics metrics(widget->font());
    int textWidth = 0;
    for (const QString &line : text.split(QLatin1Char('\n'))) textWidth = std::max(textWidth, metrics.horizontalAdvance(line));
    QStyle *style = widget->style();
    if (qobject_cast<QCheckBox *>(widget))
        return textWidth + style->pixelMetric(QStyle::PM_IndicatorWidth) +
               style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    if (qobject_cast<QRadioButton *>(widget))
        return textWidth + style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth) +
               style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing);
    if (qobject_cast<QPushButton *>(widget)) return textWidth + 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth);
    return textWidth;
}

void expectNothingClipped(QWidget *window) {
    const QRect area = window->rect();
    for (QWidget *widget : window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        QString text;
        if (auto *button = qobject_cast<QAbstractButton *>(widget)) text = button->text();
        else if (auto *label = qobject_cast<QLabel *>(widget)) text = label->text();
        else if (auto *group = qobject_cast<QGroupBox *>(widget)) text = group->title();
        EXPECT_TRUE(area.contains(widget->geometry()))
            << text.toStdString() << " lies outside the window";
        if (text.isEmpty()) continue;
        EXPECT_LE(neededWidth(widget, text), widget->width()) << "\"" << text.toStdString() << "\" is clipped";
        EXPECT_LE(QFontMetrics(widget->font()).height() * (text.count(QLatin1Char('\n')) + 1),
                  widget->height() + 2)
            << "\"" << text.toStdString() << "\" is cut at the bottom";
    }
}

TEST(Window, TitleSizeAndStartUpMessage) {
    Shown s;
    CRsDlg &w = *s.window;
    EXPECT_EQ(w.windowTitle().toStdString(), "Q9R-BDU <RS232C Interface> Test Program (V5.02)");
    valdor::qt::DialogUnits du;
    EXPECT_EQ(w.size(), QSize(du.x(567), du.y(431)));
    EXPECT_EQ(w.minimumSize(), w.maximumSize()) << "the window has a fixed size";
    EXPECT_FALSE(w.windowIcon().isNull());
    EXPECT_EQ(lines(w), Lines{"Please COM OPEN."});
    EXPECT_EQ(w.text(ctl::MessageBox), "Please COM OPEN.\r\n");
}

// The check marks and the buttons' enabling are the console's (tests/console);
// the window adds its lists, live parameter controls and dead indicators.
TEST(Window, StartUpListsAndLiveControls) {
    Shown s;
    CRsDlg &w = *s.window;
    for (int id = 1026; id <= 1031; ++id)
        EXPECT_TRUE(static_cast<QPushButton *>(w.control(id))->text().isEmpty()) << id;
    // Every parameter control is enabled.
    for (int id : allCombos()) EXPECT_TRUE(w.control(id)->isEnabled()) << id;
    for (int id = 1160; id <= 1171; ++id) EXPECT_TRUE(w.control(id)->isEnabled()) << id;
    for (int id = 1240; id <= 1282; ++id) EXPECT_TRUE(w.control(id)->isEnabled()) << id;
    EXPECT_TRUE(w.control(ctl::MessageText)->isEnabled());
    // Indicators are disabled, and so is the download's file name.
    for (int id = 1283; id <= 1360; ++id)
        EXPECT_EQ(w.control(id)->isEnabled(), id == ctl::MeasuredInf) << id;
    EXPECT_FALSE(w.control(ctl::DownloadFileName)->isEnabled());

    // Each list holds its table, in order, with nothing selected.
    for (int id : allCombos()) {
        auto *combo = static_cast<QComboBox *>(w.control(id));
        const ParamTable *table = tableFor(id);
        ASSERT_EQ(combo->count(), static_cast<int>(table->items.size())) << id;
        for (int i = 0; i < combo->count(); ++i)
            EXPECT_EQ(combo->itemText(i).toStdString(), table->items[static_cast<size_t>(i)].text) << id << ":" << i;
        EXPECT_EQ(combo->currentIndex(), -1) << id;
        EXPECT_FALSE(w.selection(id)) << id;
    }
}

TEST(Window, EveryControlHasItsNumberAndKind) {
    Shown s;
    CRsDlg &w = *s.window;
    for (int id = 1001; id <= 1031; ++id) EXPECT_NE(qobject_cast<QPushButton *>(w.control(id)), nullptr) << id;
    for (int id : allCombos()) EXPECT_NE(qobject_cast<QComboBox *>(w.control(id)), nullptr) << id;
    for (int id = 1160; id <= 1171; ++id) EXPECT_NE(qobject_cast<QRadioButton *>(w.control(id)), nullptr) << id;
    for (int id = 1200; id <= 1236; ++id) EXPECT_NE(qobject_cast<QLineEdit *>(w.control(id)), nullptr) << id;
    for (int id = 1240; id <= 1360; ++id) {
        if (id == 1243 || id == 1244) {
            auto *toggle = qobject_cast<QPushButton *>(w.control(id));
            ASSERT_NE(toggle, nullptr) << id;
            EXPECT_TRUE(toggle->isCheckable()) << id;
        } else {
            EXPECT_NE(qobject_cast<QCheckBox *>(w.control(id)), nullptr) << id;
        }
    }
    EXPECT_NE(qobject_cast<QPlainTextEdit *>(w.control(ctl::MessageBox)), nullptr);
    EXPECT_EQ(static_cast<QPushButton *>(w.control(1011))->text().toStdString(), "Bill Count / Transport");
    EXPECT_EQ(static_cast<QCheckBox *>(w.control(1241))->text().toStdString(), "Execution Message Display");
}

// A script presses a button by its caption in the console's table; the
// window shows that same caption on the button of that number.
TEST(Window, EveryPushButtonCarriesTheConsolesCaption) {
    Shown s;
    CRsDlg &w = *s.window;
    for (const auto &button : buttonCaptions()) {
        auto *push = qobject_cast<QPushButton *>(w.control(button.id));
        ASSERT_NE(push, nullptr) << button.id;
        EXPECT_FALSE(push->isCheckable()) << button.id;
        EXPECT_EQ(push->text().toStdString(), buttonCaption(button.id)) << button.id;
    }
    // And no other plain push button: the window has no button the console
    // cannot name.
    std::set<QWidget *> numbered;
    for (const auto &button : buttonCaptions()) numbered.insert(w.control(button.id));
    for (auto *push : w.findChildren<QPushButton *>(Qt::FindDirectChildrenOnly)) {
        if (push->isCheckable()) continue;  // the two shutter toggles
        EXPECT_TRUE(numbered.count(push)) << push->text().toStdString();
    }
}

TEST(Window, RectanglesHoldAndNoCaptionIsClipped) {
    Shown s;
    CRsDlg &w = *s.window;
    expectNothingClipped(&w);
    // A few rectangles, to the pixel of their dialog units.
    valdor::qt::DialogUnits du;
    EXPECT_EQ(w.control(ctl::MessageBox)->geometry(), du.rect(2, 339, 563, 77));
    EXPECT_EQ(w.control(ctl::ProgressBar)->geometry(), du.rect(88, 420, 477, 8));
    EXPECT_EQ(w.control(ctl::DownloadFileName)->geometry(), du.rect(2, 418, 83, 12));
    EXPECT_EQ(w.control(1012)->geometry(), du.rect(6, 10, 72, 12));
    EXPECT_EQ(w.control(1001)->geometry().x(), du.x(521));
    EXPECT_EQ(w.control(1241)->geometry().topLeft(), du.rect(2, 328, 1, 1).topLeft());
    EXPECT_EQ(w.control(1242)->geometry().topLeft(), du.rect(463, 328, 1, 1).topLeft());
}

TEST(Window, ResponseFieldsAreReadOnlyAndColoured) {
    Shown s;
    CRsDlg &w = *s.window;
    struct Band {
        int first, last;
        QColor colour;
    } bands[] = {{1200, 1207, QColor(255, 255, 210)}, {1208, 1219, QColor(210, 255, 255)}, {1220, 1235, QColor(255, 210, 255)}};
    for (const auto &band : bands)
        for (int id = band.first; id <= band.last; ++id) {
            auto *field = static_cast<QLineEdit *>(w.control(id));
            EXPECT_TRUE(field->isReadOnly()) << id;
            EXPECT_EQ(field->palette().color(QPalette::Base), band.colour) << id;
        }
    EXPECT_FALSE(static_cast<QLineEdit *>(w.control(ctl::MessageText))->isReadOnly());
    EXPECT_EQ(static_cast<QLineEdit *>(w.control(1207))->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    EXPECT_EQ(static_cast<QLineEdit *>(w.control(1200))->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
}

TEST(Window, MessageTextTakesAtMost40Characters) {
    Shown s;
    CRsDlg &w = *s.window;
    auto *field = static_cast<QLineEdit *>(w.control(ctl::MessageText));
    const QString forty = QStringLiteral("0123456789ABCDEFGHIJ0123456789abcdefghij");
    QTest::keyClicks(field, forty + QStringLiteral("X"));
    EXPECT_EQ(field->text(), forty);
    w.setText(ctl::MessageText, std::string(50, 'z'));
    EXPECT_EQ(w.text(ctl::MessageText), std::string(40, 'z'));
    // Typing is not committing.
    EXPECT_EQ(w.committedMessageText(), "");
    w.commitMessageText();
    EXPECT_EQ(w.committedMessageText(), std::string(40, 'z'));
}

TEST(Window, EnterAndEscapeDoNothing) {
    Shown s;
    CRsDlg &w = *s.window;
    // LoadData with no settings file would report; a pressed Enter must not press it.
    w.control(ctl::LoadData)->setFocus();
    QTest::keyClick(w.control(ctl::LoadData), Qt::Key_Return);
    QTest::keyClick(w.control(ctl::LoadData), Qt::Key_Enter);
    QTest::keyClick(&w, Qt::Key_Escape);
    QTest::keyClick(w.control(ctl::MessageText), Qt::Key_Escape);
    QTest::keyClick(w.control(ctl::MessageText), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.console().exited());
    EXPECT_EQ(lines(w), Lines{"Please COM OPEN."});
    // The operator's ordinary keys still work: Space presses the focused button.
    QTest::keyClick(w.control(ctl::LoadData), Qt::Key_Space);
    EXPECT_EQ(lines(w).size(), 2u);
}

TEST(Window, DisabledAndBlankButtonsCannotBePressed) {
    Shown s;
    CRsDlg &w = *s.window;
    for (int id : {1012, 1002, 1026, 1031}) click(w, id);
    QCoreApplication::processEvents();
    EXPECT_EQ(lines(w), Lines{"Please COM OPEN."});
}

TEST(Window, ClearEmptiesTheBoxAndTheNextLineStartsAtTheTop) {
    Shown s;
    CRsDlg &w = *s.window;
    w.setEnabled(ctl::Clear, true);
    click(w, ctl::Clear);
    EXPECT_EQ(w.text(ctl::MessageBox), "");
    w.appendMessage("");  // an empty line is a line too
    w.appendMessage("next");
    EXPECT_EQ(w.text(ctl::MessageBox), "\r\nnext\r\n");
}

TEST(Window, LinesAreDroppedWhileMessageDisplayIsClear) {
    Shown s;
    CRsDlg &w = *s.window;
    click(w, ctl::ShowMessages);
    EXPECT_FALSE(w.checked(ctl::ShowMessages));
    w.appendMessage("dropped");
    std::atomic<bool> sent{false};
    std::thread other([&] {
        w.appendMessage("dropped too");
        sent = true;
    });
    EXPECT_TRUE(waitFor([&] { return sent.load(); }));
    other.join();
    click(w, ctl::LoadData);  // "FILE OPEN ERROR ...", dropped as well
    click(w, ctl::ShowMessages);
    w.appendMessage("kept");
    EXPECT_EQ(lines(w), (Lines{"Please COM OPEN.", "kept"}));
}

TEST(Window, AppendsFromBothThreadsStayWholeAndInOrder) {
    Shown s;
    CRsDlg &w = *s.window;
    constexpr int kEach = 200;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < kEach; ++i) w.appendMessage("worker " + std::to_string(i) + std::string(60, '-'));
        done = true;
    });
    for (int i = 0; i < kEach; ++i) {
        w.appendMessage("window " + std::to_string(i));
        if (i % 16 == 0) QCoreApplication::processEvents();
    }
    ASSERT_TRUE(waitFor([&] { return done.load(); }));
    worker.join();
    auto all = lines(w);
    ASSERT_EQ(all.size(), static_cast<size_t>(1 + 2 * kEach));
    int nextWorker = 0, nextWindow = 0;
    for (size_t i = 1; i < all.size(); ++i) {
        if (all[i].rfind("worker ", 0) == 0)
            EXPECT_EQ(all[i], "worker " + std::to_string(nextWorker++) + std::string(60, '-'));
        else
            EXPECT_EQ(all[i], "window " + std::to_string(nextWindow++));
    }
    // The newest line is in view.
    auto *bar = static_cast<QPlainTextEdit *>(w.control(ctl::MessageBox))->verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST(Window, RadioGroupsKeepOneChoiceEach) {
    Shown s;
    CRsDlg &w = *s.window;
    click(w, 1165);
    EXPECT_TRUE(w.checked(1165));
    EXPECT_FALSE(w.checked(1160));
    EXPECT_TRUE(w.checked(1168)) << "the other group is untouched";
    click(w, 1165);
    EXPECT_TRUE(w.checked(1165)) << "clicking the chosen one keeps it";
    w.setChecked(1170, true);
    EXPECT_FALSE(w.checked(1168));
    w.setChecked(1170, false);
    EXPECT_FALSE(w.checked(1170)) << "the program may clear a group";
}

TEST(Window, CloseBoxBehavesAsExit) {
    Shown s;
    CRsDlg &w = *s.window;
    w.close();
    EXPECT_TRUE(w.console().exited());
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(lines(w).back(), "*** Test END ***");
    EXPECT_TRUE(w.console().worker().ended());
}

// Notes that a window was asked to close, before the window's own handler
// sees it.
class CloseSpy : public QObject {
public:
    explicit CloseSpy(QWidget &watched) { watched.installEventFilter(this); }
    std::atomic<bool> seen{false};

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Close) seen = true;
        return false;
    }
};

TEST(Window, CloseWhileASlowCallRunsWaitsForIt) {
    Shown s;
    CRsDlg &w = *s.window;
    CloseSpy close(w);
    std::atomic<bool> stillRunning{false};
    w.runBlocking([&] {
        QMetaObject::invokeMethod(&w, &QWidget::close, Qt::QueuedConnection);
        // The call goes on until the close has reached the window.
        if (testsupport::waitUntil([&] { return close.seen.load(); })) stillRunning = true;
    });
    EXPECT_TRUE(stillRunning) << "the close never reached the window during the call";
    EXPECT_FALSE(w.console().exited()) << "Exit ran inside the slow call";
    EXPECT_TRUE(waitFor([&] { return w.console().exited(); })) << "the close was lost";
    EXPECT_FALSE(w.isVisible());
}

// COM Open of a network port that is slow to answer: the window stays live
// with COM Open and the list locked, and Exit ends the wait.
TEST(Window, ExitCutsAConnectingOpenShort) {
    testsupport::NetPeer silent;
    const testsupport::ScopedEnv com("RSLINK_COM1", silent.url("rfc2217").c_str());
    Shown s;
    CRsDlg &w = *s.window;
    std::atomic<bool> accepted{false};
    std::thread server([&] { accepted = silent.accept(); });
    bool lockedWhileConnecting = false;
    QTimer::singleShot(0, &w, [&] {  // inside the open's wait
        ASSERT_TRUE(waitFor([&] { return accepted.load(); }));
        lockedWhileConnecting = !w.control(ctl::ComOpen)->isEnabled() && !w.control(ctl::ComPort)->isEnabled();
        click(w, ctl::Exit);
    });
    w.setSelection(ctl::ComPort, 0);
    click(w, ctl::ComOpen);
    server.join();
    EXPECT_TRUE(lockedWhileConnecting);
    EXPECT_TRUE(w.console().exited());
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(lines(w).back(), "*** Test END ***");
}

}  // namespace
