#include "valdor/qt/console_layout.h"

#include <QColor>
#include <string>

#include "valdor/panel/buttons.h"
#include "valdor/panel/controls.h"

namespace valdor::qt {

namespace {

using K = Kind;

// A push button, captioned as the console names it.
constexpr ControlSpec push(int id, double x, double y, double w, double h) {
    return {K::Push, id, buttonCaption(id), x, y, w, h};
}

// Groups first, so that the controls inside are drawn over their frames.
constexpr ControlSpec kGroups[] = {
    {K::Group, 0, "Command", 2, 0, 518, 52},
    {K::Group, 0, "Command parameter", 2, 52, 456, 168},
    {K::Group, 0, "Bill Setting Information (mm)", 30, 69, 113, 123},
    {K::Group, 0, "Bill Count", 145, 69, 121, 107},
    {K::Group, 0, "Bill Transport", 268, 57, 123, 83},
    {K::Group, 0, "Bill Retrieval", 268, 140, 123, 42},
    {K::Group, 0, "Sensor Transition", 393, 68, 62, 120},
    {K::Group, 0, "Bill Daignosis", 4, 192, 51, 25},
    {K::Group, 0, "Device Information", 57, 192, 223, 25},
    {K::Group, 0, "Log Read/Clear", 282, 192, 80, 25},
    {K::Group, 0, "Operational Log", 365, 192, 89, 25},
    {K::Group, 0, "COM Port", 460, 52, 57, 79},
    {K::Group, 0, "<Q9RP>", 465, 177, 99, 43},
    {K::Group, 0, "Response", 2, 220, 562, 107},
    {K::Group, 0, "Bills Counted", 95, 225, 87, 81},
    {K::Group, 0, "Front option", 402, 224, 49, 86},
    {K::Group, 0, "Rear option", 453, 224, 49, 86},
};

// The command buttons, three rows of seven.
constexpr int kCommandRows[3][7] = {
    {ctl::StatusRead, ctl::MechaReset, ctl::BillCount, ctl::BillCountFront, ctl::BillCountRear, ctl::BillTransport,
     ctl::BillRetrieval},
    {ctl::Cancel, ctl::BillCountReject, ctl::LogReadClear, ctl::LogWithMsg, ctl::SensorTransition,
     ctl::OperationalLog, ctl::BillDiagnosis},
    {ctl::DeviceInformation, ctl::FirstBlankButton, ctl::FirstBlankButton + 1, ctl::FirstBlankButton + 2,
     ctl::FirstBlankButton + 3, ctl::FirstBlankButton + 4, ctl::FirstBlankButton + 5},
};
constexpr double kCommandRowY[3] = {10, 23, 36};

constexpr ControlSpec kSingles[] = {
    // Right-hand column.
    push(ctl::Exit, 521, 4, 44, 12),
    push(ctl::Clear, 521, 19, 44, 12),
    push(ctl::LoadData, 521, 34, 44, 12),
    push(ctl::SaveData, 521, 49, 44, 12),
    push(ctl::DownLoad, 521, 64, 44, 12),
    push(ctl::LogAllClear, 521, 79, 44, 12),
    // "Command parameter".
    {K::Check, ctl::Enhanced, "Enhanced request/response frame", 8, 60, 130, 9},
    // "Bill Setting Information (mm)".
    {K::LabelCenter, 0, "Length-L", 33, 77, 36, 8},
    {K::LabelCenter, 0, "Length-H", 69, 77, 36, 8},
    {K::LabelCenter, 0, "Thickness", 105, 77, 36, 8},
    {K::Label, 0, "Special specification", 34, 167, 62, 8},
    {K::Combo, ctl::SpecialSpec, nullptr, 106, 165, 34, 12},
    {K::Label, 0, "Shutter no action", 34, 180, 53, 8},
    {K::Toggle, ctl::ShutterFront, "Front", 88, 178, 26, 12},
    {K::Toggle, ctl::ShutterRear, "Rear", 115, 178, 25, 12},
    // "Bill Count".
    {K::LabelCenter, 0, "Bills count", 148, 77, 39, 8},
    {K::LabelCenter, 0, "Reject count", 187, 77, 39, 8},
    {K::LabelCenter, 0, "Pick retry", 226, 77, 39, 8},
    {K::Check, ctl::CountOrderReversing, "Count order reversing", 149, 165, 112, 9},
    // "Bill Transport" and "Bill Retrieval".
    {K::Radio, ctl::TransportFirst, "<Front>Deliver", 272, 65, 117, 8},
    {K::Radio, ctl::TransportFirst + 1, "<Front>Watch bills to be removed", 272, 73, 117, 8},
    {K::Radio, ctl::TransportFirst + 2, "<Front>Close shutter", 272, 81, 117, 8},
    {K::Radio, ctl::TransportFirst + 3, "<Front>Open shutter", 272, 89, 117, 8},
    {K::Radio, ctl::TransportFirst + 4, "<Rear>Deliver", 272, 97, 117, 8},
    {K::Radio, ctl::TransportFirst + 5, "<Rear>Watch bills to be removed", 272, 105, 117, 8},
    {K::Radio, ctl::TransportFirst + 6, "<Rear>Close shutter", 272, 113, 117, 8},
    {K::Radio, ctl::TransportFirst + 7, "<Rear>Open shutter", 272, 121, 117, 8},
    {K::Label, 0, "Discharge amount", 272, 130, 60, 8},
    {K::Combo, ctl::DischargeAmount, nullptr, 334, 128, 53, 11},
    {K::Radio, ctl::RetrievalFirst, "<F>EJSF to pool section", 272, 149, 117, 8},
    {K::Radio, ctl::RetrievalFirst + 1, "<F>Store into rear CaptureBOX", 272, 157, 117, 8},
    {K::Radio, ctl::RetrievalFirst + 2, "<R>EJSR to pool section", 272, 165, 117, 8},
    {K::Radio, ctl::RetrievalFirst + 3, "<R>Store into front CaptureBOX", 272, 173, 117, 8},
    // The groups of the bottom row.
    {K::Combo, ctl::DiagnosisMode, nullptr, 8, 202, 43, 12},
    {K::Combo, ctl::DeviceInfoMode, nullptr, 61, 202, 40, 12},
    {K::Edit, ctl::MessageText, nullptr, 104, 202, 172, 12},
    {K::Combo, ctl::LogMode, nullptr, 286, 202, 72, 12},
    {K::Label, 0, "P1", 369, 204, 9, 8},
    {K::Combo, ctl::OplogP1, nullptr, 379, 202, 30, 12},
    {K::Label, 0, "P2", 412, 204, 9, 8},
    {K::Combo, ctl::OplogP2, nullptr, 422, 202, 30, 12},
    // "COM Port" and what lies under it.
    // Three units lower than first drawn: the group's frame line runs
    // under its caption, and the button must clear it.
    push(ctl::ComOpen, 465, 65, 47, 12),
    {K::Label, 0, "COM Port No.", 465, 78, 47, 8},
    {K::Combo, ctl::ComPort, nullptr, 465, 88, 47, 12},
    push(ctl::ComClose, 465, 112, 47, 12),
    push(ctl::AcquireOpeLog, 460, 134, 57, 12),
    {K::Check, ctl::MeasuredInf, "Measured inf", 462, 149, 55, 9},
    // "<Q9RP>".
    {K::Check, ctl::SequenceFront, "<Front>", 470, 187, 50, 9},
    push(ctl::BillCountTransport, 470, 201, 89, 12),
    // Above and below the message box.
    {K::Check, ctl::ShowMessages, "Execution Message Display", 2, 328, 120, 10},
    {K::Check, ctl::ContinuousMode, "Command Continuous Mode", 463, 328, 100, 10},
    {K::FieldLeft, ctl::DownloadFileName, nullptr, 2, 418, 83, 12},
};

constexpr const char *kCassetteRows[6] = {"1st Cst", "2nd Cst", "3rd Cst", "4th Cst", "5th Cst", "6th Cst"};

// The per-cassette combo boxes: first number and x of each column.
struct ComboColumn {
    int first;
    double x, w;
};
constexpr ComboColumn kCassetteColumns[] = {
    {ctl::LengthL1, 34, 34},    {ctl::LengthH1, 70, 34},     {ctl::Thickness1, 106, 34},  // lengths, thickness
    {ctl::BillsCount1, 149, 37}, {ctl::RejectCount1, 188, 37}, {ctl::PickRetry1, 227, 37},  // counts, retries
};
constexpr double kCassetteRowY = 86, kCassetteRowStep = 13;

// "Sensor Transition".
constexpr const char *kGridColumns[5] = {"NES", "A", "B", "C", "D"};
constexpr const char *kShutterColumns[3] = {"EJS", "SOS", "SCS"};

// "Response": the header fields.
constexpr ControlSpec kResponseHeader[] = {
    {K::LabelRight, 0, "DH0/DH1", 6, 229, 44, 9},         {K::Field, ctl::Dh0Dh1, nullptr, 52, 229, 40, 10},
    {K::LabelRight, 0, "ErrorCode", 6, 240, 44, 9},       {K::Field, ctl::ErrorCode, nullptr, 52, 240, 40, 10},
    {K::LabelRight, 0, "ErrorAddress", 6, 251, 44, 9},    {K::Field, ctl::ErrorAddress, nullptr, 52, 251, 40, 10},
    {K::LabelRight, 0, "Version", 6, 262, 44, 9},         {K::Field, ctl::Version, nullptr, 52, 262, 40, 10},
    {K::LabelRight, 0, "Date", 6, 273, 44, 9},            {K::Field, ctl::Date, nullptr, 52, 273, 40, 10},
    {K::LabelRight, 0, "ErrorRegister", 6, 284, 44, 9},   {K::Field, ctl::ErrorRegister, nullptr, 52, 284, 40, 10},
    {K::LabelRight, 0, "ErrorRegister2", 6, 295, 44, 9},  {K::Field, ctl::ErrorRegister2, nullptr, 52, 295, 40, 10},
    {K::LabelRight, 0, "ErrorMessage", 6, 313, 44, 9},    {K::FieldLeft, ctl::ErrorMessage, nullptr, 52, 313, 508, 10},
    {K::LabelCenter, 0, "Counted", 124, 234, 28, 8},      {K::LabelCenter, 0, "Rejected", 152, 234, 28, 8},
};

// Sensor levels with the indicator beside each (0: none).
struct LevelRow {
    int indicator;
    const char *label;
    int field;
};
constexpr LevelRow kLevelColumns[2][8] = {
    {{ctl::Fdls1, "FDLS1", ctl::LevelFdls1},
     {ctl::Fdls1 + 1, "FDLS2", ctl::LevelFdls1 + 1},
     {ctl::Fdls1 + 2, "FDLS3", ctl::LevelFdls1 + 2},
     {ctl::Fdls1 + 3, "FDLS4", ctl::LevelFdls1 + 3},
     {ctl::Fdls1 + 4, "FDLS5", ctl::LevelFdls1 + 4},
     {ctl::Fdls1 + 5, "FDLS6", ctl::LevelFdls1 + 5},
     {ctl::Dfss, "DFSS", ctl::LevelDfss},
     {ctl::Bps, "BPS", ctl::LevelBps}},
    {{ctl::Rejs, "REJS", ctl::LevelRejs},
     {ctl::Ejsr, "EJSR", ctl::LevelEjsr},
     {ctl::Ejsf, "EJSF", ctl::LevelEjsf},
     {ctl::Brs3, "BRS3", ctl::LevelBrs3},
     {ctl::Brs2, "BRS2", ctl::LevelBrs2},
     {ctl::Brs1, "BRS1", ctl::LevelBrs1},
     {0, "DFCS", ctl::LevelDfcs},
     {ctl::Bcs, "BCS", ctl::LevelBcs}},
};
constexpr double kLevelX[2] = {185, 244};

// The other indicators, two columns.
constexpr ControlSpec kIndicators[] = {
    {K::Indicator, ctl::Balm, "BALM", 303, 229, 41, 9},
    {K::Indicator, ctl::Tus, "TUS", 303, 238, 41, 9},
    {K::Indicator, ctl::Ths, "THS", 303, 247, 41, 9},
    {K::Indicator, ctl::Alarm, "ALARM", 303, 256, 41, 9},
    {K::Indicator, ctl::DfcsAlm, "DFCSALM", 303, 265, 41, 9},
    {K::Indicator, ctl::Unnote, "UNNOTE", 303, 274, 41, 9},
    {K::Indicator, ctl::Inibl, "INIBL", 303, 283, 41, 9},
    {K::Indicator, ctl::Rejbl, "REJBL", 303, 292, 41, 9},
    {K::Indicator, ctl::Rtvbl, "RTVBL", 303, 301, 41, 9},
    {K::Indicator, ctl::Spb7, "Spb7", 346, 229, 54, 9},
    {K::Indicator, ctl::Spb6, "Spb6", 346, 238, 54, 9},
    {K::Indicator, ctl::SprayType, "Spray type", 346, 247, 54, 9},
    {K::Indicator, ctl::RearSpray, "Rear Spray", 346, 256, 54, 9},
    {K::Indicator, ctl::OptionSensor, "Option sensor", 346, 265, 54, 9},
    {K::Indicator, ctl::Rbst, "RBST", 346, 274, 54, 9},
    {K::Indicator, ctl::RejectOption, nullptr, 346, 287, 9, 9},
    {K::Label, 0, "Reject\nOption", 356, 283, 40, 17},
};

// "Front option" and "Rear option", top to bottom.
struct OptionRow {
    const char *label;
    int front, rear;
};
constexpr OptionRow kOptionRows[] = {
    {"Available", ctl::FrontOptAvailable, ctl::RearOptAvailable},
    {"CaptureBox", ctl::FrontOptCaptureBox, ctl::RearOptCaptureBox},
    {"RJB", ctl::FrontOptRjb, ctl::RearOptRjb},
    {"Shutter", ctl::FrontOptShutter, ctl::RearOptShutter},
    {"SOS", ctl::FrontOptSos, ctl::RearOptSos},
    {"SCS", ctl::FrontOptScs, ctl::RearOptScs},
    {"SHTMGON", ctl::FrontOptShtMgOn, ctl::RearOptShtMgOn},
    {"SHTOPN", ctl::FrontOptShtOpn, ctl::RearOptShtOpn},
};

// The response cassette grid.
constexpr const char *kCstRows[6] = {"Cst1", "Cst2", "Cst3", "Cst4", "Cst5", "Cst6"};

// Background of the read-only response fields.
struct FieldColour {
    int first, last;
    QRgb colour;
};
constexpr FieldColour kFieldColours[] = {
    {ctl::Dh0Dh1, ctl::ErrorMessage, qRgb(255, 255, 210)},
    {ctl::Counted1, ctl::Rejected1 + 5, qRgb(210, 255, 255)},
    {ctl::LevelFdls1, ctl::LevelBcs, qRgb(255, 210, 255)},
};

void buildCommandButtons(Form &form) {
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 7; ++col) {
            form.add(push(kCommandRows[row][col], 6.0 + 73 * col, kCommandRowY[row], 72, 12));
        }
}

void buildCassetteRows(Form &form) {
    for (int c = 0; c < 6; ++c) {
        double y = kCassetteRowY + kCassetteRowStep * c;
        form.add({K::Label, 0, kCassetteRows[c], 5, y + 2, 24, 8});
        for (const auto &column : kCassetteColumns) form.add({K::Combo, column.first + c, nullptr, column.x, y, column.w, 12});
    }
}

void buildSensorTransition(Form &form) {
    for (int c = 0; c < 5; ++c) form.add({K::Heading, 0, kGridColumns[c], 403.0 + 10 * c, 77, 14, 8});
    static const char *digits[6] = {"1", "2", "3", "4", "5", "6"};
    for (int r = 0; r < 6; ++r) {
        double y = 85 + 10 * r;
        form.add({K::Label, 0, digits[r], 397, y, 7, 9});
        for (int c = 0; c < 5; ++c) form.add({K::Check, ctl::SensorGridFirst + 5 * r + c, nullptr, 406.0 + 10 * c, y, 9, 9});
    }
    for (int k = 0; k < 3; ++k) form.add({K::Heading, 0, kShutterColumns[k], 416.0 + 13 * k, 148, 13, 8});
    form.add({K::Heading, 0, "<Front>", 394, 157, 22, 9});
    form.add({K::Heading, 0, "<Rear>", 394, 168, 22, 9});
    for (int k = 0; k < 3; ++k) {
        form.add({K::Check, ctl::SensorFrontEjs + k, nullptr, 418.0 + 13 * k, 157, 9, 9});
        form.add({K::Check, ctl::SensorRearEjs + k, nullptr, 418.0 + 13 * k, 168, 9, 9});
    }
}

void buildResponse(Form &form) {
    form.add(kResponseHeader);
    for (int c = 0; c < 6; ++c) {
        double y = 243 + 9 * c;
        form.add({K::Label, 0, kCassetteRows[c], 99, y, 25, 9});
        form.add({K::Field, ctl::Counted1 + c, nullptr, 126, y, 24, 9});
        form.add({K::Field, ctl::Rejected1 + c, nullptr, 154, y, 24, 9});
    }
    for (int col = 0; col < 2; ++col)
        for (int r = 0; r < 8; ++r) {
            const auto &row = kLevelColumns[col][r];
            double x = kLevelX[col], y = 229 + 10 * r;
            if (row.indicator != 0)
                form.add({K::Indicator, row.indicator, row.label, x, y, 33, 9});
            else
                form.add({K::Label, 0, row.label, x + 10, y, 23, 9});
            form.add({K::Field, row.field, nullptr, x + 34, y, 22, 9});
        }
    form.add(kIndicators);
    for (size_t r = 0; r < std::size(kOptionRows); ++r) {
        double y = 233 + 9.4 * static_cast<double>(r);
        form.add({K::Indicator, kOptionRows[r].front, kOptionRows[r].label, 404, y, 46, 9});
        form.add({K::Indicator, kOptionRows[r].rear, kOptionRows[r].label, 455, y, 46, 9});
    }
    for (int c = 0; c < 5; ++c) form.add({K::Heading, 0, kGridColumns[c], 515.0 + 9 * c, 229, 13, 8});
    for (int r = 0; r < 6; ++r) {
        double y = 238 + 9 * r;
        form.add({K::Label, 0, kCstRows[r], 503, y, 15, 9});
        // A full column step wide: at 8 units the check box's indicator lost
        // its right edge, and the "D" column met the group's frame.
        for (int c = 0; c < 5; ++c) form.add({K::Indicator, ctl::CstGridFirst + 5 * r + c, nullptr, 518.0 + 9 * c, y, 9, 9});
    }
    for (const auto &band : kFieldColours)
        for (int id = band.first; id <= band.last; ++id)
            if (QWidget *field = form.control(id)) Form::paintBackground(field, QColor(band.colour));
}

}  // namespace

void buildConsoleControls(Form &form) {
    form.add(kGroups);
    buildCommandButtons(form);
    form.add(kSingles);
    buildCassetteRows(form);
    buildSensorTransition(form);
    buildResponse(form);
}

}  // namespace valdor::qt
