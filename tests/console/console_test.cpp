// The console's logic on the in-memory panel: start-up, the enabling of each
// port state, COM Open and COM Close, Exit, and what each button does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support/fake_host.h"
#include "support/pty_peer.h"
#include "rslink/rslink.h"
#include "valdor/console/console.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/memory_panel.h"

using namespace valdor;
using testsupport::FakeHost;
using testsupport::PtyPeer;

namespace {

using Lines = std::vector<std::string>;

constexpr int kComOpenPortPosition = 2;  // "COM3"
constexpr const char kRefused[] = "Message send to SendThread error";

// The buttons of the enabling table, with their expected state in each
// column: at start-up, after a successful open, after COM Close.
struct Expected {
    int id;
    bool atStart, opened, closed;
};

std::vector<Expected> enablingTable() {
    std::vector<Expected> rows = {
        {1006, true, false, true}, {1137, true, false, true}, {1007, false, true, false},
        {1001, true, true, true},  {1003, true, true, true},  {1002, false, true, true},
        {1004, false, true, false}, {1005, false, true, false}, {1008, false, true, false},
        {1009, false, true, false}, {1010, false, true, false}, {1011, false, true, false},
    };
    for (int id = 1012; id <= 1025; ++id) rows.push_back({id, false, true, false});
    for (int id = 1026; id <= 1031; ++id) rows.push_back({id, false, false, false});
    return rows;
}

class ConsoleLogic : public ::testing::Test {
protected:
    void SetUp() override { console = std::make_unique<Console>(panel, host); }
    void TearDown() override {
        console.reset();
        RSClose();
        ::unsetenv("RSLINK_COM3");
    }

    void checkEnabling(bool Expected::*column, const char *state) {
        for (const auto &row : enablingTable())
            EXPECT_EQ(panel.enabled(row.id), row.*column) << "control " << row.id << " " << state;
    }

    bool portIsOpen() const { return RSBuffersLent() != -2; }

    void openOnPty() {
        pty.mapCom(3);
        panel.setSelection(ctl::ComPort, kComOpenPortPosition);
        console->press(ctl::ComOpen);
        ASSERT_TRUE(console->portOpen()) << "messages: " << panel.text(ctl::MessageBox);
    }

