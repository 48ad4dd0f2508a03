// The Device Information window: its arrangement, its life with the port, and
// that it shows what the decoder writes.
#include <gtest/gtest.h>

#include <QLabel>

#include "support/pty_peer.h"
#include "qt/qt_support.h"
#include "valdor/qt/dialog_units.h"
#include "valdor/qt/log_dlg.h"
#include "valdor/panel/memory_panel.h"
#include "valdor/responses/device_info_decoder.h"

using namespace valdor;
using namespace qtsupport;
using valdor::qt::CLogDlg;
using valdor::qt::CRsDlg;

namespace {

int grid(int cassette, int row) { return 1500 + 13 * (cassette - 1) + (row - 1); }

class DeviceWindow : public ::testing::Test {
protected:
    void SetUp() override {
        pty.mapCom(2);
        w().setSelection(ctl::ComPort, 1);
        click(w(), ctl::ComOpen);
        ASSERT_TRUE(w().console().portOpen()) << w().text(ctl::MessageBox);
        dev = w().deviceWindow();
        ASSERT_NE(dev, nullptr);
    }
    void TearDown() override { ::unsetenv("RSLINK_COM2"); }

    CRsDlg &w() { return *shown.window; }
    std::string field(int id) { return w().text(id); }
    void show(const std::vector<uint8_t> &text) { dev->ShowResponse(text); }

    // A response of `size` bytes: DH0 E0, DH1 `command`, byte 2 the layout.
    static std::vector<uint8_t> response(uint8_t command, bool enhanced, size_t size) {
        std::vector<uint8_t> text(size, 0);
        text[0] = 0xE0;
        text[1] = command;
        text[2] = enhanced ? 0xFF : 0x00;
        return text;
    }

    testsupport::PtyPeer pty;
    Shown shown;
    CLogDlg *dev = nullptr;
};

TEST_F(DeviceWindow, CreatedHiddenByOpenAndDestroyedByClose) {
    EXPECT_FALSE(dev->isVisible());
    EXPECT_EQ(dev->windowTitle().toStdString(), "Device Information");
    EXPECT_TRUE(dev->isWindow());
    EXPECT_FALSE(dev->windowFlags() & Qt::WindowCloseButtonHint) << "no close box";
    valdor::qt::DialogUnits du;
    EXPECT_EQ(dev->size(), QSize(du.x(390), du.y(349)));
    EXPECT_EQ(field(1384), "1st Cassette");
    EXPECT_EQ(field(1382), "Jam errors");
    EXPECT_EQ(field(1399), "Device setting");
    for (int id : {1390, 1578, 1603, 1616, grid(6, 13)}) EXPECT_EQ(field(id), "") << id;

    dev->close();  // the window ends only with the port
    EXPECT_TRUE(w().deviceWindowExists());

    QPointer<CLogDlg> watch(dev);
    click(w(), ctl::ComClose);
    EXPECT_TRUE(watch.isNull());
    EXPECT_FALSE(w().deviceWindowExists());
    w().setText(1390, "written to no window");  // dropped, not a crash
    EXPECT_EQ(field(1390), "");

    click(w(), ctl::ComOpen);
    ASSERT_TRUE(w().deviceWindowExists());
    EXPECT_EQ(field(grid(1, 1)), "") << "a new window starts empty";
}

TEST_F(DeviceWindow, EnterAndEscapeDoNotCloseIt) {
    show(response(0x0F, false, 64));
    ASSERT_TRUE(dev->isVisible());
    QTest::keyClick(dev, Qt::Key_Escape);
    QTest::keyClick(dev, Qt::Key_Return);
    EXPECT_TRUE(dev->isVisible());
}

// What each kind of response shows is the decoder's business (tests/responses);
// here, that the window's fields show exactly what it writes, response after
// response, and that the window comes up for them.
TEST_F(DeviceWindow, ShowsWhatTheDecoderWrites) {
    MemoryPanel decoded;
    decoded.createDeviceWindow();
    for (auto [command, enhanced] : {std::pair{0x12, false}, {0x12, true}, {0x09, true}, {0x0F, false}, {0x0E, true}}) {
        SCOPED_TRACE(command);
        auto text = response(static_cast<uint8_t>(command), enhanced, 400);
        for (size_t i = 3; i < text.size(); ++i) text[i] = static_cast<uint8_t>('0' + (i * 7 + command) % 75);
        showDeviceResponse(decoded, text);
        show(text);
        EXPECT_TRUE(dev->isVisible());
        for (int id : {1390, 1578}) EXPECT_EQ(field(id), decoded.text(id)) << id;
        for (int id = 1500; id <= 1577; ++id) EXPECT_EQ(field(id), decoded.text(id)) << id;
        for (int id = 1579; id <= 1616; ++id) EXPECT_EQ(field(id), decoded.text(id)) << id;
    }
}

TEST_F(DeviceWindow, NothingIsClipped) {
    show(response(0x0E, false, 132));
    for (QWidget *widget : dev->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        auto *label = qobject_cast<QLabel *>(widget);
        if (!label || label->text().isEmpty()) continue;
        EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->contentsRect().width())
            << label->text().toStdString();
        EXPECT_TRUE(dev->rect().contains(label->geometry())) << label->text().toStdString();
    }
}

}  // namespace
