// The Device Information window: its arrangement and what each kind of
// response shows in it.
#include <gtest/gtest.h>

#include <QLabel>

#include "console/pty_pair.h"
#include "qt/qt_support.h"
#include "valdor/console/qt/dialog_units.h"
#include "valdor/console/qt/log_dlg.h"

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
    static void put(std::vector<uint8_t> &text, size_t at, std::string_view chars) {
        for (size_t i = 0; i < chars.size(); ++i) text[at + i] = static_cast<uint8_t>(chars[i]);
    }

    testsupport::PtyPair pty;
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

TEST_F(DeviceWindow, StatusAndResetResponsesDoNotShowIt) {
    show(response(0x01, false, 40));
    show(response(0x02, true, 120));
    EXPECT_FALSE(dev->isVisible());
}

TEST_F(DeviceWindow, BasicLogReadFillsFourColumnsAndKeepsFiveAndSix) {
    w().setText(grid(5, 1), "55");
    w().setText(grid(6, 13), "66");
    auto text = response(0x12, false, 80 + 4 * 32);
    put(text, 40, "LOG MESSAGE TEXT");
    const uint8_t pick65536[] = {0x00, 0x01, 0x00, 0x00};
    std::copy(std::begin(pick65536), std::end(pick65536), text.begin() + 80);
    text[80 + 4] = 0x01;  // row 2 of cassette 1: 01 00
    text[80 + 5] = 0x00;
    text[80 + 32 * 3 + 27] = 0x07;  // row 13 of cassette 4: 00 07
    show(text);
    EXPECT_TRUE(dev->isVisible());
    EXPECT_EQ(field(1390), "Total Log Counter");
    EXPECT_EQ(field(1578), "LOG MESSAGE TEXT");
    EXPECT_EQ(field(grid(1, 1)), "65536");
    EXPECT_EQ(field(grid(1, 2)), "256");
    EXPECT_EQ(field(grid(4, 13)), "7");
    EXPECT_EQ(field(grid(3, 5)), "0");
    EXPECT_EQ(field(grid(5, 1)), "55");
    EXPECT_EQ(field(grid(6, 13)), "66");
}

TEST_F(DeviceWindow, BillCountAfterLogReadEmptiesTitleAndFirstRowButKeepsTheMessage) {
    auto log = response(0x12, true, 80 + 51 + 6 * 32);
    put(log, 40 + 51, "KEEP ME");
    for (int c = 0; c < 6; ++c) log[80 + 51 + 32 * c + 3] = static_cast<uint8_t>(c + 1);
    show(log);
    ASSERT_EQ(field(grid(6, 1)), "6");

    auto count = response(0x03, false, 120);
    count[55] = 9;    // cassette 1, row 2
    count[114] = 42;  // cassette 4, row 13
    show(count);
    EXPECT_EQ(field(1390), "");
    for (int c = 1; c <= 6; ++c) EXPECT_EQ(field(grid(c, 1)), "") << "cassette " << c;
    EXPECT_EQ(field(1578), "KEEP ME");
    EXPECT_EQ(field(grid(1, 2)), "9");
    EXPECT_EQ(field(grid(4, 13)), "42");
}

TEST_F(DeviceWindow, BasicBillDiagnosisShowsZerosForCassettesFiveAndSix) {
    auto text = response(0x0F, false, 56);
    text[40] = 0x1A;  // cassette 1 denomination
    text[41] = 150;   // length
    text[42] = 123;   // thickness
    text[43] = 0xFF;  // reservation
    text[46] = 5;     // cassette 2 thickness
    show(text);
    EXPECT_EQ(field(1579), "1a");
    EXPECT_EQ(field(1585), "150");
    EXPECT_EQ(field(1591), "0.123");
    EXPECT_EQ(field(1597), "ff");
    EXPECT_EQ(field(1592), "0.05");
    for (int c : {5, 6}) {
        EXPECT_EQ(field(1578 + c), "0");
        EXPECT_EQ(field(1584 + c), "0");
        EXPECT_EQ(field(1590 + c), "0.0");
        EXPECT_EQ(field(1596 + c), "0");
    }
}

TEST_F(DeviceWindow, DeviceInformationChoicesAndTexts) {
    auto text = response(0x0E, false, 40 + 92);
    const size_t b = 40;
    text[b] = 0;  // user setting data starts with a zero byte: empty
    put(text, b + 1, "HIDDEN");
    put(text, b + 40, "CODE0001");
    put(text, b + 56, "200");
    text[b + 59] = '3';  // machine type outside the list
    text[b + 60] = '2';  // front option: capture box
    text[b + 61] = '1';  // rear option: shutter
    text[b + 62] = '0';
    text[b + 63] = '1';
    put(text, b + 66, "V12");
    text[b + 69] = '2';  // reject option outside the list
    put(text, b + 72, "FOURTH FIELD");
    show(text);
    EXPECT_TRUE(dev->isVisible());
    EXPECT_EQ(field(1603), "");
    EXPECT_EQ(field(1604), "CODE0001");
    EXPECT_EQ(field(1607), "200");
    EXPECT_EQ(field(1608), "3");
    EXPECT_EQ(field(1609), "Capture Box");
    EXPECT_EQ(field(1610), "Shutter");
    EXPECT_EQ(field(1611), "Not available");
    EXPECT_EQ(field(1612), "Available");
    EXPECT_EQ(field(1615), "V12");
    EXPECT_EQ(field(1616), "2");
    EXPECT_EQ(field(1614), "FOURTH FIELD");
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
