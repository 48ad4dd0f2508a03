// The window against the simulated unit: COM Open and COM Close, commands
// whose responses fill the window, the settings file through the window,
// and closing while an automatic mode runs.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <algorithm>
#include <fstream>

#include "qt/qt_support.h"
#include "support/bdusim_process.h"
#include "valdor/panel/param_tables.h"

using namespace valdor;
using namespace qtsupport;
using testsupport::Bdusim;
using valdor::qt::CRsDlg;

namespace {

using Lines = std::vector<std::string>;

bool contains(const Lines &all, const std::string &line) {
    return std::find(all.begin(), all.end(), line) != all.end();
}

class OnTheLine : public ::testing::Test {
protected:
    void SetUp() override { sim.mapCom(1); }
    void TearDown() override { ::unsetenv("RSLINK_COM1"); }

    CRsDlg &w() { return *shown.window; }

    void open() {
        w().setSelection(ctl::ComPort, 0);  // "COM1"
        click(w(), ctl::ComOpen);
        ASSERT_EQ(lines(w()).back(), "COM OPEN Completed.");
    }

    // The enabling table on the real widgets; "Clear" is dead only at start-up.
    void expectEnabling(bool open, bool atStart = false) {
        EXPECT_EQ(w().control(ctl::ComOpen)->isEnabled(), !open);
        EXPECT_EQ(w().control(ctl::ComPort)->isEnabled(), !open);
        EXPECT_EQ(w().control(ctl::ComClose)->isEnabled(), open);
        EXPECT_EQ(w().control(ctl::Clear)->isEnabled(), !atStart);
        for (int id : {1001, 1003}) EXPECT_TRUE(w().control(id)->isEnabled()) << id;
        for (int id : {1004, 1005, 1008, 1009, 1010, 1011}) EXPECT_EQ(w().control(id)->isEnabled(), open) << id;
        for (int id = 1012; id <= 1025; ++id) EXPECT_EQ(w().control(id)->isEnabled(), open) << id;
        for (int id = 1026; id <= 1031; ++id) EXPECT_FALSE(w().control(id)->isEnabled()) << id;
    }

    Bdusim sim{{"--trace-requests"}};
    Shown shown;
};

TEST_F(OnTheLine, OpenSetsTheEnablingAndCloseUndoesIt) {
    expectEnabling(false, true);
    open();
    expectEnabling(true);
    EXPECT_TRUE(w().deviceWindowExists());
    click(w(), ctl::ComClose);
    expectEnabling(false);
    EXPECT_FALSE(w().deviceWindowExists());
    EXPECT_EQ(lines(w()).back(), "Please COM OPEN.");
}

TEST_F(OnTheLine, StatusReadFillsTheResponseFields) {
    open();
    click(w(), ctl::StatusRead);
    ASSERT_TRUE(waitFor([&] { return contains(lines(w()), "Receive Normal End"); })) << w().text(ctl::MessageBox);
    EXPECT_EQ(w().text(1200), "E001");
    EXPECT_EQ(w().text(1201).size(), 4u);
    EXPECT_FALSE(w().text(1207).empty());
    EXPECT_TRUE(contains(lines(w()), "Send Normal End"));
    EXPECT_FALSE(w().deviceWindow()->isVisible()) << "a status response leaves it hidden";
    EXPECT_TRUE(sim.waitForLine([](const std::string &l) { return l.rfind("REQ", 0) == 0; }));
}

TEST_F(OnTheLine, DeviceInformationSendsTheCommittedText) {
    open();
    auto *field = static_cast<QLineEdit *>(w().control(ctl::MessageText));
    QTest::keyClicks(field, QStringLiteral("HELLO UNIT"));
    click(w(), ctl::LogWithMsg);
    EXPECT_EQ(w().committedMessageText(), "HELLO UNIT");
    ASSERT_TRUE(waitFor([&] { return contains(lines(w()), "Receive Normal End"); }));
    // "HELLO UNIT" in hex, as the request carries it.
    EXPECT_TRUE(sim.waitForLine([](const std::string &l) { return l.find("48 45 4C 4C 4F 20 55 4E 49 54") != std::string::npos; }));
    EXPECT_TRUE(waitFor([&] { return w().deviceWindow()->isVisible(); }));
}

TEST_F(OnTheLine, CloseDuringRepeatModeNeitherHangsNorLeavesItRunning) {
    open();
    click(w(), ctl::ContinuousMode);
    click(w(), ctl::StatusRead);
    auto &worker = w().console().worker();
    ASSERT_TRUE(waitFor([&] { return worker.framesHandled() >= 3; })) << w().text(ctl::MessageBox);
    click(w(), ctl::ComClose);
    expectEnabling(false);
    EXPECT_FALSE(w().checked(ctl::ContinuousMode));
    EXPECT_EQ(lines(w()).back(), "Please COM OPEN.");
    EXPECT_FALSE(worker.ended());
    // Nothing goes out any more.
    auto handled = worker.framesHandled();
    EXPECT_FALSE(waitFor([&] { return worker.framesHandled() != handled; }, std::chrono::milliseconds(300)));

    // The console is whole: open again and read.
    open();
    click(w(), ctl::StatusRead);
    EXPECT_TRUE(waitFor([&] { return worker.framesHandled() > handled; }));
}

TEST_F(OnTheLine, ExitDuringTheCountAndTransportSequenceEndsEverything) {
    open();
    click(w(), ctl::SequenceFront);
    click(w(), ctl::BillCountTransport);
    EXPECT_TRUE(w().checked(ctl::ContinuousMode));
    auto &worker = w().console().worker();
    ASSERT_TRUE(waitFor([&] { return worker.framesHandled() >= 3; })) << w().text(ctl::MessageBox);
    click(w(), ctl::Exit);
    EXPECT_TRUE(w().console().exited());
    EXPECT_TRUE(worker.ended());
    EXPECT_FALSE(w().isVisible());
    EXPECT_FALSE(w().deviceWindowExists());
    // The worker may still report the request the closed port refused.
    EXPECT_TRUE(contains(lines(w()), "*** Test END ***"));
}

// The record's cases are tested on the in-memory panel; here, that the
// window's lists take and give positions.
TEST_F(OnTheLine, SettingsThroughTheWindowsLists) {
    open();
    click(w(), ctl::SaveData);
    std::ifstream saved("valdor.dat", std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(saved)), {}), std::string(37, '\xFF'));

    std::string bytes(37, '\x01');
    bytes[0] = static_cast<char>(tableFor(1100)->items.size());  // one past the list
    std::ofstream("valdor.dat", std::ios::binary) << bytes;
    w().setSelection(1100, 5);
    click(w(), ctl::LoadData);
    EXPECT_EQ(static_cast<QComboBox *>(w().control(1100))->currentIndex(), -1);
    EXPECT_EQ(static_cast<QComboBox *>(w().control(1101))->currentText().toStdString(), "diag");
    EXPECT_EQ(static_cast<QComboBox *>(w().control(1135))->currentText().toStdString(), " 1");
    EXPECT_EQ(lines(w()).back(), "COM OPEN Completed.");
}

}  // namespace
