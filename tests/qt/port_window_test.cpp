// The COM list says which device the picked item opens and what it is,
// worked out when the tool tip is asked for; the items stay "COM1".."COM8".
#include <gtest/gtest.h>

#include <QHelpEvent>

#include "support/pty_peer.h"
#include "qt/qt_support.h"

using namespace valdor;
using namespace qtsupport;

namespace {

QString askToolTip(QWidget *combo) {
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), combo->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(combo, &help);
    return combo->toolTip();
}

TEST(ComListToolTip, NamesTheDeviceOfThePickedItem) {
    testsupport::PtyPeer first, second;
    first.mapCom(2);
    Shown s;
    auto &w = *s.window;
    QWidget *combo = w.control(ctl::ComPort);
    EXPECT_EQ(askToolTip(combo), QString()) << "nothing picked, nothing to say";

    w.setSelection(ctl::ComPort, 1);
    EXPECT_EQ(askToolTip(combo).toStdString(),
              "COM2 opens " + first.path() + " (RSLINK_COM2): pseudo-terminal");
    // Mapped elsewhere while the window is open: the next tool tip follows.
    second.mapCom(2);
    EXPECT_EQ(askToolTip(combo).toStdString(),
              "COM2 opens " + second.path() + " (RSLINK_COM2): pseudo-terminal");
    ::unsetenv("RSLINK_COM2");

    auto *list = static_cast<QComboBox *>(combo);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(list->itemText(i).toStdString(), "COM" + std::to_string(i + 1));
}

}  // namespace
