#include "valdor/console/console.h"

#include <optional>

#include "rslink/rslink.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/host.h"
#include "valdor/panel/panel.h"
#include "valdor/console/port_detail.h"
#include "valdor/panel/param_tables.h"
#include "valdor/console/settings_file.h"
#include "valdor/engine/commands.h"

namespace valdor {

namespace {

// Buttons whose handler only posts a command.
struct CommandButton {
    int button;
    int command;
};

constexpr CommandButton kCommandButtons[] = {
    {ctl::StatusRead, CMD_STATUS_READ},
    {ctl::MechaReset, CMD_MECHA_RESET},
    {ctl::BillCount, CMD_BILL_COUNT},
    {ctl::BillCountFront, CMD_BILL_COUNT_FRONT},
    {ctl::BillCountRear, CMD_BILL_COUNT_REAR},
    {ctl::BillTransport, CMD_BILL_TRANSPORT},
    {ctl::BillRetrieval, CMD_BILL_RETRIEVAL},
    {ctl::Cancel, CMD_CANCEL},
    {ctl::BillCountReject, CMD_BILL_COUNT_REJECT},
    {ctl::LogReadClear, CMD_LOG_READ_CLEAR},
    {ctl::LogAllClear, CMD_LOG_ALL_CLEAR},
    {ctl::SensorTransition, CMD_SENSOR_TRANSITION},
    {ctl::BillDiagnosis, CMD_BILL_DIAGNOSIS},
    // The caption-less buttons post numbers the worker ignores.
    {ctl::FirstBlankButton + 0, 17}, {ctl::FirstBlankButton + 1, 18}, {ctl::FirstBlankButton + 2, 19},
    {ctl::FirstBlankButton + 3, 20}, {ctl::FirstBlankButton + 4, 21}, {ctl::FirstBlankButton + 5, 22},
};

// Enabling of the buttons and the port list in each state of the port.
enum class PortState { AtStart, Opened, Closed };

struct EnablingRow {
    int first, last;
    bool atStart, opened, closed;
};

constexpr EnablingRow kEnabling[] = {
    {ctl::ComOpen, ctl::ComOpen, true, false, true},
    {ctl::ComPort, ctl::ComPort, true, false, true},
    {ctl::ComClose, ctl::ComClose, false, true, false},
    {ctl::Exit, ctl::Exit, true, true, true},
    {ctl::LoadData, ctl::LoadData, true, true, true},
    {ctl::Clear, ctl::Clear, false, true, true},
    {ctl::SaveData, ctl::DownLoad, false, true, false},
    {ctl::LogAllClear, ctl::BillCountTransport, false, true, false},
    {ctl::StatusRead, ctl::DeviceInformation, false, true, false},
    {ctl::FirstBlankButton, ctl::LastBlankButton, false, false, false},
};

void applyEnabling(Panel &panel, PortState state) {
    for (const auto &row : kEnabling) {
        bool on = state == PortState::AtStart ? row.atStart
                  : state == PortState::Opened ? row.opened
                                               : row.closed;
        for (int id = row.first; id <= row.last; ++id) panel.setEnabled(id, on);
    }
}

// What RSOpen's failures say.  Any other non-zero result says nothing.
struct OpenFailure {
    int result;
    const char *message;
};

constexpr OpenFailure kOpenFailures[] = {
    {RS_ERR_PORT, "COM Open error"},
    {RS_ERR_PARAMETER, "Parameter error"},
    {RS_ERR_SYSTEM, "System error"},
    {RS_ERR_ALREADY_OPEN, "Startup error"},
};

// Check boxes and toggles that start cleared.
constexpr int kClearedAtStart[] = {
    ctl::ContinuousMode, ctl::Enhanced,    ctl::SequenceFront,       ctl::ShutterFront,
    ctl::ShutterRear,    ctl::MeasuredInf,
};
constexpr int kSensorGridLast = ctl::SensorRearEjs + 2;  // 1280

}  // namespace

const Console::HandlerEntry Console::kHandlers[] = {
    {ctl::ComOpen, &Console::comOpen},
    {ctl::ComClose, &Console::comClose},
    {ctl::Exit, &Console::exit},
    {ctl::Clear, &Console::clear},
    {ctl::LoadData, &Console::loadData},
    {ctl::SaveData, &Console::saveData},
    {ctl::DownLoad, &Console::download},
    {ctl::AcquireOpeLog, &Console::acquireOpeLog},
    {ctl::OperationalLog, &Console::operationalLog},
    {ctl::BillCountTransport, &Console::billCountTransport},
    {ctl::DeviceInformation, &Console::deviceInformation},
    {ctl::LogWithMsg, &Console::logWithMsg},
};

Console::Console(Panel &panel, Host &host)
    : panel_(panel),
      host_(host),
      download_(panel, host, workerLink_),
      oplog_(panel, host, workerLink_),
      worker_(panel, &download_, &oplog_) {}

Console::~Console() { worker_.stop(); }

void Console::initialise() {
    applyEnabling(panel_, PortState::AtStart);
    for (int combo : allCombos()) panel_.setSelection(combo, std::nullopt);
    panel_.setChecked(ctl::ShowMessages, true);
    for (int id : kClearedAtStart) panel_.setChecked(id, false);
    for (int id = ctl::SensorGridFirst; id <= kSensorGridLast; ++id) panel_.setChecked(id, false);
    panel_.setChecked(ctl::CountOrderReversing, false);
    panel_.setChecked(ctl::TransportFirst, true);
    panel_.setChecked(ctl::RetrievalFirst, true);
    panel_.setText(ctl::DownloadFileName, "");
    panel_.setEnabled(ctl::DownloadFileName, false);
    panel_.setText(ctl::MessageText, "");

    if (worker_.start().ok()) {
        panel_.clearMessages();
        panel_.appendMessage("Please COM OPEN.");
    } else {
        panel_.appendMessage("SP CREATE THREAD ERROR");
    }
}

void Console::press(int button) {
    if (exited_) return;
    for (const auto &entry : kHandlers) {
        if (entry.button == button) {
            (this->*entry.handler)();
            return;
        }
    }
    for (const auto &entry : kCommandButtons) {
        if (entry.button == button) {
            post(entry.command);
            return;
        }
    }
}

void Console::post(int command) { worker_.postCommand(command); }

void Console::comOpen() {
    auto position = panel_.selection(ctl::ComPort);
    const ParamTable *ports = tableFor(ctl::ComPort);
    if (!position || !ports || *position < 0 || static_cast<size_t>(*position) >= ports->items.size())
        return;
    int port = ports->items[static_cast<size_t>(*position)].value;

    // A network port may take seconds to connect: meanwhile the window
    // stays live, the port cannot be opened twice, and Exit cuts it short.
    panel_.setEnabled(ctl::ComOpen, false);
    panel_.setEnabled(ctl::ComPort, false);
    opening_ = true;
    int result = RS_ERR_PORT;
    host_.runResponsive([&] {
        result = RSOpen(worker_.threadId(), port, kLineSpeed, kLineDataBits, kLineParityEven,
                        kLineOneStopBit);
    });
    opening_ = false;
    if (exitAsked_) {
        exit();
        return;
    }
    if (result == RS_OK) {
        worker_.setPortClosed(false);
        portOpen_ = true;
        applyEnabling(panel_, PortState::Opened);
        panel_.createDeviceWindow();
        panel_.appendMessage("COM OPEN Completed.");
        if (auto detail = lastOpenDetail(result)) panel_.appendMessage(*detail);
        return;
    }
    panel_.setEnabled(ctl::ComOpen, true);
    panel_.setEnabled(ctl::ComPort, true);
    for (const auto &failure : kOpenFailures)
        if (failure.result == result) panel_.appendMessage(failure.message);
    // Which device and why, under the fixed line.
    if (auto detail = lastOpenDetail(result)) panel_.appendMessage(*detail);
    host_.runBlocking([] { RSClose(); });
}

// Closing the port also ends whatever the worker was running on it: a
// transfer or an automatic mode must not outlive the port it ran on.
void Console::closePort() {
    // Before the close: a request the driver refuses from now on was pressed
    // too late for this port, and must not end the worker.
    worker_.setPortClosed(true);
    host_.runBlocking([] { RSClose(); });
    host_.runBlocking([this] { worker_.resetAfterClose(); });
    portOpen_ = false;
}

void Console::comClose() {
    closePort();
    panel_.destroyDeviceWindow();
    applyEnabling(panel_, PortState::Closed);
    panel_.appendMessage("Please COM OPEN.");
}

void Console::exit() {
    if (exited_) return;
    if (opening_) {
        // Cuts the open short (RSClose from this thread while RSOpen runs on
        // another); the open's handler then exits once RSOpen has returned.
        if (!exitAsked_) {
            exitAsked_ = true;
            host_.runBlocking([] { RSClose(); });
        }
        return;
    }
    exited_ = true;
    closePort();
    // Stopped here rather than left to the process end, so that nothing
    // the worker still does can reach a window that is going away.
    host_.runBlocking([this] { worker_.stop(); });
    // Last, so that it closes the record even when an exchange or a mode was
    // still running: their final lines come before it.
    panel_.appendMessage("*** Test END ***");
    panel_.destroyDeviceWindow();
    host_.closeWindow();
}

void Console::clear() { panel_.clearMessages(); }

void Console::loadData() { loadSettings(panel_); }

void Console::saveData() { saveSettings(panel_); }

void Console::download() { download_.start(); }

void Console::acquireOpeLog() { oplog_.start(); }

void Console::operationalLog() {
    oplog_.stopAcquiring();
    post(CMD_OPERATIONAL_LOG);
}

void Console::billCountTransport() {
    panel_.setChecked(ctl::ContinuousMode, true);
    worker_.postSequence(panel_.checked(ctl::SequenceFront));
}

void Console::deviceInformation() {
    panel_.commitMessageText();
    post(CMD_DEVICE_INFORMATION);
}

void Console::logWithMsg() {
    panel_.commitMessageText();
    post(CMD_LOG_WITH_MSG);
}

}  // namespace valdor
