// The window on a laptop screen at 125 % scaling, and nothing clipped.  The
// outer tests start this program again under a virtual X server with the
// screen and the scale of the case (the platform and its screen are fixed
// once a process has its application object); the inner tests, which skip
// unless VALDOR_GEOMETRY_SCREEN is set, check the window there.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QImage>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <utility>

#include "support/shell.h"
#include "support/pty_peer.h"
#include "qt/qt_support.h"
#include "valdor/qt/dialog_units.h"

using namespace valdor;
using namespace qtsupport;
using valdor::qt::CRsDlg;

namespace {

using testsupport::run;

const char *screenUnderTest() { return std::getenv("VALDOR_GEOMETRY_SCREEN"); }


struct ScreenCase {
    const char *name;
    const char *screen;  // Xvfb screen, device pixels
    const char *scale;   // QT_SCALE_FACTOR
    int innerTests;      // how many inner tests must pass there
    bool roomBeside;     // room for the Device Information window clear of the buttons
};

std::ostream &operator<<(std::ostream &out, const ScreenCase &c) {
    return out << c.screen << " at " << c.scale;
}

class AtScreen : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(AtScreen, InnerChecksPass) {
    if (screenUnderTest()) GTEST_SKIP() << "inside a child run";
    std::string ignored;
    if (run("command -v xvfb-run >/dev/null", ignored) != 0)
        GTEST_SKIP() << "xvfb-run is missing: scripts/install-deps.sh installs it";
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = 0;
    const ScreenCase &c = GetParam();
    std::string out;
    // Under a real X server the system's keyboard library duplicates a
    // counted, unterminated string and the session bus keeps a buffer to the
    // end: harmless, but a sanitizer build stops on both before our code
    // runs.  The child therefore measures strings by their count and checks
    // no leaks; the offscreen tests keep the leak checks on the window.
    const int status = run(std::string("xvfb-run -a -s '-screen 0 ") + c.screen + "x24' env QT_QPA_PLATFORM=xcb " +
                               "ASAN_OPTIONS=\"$ASAN_OPTIONS:strict_string_checks=0:detect_leaks=0\" " +
                               "QT_SCALE_FACTOR=" + c.scale + " VALDOR_GEOMETRY_SCREEN=" + c.screen +
                               " VALDOR_GEOMETRY_ROOM=" + (c.roomBeside ? "1" : "0") + " " +
                               self + " --gtest_filter='OnScreen.*' 2>&1",
                           out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("[  PASSED  ] " + std::to_string(c.innerTests) + " test"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Geometry, AtScreen,
                         ::testing::Values(ScreenCase{"Laptop125", "1366x768", "1.25", 4, false},
                                           ScreenCase{"Laptop100", "1366x768", "1", 4, false},
                                           ScreenCase{"Desktop125", "1920x1080", "1.25", 4, true},
                                           ScreenCase{"Desktop100", "1600x1000", "1", 4, true}),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- inside the child run ------------------------------------------------------

class OnScreen : public ::testing::Test {
protected:
    void SetUp() override {
        if (!screenUnderTest()) GTEST_SKIP() << "runs under the outer AtScreen tests only";
    }
    static QRect global(QWidget *w) { return QRect(w->mapToGlobal(QPoint(0, 0)), w->size()); }

    // Scrolls `control` into view; where it then stands in the view, and the view.
    static std::pair<QRect, QRect> scrolledTo(QScrollArea *area, QWidget *control) {
        // The whole control, not only a text cursor inside it.
        const QRect onCanvas(control->mapTo(area->widget(), QPoint(0, 0)), control->size());
        area->ensureVisible(onCanvas.center().x(), onCanvas.center().y(), onCanvas.width() / 2 + 1,
                            onCanvas.height() / 2 + 1);
        QApplication::processEvents();
        return {QRect(control->mapTo(area->viewport(), QPoint(0, 0)), control->size()), area->viewport()->rect()};
    }
};

// The whole window on the screen; on a screen too small for it, a scroll
// area through which every control can be brought into view.
TEST_F(OnScreen, EveryControlCanBeReached) {
    Shown s;
    CRsDlg &w = *s.window;
    const QRect free = w.screen()->availableGeometry();
    EXPECT_TRUE(free.contains(w.frameGeometry())) << "window off the screen";
    valdor::qt::DialogUnits du;
    const QSize full(du.x(567), du.y(431));
    const bool fits = full.width() <= free.width() && full.height() <= free.height();
    EXPECT_EQ(w.scrolls(), !fits);
    if (fits) {
        EXPECT_EQ(w.size(), full) << "the fixed size stays where the screen has room";
        return;
    }
    auto *area = w.findChild<QScrollArea *>();
    ASSERT_NE(area, nullptr);
    for (const auto &[id, control] : w.controls()) {
        const auto [inViewport, view] = scrolledTo(area, control);
        EXPECT_TRUE(view.contains(inViewport))
            << "control " << id << " cannot be reached: " << inViewport.x() << "," << inViewport.y() << " "
            << inViewport.width() << "x" << inViewport.height() << " in a view of " << view.width() << "x"
            << view.height();
    }
}

// Placed beside the console, or over it below its buttons, when the screen
// has room for either; else below the buttons, scrolling.
TEST_F(OnScreen, DeviceInformationWindowLeavesTheButtonsFree) {
    testsupport::PtyPeer pty;
    pty.mapCom(3);
    Shown s;
    CRsDlg &w = *s.window;
    w.setSelection(ctl::ComPort, 2);
    click(w, ctl::ComOpen);
    ASSERT_TRUE(w.console().portOpen());
    w.showDeviceWindow();
    valdor::qt::CLogDlg *device = w.deviceWindow();
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(device));
    QRect buttons;
    // Every button in the "Command" frame, and the right-hand column.
    QGroupBox *command = nullptr;
    for (auto *g : w.findChildren<QGroupBox *>())
        if (g->title() == QLatin1String("Command")) command = g;
    ASSERT_NE(command, nullptr);
    int inFrame = 0;
    for (auto *b : w.findChildren<QPushButton *>())
        if (command->geometry().contains(b->geometry())) buttons |= global(b), ++inFrame;
    EXPECT_EQ(inFrame, 21);
    for (int id : {1001, 1002, 1003, 1004, 1005, 1008}) buttons |= global(w.control(id));
    const QRect free = w.screen()->availableGeometry();
    // The whole window's size, also when it has been made to scroll.
    QSize need = device->frameGeometry().size();
    if (auto *area = device->findChild<QScrollArea *>())
        need = area->widget()->size() + (device->frameGeometry().size() - device->size());
    const bool room = free.height() - (buttons.bottom() + 1 - free.top()) >= need.height() + 8 ||
                      free.width() - w.frameGeometry().width() >= need.width() + 8;
    const char *roomExpected = std::getenv("VALDOR_GEOMETRY_ROOM");
    if (roomExpected && std::string(roomExpected) == "1") {
        ASSERT_TRUE(room) << "this screen was chosen to have room";
    }
    // Where there is no room for the whole window, it scrolls below the
    // buttons, and every field can be brought into view.
    EXPECT_EQ(device->scrolls(), !room);
    EXPECT_FALSE(device->frameGeometry().intersects(buttons))
        << "the Device Information window covers the command buttons";
    EXPECT_TRUE(free.contains(device->frameGeometry()));
    if (auto *area = device->findChild<QScrollArea *>(); area && !room) {
        int fields = 0;
        for (int id = ctl::FirstDeviceControl; id <= ctl::LastDeviceControl; ++id) {
            QWidget *field = device->control(id);
            if (!field) continue;
            ++fields;
            const auto [inViewport, view] = scrolledTo(area, field);
            EXPECT_TRUE(view.contains(inViewport)) << "field " << id << " cannot be reached";
        }
        EXPECT_GT(fields, 100);
    }
    click(w, ctl::ComClose);
    ::unsetenv("RSLINK_COM3");
}

// The right-hand Cst1-6 grid: every check box shows its whole indicator,
// and the "D" column stays inside the "Response" frame.
TEST_F(OnScreen, CstGridIsNotClipped) {
    Shown s;
    CRsDlg &w = *s.window;
    QGroupBox *response = nullptr;
    for (auto *g : w.findChildren<QGroupBox *>())
        if (g->title() == QLatin1String("Response")) response = g;
    ASSERT_NE(response, nullptr);
    for (int id = 1315; id <= 1344; ++id) {
        QWidget *box = w.control(id);
        const int indicator = box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box);
        EXPECT_GE(box->width(), indicator) << id;
        EXPECT_LT(box->geometry().right(), response->geometry().right()) << id << " meets the frame";
    }
}

// No control inside the "COM Port" group starts on its frame line: the line
// is found in the pixels the style drew, beside the controls.
TEST_F(OnScreen, ComOpenClearsItsGroupsFrameLine) {
    Shown s;
    CRsDlg &w = *s.window;
    QGroupBox *group = nullptr;
    for (auto *g : w.findChildren<QGroupBox *>())
        if (g->title() == QLatin1String("COM Port")) group = g;
    ASSERT_NE(group, nullptr);
    const QImage image = group->grab().toImage();
    const qreal ratio = image.devicePixelRatio();
    const QColor background = group->palette().color(QPalette::Window);
    const int column = static_cast<int>((group->width() - 3) * ratio);
    int line = -1;
    for (int y = 0; y < image.height() && line < 0; ++y)
        if (std::abs(image.pixelColor(column, y).lightness() - background.lightness()) > 12)
            line = static_cast<int>(y / ratio);
    ASSERT_GE(line, 0) << "no frame line found";
    const QWidget *button = w.control(ctl::ComOpen);
    EXPECT_GT(button->y() - group->y(), line) << "COM Open starts on or above the frame line at " << line;
}

}  // namespace