    MemoryPanel panel;
    FakeHost host;
    PtyPeer pty;
    std::unique_ptr<Console> console;
};

TEST_F(ConsoleLogic, StartUpStateAndMessage) {
    panel.setChecked(ctl::Enhanced, true);  // whatever the panel held before
    panel.setChecked(ctl::SensorRearEjs + 2, true);
    panel.setChecked(ctl::TransportFirst + 3, true);
    panel.appendMessage("stale");  // dropped: 1241 is not ticked yet
    panel.setChecked(ctl::ShowMessages, true);
    panel.appendMessage("stale");
    console->initialise();

    checkEnabling(&Expected::atStart, "at start-up");
    EXPECT_TRUE(panel.checked(ctl::ShowMessages));
    for (int id : {1240, 1242, 1243, 1244, 1281, 1282, 1351}) EXPECT_FALSE(panel.checked(id)) << id;
    for (int id = 1245; id <= 1280; ++id) EXPECT_FALSE(panel.checked(id)) << id;
    EXPECT_TRUE(panel.checked(ctl::TransportFirst));
    for (int id = 1161; id <= 1167; ++id) EXPECT_FALSE(panel.checked(id)) << id;
    EXPECT_TRUE(panel.checked(ctl::RetrievalFirst));
    for (int id = 1169; id <= 1171; ++id) EXPECT_FALSE(panel.checked(id)) << id;
    EXPECT_EQ(panel.text(ctl::DownloadFileName), "");
    EXPECT_FALSE(panel.enabled(ctl::DownloadFileName));
    EXPECT_EQ(panel.text(ctl::MessageText), "");
    for (int combo = 1100; combo <= 1143; ++combo) EXPECT_FALSE(panel.selection(combo)) << combo;
    EXPECT_EQ(panel.messages(), Lines{"Please COM OPEN."});
    EXPECT_NE(console->worker().threadId(), 0u);
}

TEST_F(ConsoleLogic, ComOpenWithoutAPortDoesNothing) {
    console->initialise();
    console->press(ctl::ComOpen);
    EXPECT_EQ(panel.messages(), Lines{"Please COM OPEN."});
    EXPECT_FALSE(portIsOpen());
    EXPECT_EQ(host.blockingCalls, 0);
    checkEnabling(&Expected::atStart, "after an open without a port");
}

// A device that cannot be opened (-4), and a driver already open (-1): the
// message, RSClose after it (without freezing the window), no enabling
// changed, so that the next try can succeed.
TEST_F(ConsoleLogic, FailedOpensReportCloseAndKeepTheEnabling) {
    console->initialise();
    PtyPeer other;
    for (bool alreadyOpen : {false, true}) {
        SCOPED_TRACE(alreadyOpen ? "already open" : "no device");
        if (alreadyOpen) {
            other.mapCom(4);
            ASSERT_EQ(RSOpen(console->worker().threadId(), 4, 9600, 8, 2, 0), 0);
            pty.mapCom(3);
        } else {
            ::setenv("RSLINK_COM3", "/nonexistent/tty", 1);
        }
        panel.clearMessages();
        host.blockingCalls = 0;
        panel.setSelection(ctl::ComPort, kComOpenPortPosition);
        console->press(ctl::ComOpen);
        // The fixed line; for a device, the one under it that names the
        // device and why (its text: open_errors_test.cpp).
        ASSERT_EQ(panel.messages().size(), alreadyOpen ? 1u : 2u);
        EXPECT_EQ(panel.messages()[0], alreadyOpen ? "Startup error" : "COM Open error");
        EXPECT_FALSE(console->portOpen());
        EXPECT_FALSE(portIsOpen());
        EXPECT_FALSE(panel.deviceWindowExists());
        EXPECT_GE(host.blockingCalls, 1);
        checkEnabling(&Expected::atStart, "after a failed open");
    }
    ::unsetenv("RSLINK_COM4");
    openOnPty();
    EXPECT_EQ(panel.messages().back(), "COM OPEN Completed.");
}

TEST_F(ConsoleLogic, OpenAndCloseSetTheEnablingAndTheDeviceWindow) {
    console->initialise();
    openOnPty();
    EXPECT_TRUE(portIsOpen());
    checkEnabling(&Expected::opened, "after COM Open");
    EXPECT_TRUE(panel.deviceWindowExists());
    EXPECT_FALSE(panel.deviceWindowVisible());
    EXPECT_EQ(panel.messages(), (Lines{"Please COM OPEN.", "COM OPEN Completed."}));

    int before = host.blockingCalls;
    console->press(ctl::ComClose);
    EXPECT_FALSE(portIsOpen());
    EXPECT_GE(host.blockingCalls - before, 2);  // RSClose, then the worker's reset
    EXPECT_FALSE(panel.deviceWindowExists());
    checkEnabling(&Expected::closed, "after COM Close");
    EXPECT_EQ(panel.messages().back(), "Please COM OPEN.");
    EXPECT_FALSE(console->worker().ended());

    // And again: a second open works and makes a fresh device window.
    openOnPty();
    EXPECT_TRUE(panel.deviceWindowExists());
    checkEnabling(&Expected::opened, "after the second COM Open");
}

TEST_F(ConsoleLogic, ExitClosesEverythingOnce) {
    console->initialise();
    openOnPty();
    console->press(ctl::Exit);
    EXPECT_EQ(panel.messages().back(), "*** Test END ***");
    EXPECT_FALSE(portIsOpen());
    EXPECT_FALSE(panel.deviceWindowExists());
    EXPECT_TRUE(console->worker().ended());
    EXPECT_EQ(host.closes, 1);
    EXPECT_TRUE(console->exited());

    console->exit();
    console->press(ctl::Clear);
    EXPECT_EQ(host.closes, 1);
    EXPECT_EQ(panel.messages().back(), "*** Test END ***");
}

TEST_F(ConsoleLogic, NothingReachesTheBoxWhileMessagesAreOff) {
    console->initialise();
    console->press(ctl::Clear);
    EXPECT_EQ(panel.text(ctl::MessageBox), "");
    panel.setChecked(ctl::ShowMessages, false);
    ::setenv("RSLINK_COM3", "/nonexistent/tty", 1);
    panel.setSelection(ctl::ComPort, kComOpenPortPosition);
    console->press(ctl::ComOpen);  // "COM Open error"
    console->press(ctl::LoadData);  // a missing file, most likely
    openOnPty();
    console->press(ctl::ComClose);  // "Please COM OPEN."
    console->press(ctl::Exit);      // "*** Test END ***"
    EXPECT_EQ(panel.text(ctl::MessageBox), "");
    EXPECT_EQ(host.closes, 1);
    panel.setChecked(ctl::ShowMessages, true);
    panel.appendMessage("two");
    EXPECT_EQ(panel.text(ctl::MessageBox), "two\r\n") << "the line after Clear starts at the top";
}

// Without a started worker every post fails, which makes each post visible.
// "Bill Count / Transport" posts its sequence and command as one, and still
// sets 1242.
TEST_F(ConsoleLogic, EveryCommandButtonPostsOnceAndNothingElse) {
    panel.setChecked(ctl::ShowMessages, true);
    const int buttons[] = {1012, 1013, 1014, 1015, 1016, 1017, 1018, 1019, 1020, 1021, 1008, 1022,
                           1024, 1025, 1009, 1023, 1026, 1027, 1028, 1029, 1030, 1031, ctl::BillCountTransport};
    for (int button : buttons) {
        panel.clearMessages();
        console->press(button);
        EXPECT_EQ(panel.messages(), Lines{kRefused}) << "button " << button;
    }
    EXPECT_TRUE(panel.checked(ctl::ContinuousMode));
    panel.clearMessages();
    for (int button : {1000, 1099, 1137, 1240})  // not buttons: nothing
        console->press(button);
    EXPECT_TRUE(panel.messages().empty());
}

TEST_F(ConsoleLogic, DeviceInformationAndLogWithMsgCommitTheTextFirst) {
    panel.setText(ctl::MessageText, "FIRST TEXT");
    console->press(ctl::StatusRead);
    EXPECT_EQ(panel.committedMessageText(), "");
    console->press(ctl::DeviceInformation);
    EXPECT_EQ(panel.committedMessageText(), "FIRST TEXT");

    panel.setText(ctl::MessageText, std::string(45, 'x'));  // the field keeps 40
    console->press(ctl::LogWithMsg);
    EXPECT_EQ(panel.committedMessageText(), std::string(40, 'x'));
}

// The side is the one "<Front>" shows at the press; the worker holds it from
// then on.  The pty peer never answers, so the sequence waits at its first step.
TEST_F(ConsoleLogic, BillCountTransportArmsTheSequenceOnTheChosenSide) {
    console->initialise();
    openOnPty();
    for (bool front : {true, false}) {
        SCOPED_TRACE(front ? "front" : "rear");
        panel.setChecked(ctl::SequenceFront, front);
        console->press(ctl::BillCountTransport);
        panel.setChecked(ctl::SequenceFront, !front);  // later changes do not reach it
        EXPECT_TRUE(panel.checked(ctl::ContinuousMode));
        EXPECT_EQ(console->worker().sequence(), (SequenceView{true, 1, front}));
    }
    console->press(ctl::ComClose);
    EXPECT_EQ(console->worker().sequence(), SequenceView{});
}

}  // namespace
