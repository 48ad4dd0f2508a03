// The message box's menu entry for the line capture: picked, it asks for a
// file and captures the line there; picked again, it stops.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <iterator>

#include "qt/qt_support.h"
#include "rslink/core/capture_format.h"
#include "support/bdusim_process.h"
#include "valdor/console/capture_control.h"

using namespace valdor;
using namespace qtsupport;

namespace {

// Opens the box's context menu and picks the entry whose text starts with
// `entry`; when a file dialog follows, answers it with `file`.  Returns the
// texts of the menu's entries.
std::vector<QString> pick(valdor::qt::CRsDlg &window, const QString &entry, const QString &file = {}) {
    auto *box = qobject_cast<QPlainTextEdit *>(window.control(ctl::MessageBox));
    EXPECT_NE(box, nullptr);
    std::vector<QString> texts;
    bool picked = false;
    QTimer menuWatch;
    QObject::connect(&menuWatch, &QTimer::timeout, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu || picked) return;
        for (QAction *a : menu->actions()) {
            texts.push_back(a->text());
            if (a->text().startsWith(entry)) {
                picked = true;
                menu->setActiveAction(a);
                QTest::keyClick(menu, Qt::Key_Return);
                return;
            }
        }
        picked = true;
        menu->close();
    });
    QTimer dialogWatch;
    bool answered = false;
    QObject::connect(&dialogWatch, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (answered || !dialog || !dialog->isVisible()) return;
        // Typed into the name field, as the operator does; the dialog's
        // own selection may still be settling.
        auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
        if (!name) return;
        answered = true;
        name->setText(file);
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    });
    menuWatch.start(20);
    dialogWatch.start(20);
    emit box->customContextMenuRequested(QPoint(5, 5));
    return texts;
}

TEST(CaptureMenu, PickingTheEntryCapturesTheLineAndPickingItAgainStops) {
    testsupport::Bdusim sim;
    sim.mapCom(1);
    Shown shown;
    auto &w = *shown.window;
    const std::string file = (shown.folder.path() / "menu.rslcap").string();

    const auto first = pick(w, "Capture Line to File", QString::fromStdString(file));
    EXPECT_NE(std::find(first.begin(), first.end(), "Capture Line to File..."), first.end());
    ASSERT_EQ(capturePath(), file);

    w.setSelection(ctl::ComPort, 0);
    click(w, ctl::ComOpen);
    click(w, ctl::StatusRead);
    ASSERT_TRUE(waitFor([&] {
        const auto l = lines(w);
        return std::find(l.begin(), l.end(), "Receive Normal End") != l.end();
    }));

    const auto second = pick(w, "Stop Line Capture");
    EXPECT_TRUE(std::any_of(second.begin(), second.end(), [&](const QString &t) {
        return t.startsWith("Stop Line Capture") && t.contains(QString::fromStdString(file));
    }));
    EXPECT_EQ(capturePath(), "");

    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto parsed = rslink::capture::parse(bytes);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    size_t sent = 0;
    for (const auto &r : parsed.records)
        if (r.type == rslink::capture::RecordType::Burst && r.direction == rslink::capture::Direction::HostToUnit)
            ++sent;
    EXPECT_GE(sent, 4u) << "bid, frame and two acknowledgements of one exchange";
    click(w, ctl::ComClose);
}

}  // namespace
