#include "valdor/qt/console_layout.h"

#include <QColor>
#include <string>

namespace valdor::qt {

namespace {

using K = Kind;

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
struct CommandCaption {
    int id;
    const char *caption;
};
constexpr CommandCaption kCommandRows[3][7] = {
    {{1012, "Status Read"}, {1013, "Mecha Reset"}, {1014, "Bill Count"}, {1015, "Bill Count <Front>"},
     {1016, "Bill Count <Rear>"}, {1017, "Bill Transport"}, {1018, "Bill Retrieval"}},
    {{1019, "Cancel"}, {1020, "Bill Count <Reject>"}, {1021, "Log Read/Clear"}, {1009, "Log with Msg"},
     {1022, "Sensor Transition"}, {1023, "Operational Log"}, {1024, "Bill Diagnosis"}},
    {{1025, "Device Information"}, {1026, ""}, {1027, ""}, {1028, ""}, {1029, ""}, {1030, ""}, {1031, ""}},
};
constexpr double kCommandRowY[3] = {10, 23, 36};

constexpr ControlSpec kSingles[] = {
    // Right-hand column.
    {K::Push, 1001, "Exit", 521, 4, 44, 12},
    {K::Push, 1002, "Clear", 521, 19, 44, 12},
    {K::Push, 1003, "LoadData", 521, 34, 44, 12},
    {K::Push, 1004, "SaveData", 521, 49, 44, 12},
    {K::Push, 1005, "DownLoad", 521, 64, 44, 12},
    {K::Push, 1008, "Log All Clear", 521, 79, 44, 12},
    // "Command parameter".
    {K::Check, 1240, "Enhanced request/response frame", 8, 60, 130, 9},
    // "Bill Setting Information (mm)".
    {K::LabelCenter, 0, "Length-L", 33, 77, 36, 8},
    {K::LabelCenter, 0, "Length-H", 69, 77, 36, 8},
    {K::LabelCenter, 0, "Thickness", 105, 77, 36, 8},
    {K::Label, 0, "Special specification", 34, 167, 62, 8},
    {K::Combo, 1140, nullptr, 106, 165, 34, 12},
    {K::Label, 0, "Shutter no action", 34, 180, 53, 8},
    {K::Toggle, 1243, "Front", 88, 178, 26, 12},
    {K::Toggle, 1244, "Rear", 115, 178, 25, 12},
    // "Bill Count".
    {K::LabelCenter, 0, "Bills count", 148, 77, 39, 8},
    {K::LabelCenter, 0, "Reject count", 187, 77, 39, 8},
    {K::LabelCenter, 0, "Pick retry", 226, 77, 39, 8},
    {K::Check, 1282, "Count order reversing", 149, 165, 112, 9},
    // "Bill Transport" and "Bill Retrieval".
    {K::Radio, 1160, "<Front>Deliver", 272, 65, 117, 8},
    {K::Radio, 1161, "<Front>Watch bills to be removed", 272, 73, 117, 8},
    {K::Radio, 1162, "<Front>Close shutter", 272, 81, 117, 8},
    {K::Radio, 1163, "<Front>Open shutter", 272, 89, 117, 8},
    {K::Radio, 1164, "<Rear>Deliver", 272, 97, 117, 8},
    {K::Radio, 1165, "<Rear>Watch bills to be removed", 272, 105, 117, 8},
    {K::Radio, 1166, "<Rear>Close shutter", 272, 113, 117, 8},
    {K::Radio, 1167, "<Rear>Open shutter", 272, 121, 117, 8},
    {K::Label, 0, "Discharge amount", 272, 130, 60, 8},
    {K::Combo, 1143, nullptr, 334, 128, 53, 11},
    {K::Radio, 1168, "<F>EJSF to pool section", 272, 149, 117, 8},
    {K::Radio, 1169, "<F>Store into rear CaptureBOX", 272, 157, 117, 8},
    {K::Radio, 1170, "<R>EJSR to pool section", 272, 165, 117, 8},
    {K::Radio, 1171, "<R>Store into front CaptureBOX", 272, 173, 117, 8},
    // The groups of the bottom row.
    {K::Combo, 1141, nullptr, 8, 202, 43, 12},
    {K::Combo, 1142, nullptr, 61, 202, 40, 12},
    {K::Edit, 1236, nullptr, 104, 202, 172, 12},
    {K::Combo, 1136, nullptr, 286, 202, 72, 12},
    {K::Label, 0, "P1", 369, 204, 9, 8},
    {K::Combo, 1138, nullptr, 379, 202, 30, 12},
    {K::Label, 0, "P2", 412, 204, 9, 8},
    {K::Combo, 1139, nullptr, 422, 202, 30, 12},
    // "COM Port" and what lies under it.
    // Three units lower than first drawn: the group's frame line runs
    // under its caption, and the button must clear it.
    {K::Push, 1006, "COM Open", 465, 65, 47, 12},
    {K::Label, 0, "COM Port No.", 465, 78, 47, 8},
    {K::Combo, 1137, nullptr, 465, 88, 47, 12},
    {K::Push, 1007, "COM Close", 465, 112, 47, 12},
    {K::Push, 1010, "Acquire Ope-Log", 460, 134, 57, 12},
    {K::Check, 1351, "Measured inf", 462, 149, 55, 9},
    // "<Q9RP>".
    {K::Check, 1281, "<Front>", 470, 187, 50, 9},
    {K::Push, 1011, "Bill Count / Transport", 470, 201, 89, 12},
    // Above and below the message box.
    {K::Check, 1241, "Execution Message Display", 2, 328, 120, 10},
    {K::Check, 1242, "Command Continuous Mode", 463, 328, 100, 10},
    {K::FieldLeft, 1151, nullptr, 2, 418, 83, 12},
};

constexpr const char *kCassetteRows[6] = {"1st Cst", "2nd Cst", "3rd Cst", "4th Cst", "5th Cst", "6th Cst"};

// The per-cassette combo boxes: first number and x of each column.
struct ComboColumn {
    int first;
    double x, w;
};
constexpr ComboColumn kCassetteColumns[] = {
    {1100, 34, 34}, {1106, 70, 34}, {1112, 106, 34},     // lengths, thickness
    {1118, 149, 37}, {1124, 188, 37}, {1130, 227, 37},  // counts, retries
};
constexpr double kCassetteRowY = 86, kCassetteRowStep = 13;

// "Sensor Transition".
constexpr const char *kGridColumns[5] = {"NES", "A", "B", "C", "D"};
constexpr const char *kShutterColumns[3] = {"EJS", "SOS", "SCS"};

// "Response": the header fields.
constexpr ControlSpec kResponseHeader[] = {
    {K::LabelRight, 0, "DH0/DH1", 6, 229, 44, 9},         {K::Field, 1200, nullptr, 52, 229, 40, 10},
    {K::LabelRight, 0, "ErrorCode", 6, 240, 44, 9},       {K::Field, 1201, nullptr, 52, 240, 40, 10},
    {K::LabelRight, 0, "ErrorAddress", 6, 251, 44, 9},    {K::Field, 1202, nullptr, 52, 251, 40, 10},
    {K::LabelRight, 0, "Version", 6, 262, 44, 9},         {K::Field, 1203, nullptr, 52, 262, 40, 10},
    {K::LabelRight, 0, "Date", 6, 273, 44, 9},            {K::Field, 1204, nullptr, 52, 273, 40, 10},
    {K::LabelRight, 0, "ErrorRegister", 6, 284, 44, 9},   {K::Field, 1205, nullptr, 52, 284, 40, 10},
    {K::LabelRight, 0, "ErrorRegister2", 6, 295, 44, 9},  {K::Field, 1206, nullptr, 52, 295, 40, 10},
    {K::LabelRight, 0, "ErrorMessage", 6, 313, 44, 9},    {K::FieldLeft, 1207, nullptr, 52, 313, 508, 10},
    {K::LabelCenter, 0, "Counted", 124, 234, 28, 8},      {K::LabelCenter, 0, "Rejected", 152, 234, 28, 8},
};

// Sensor levels with the indicator beside each (0: none).
struct LevelRow {
    int indicator;
    const char *label;
    int field;
};
constexpr LevelRow kLevelColumns[2][8] = {
    {{1283, "FDLS1", 1220}, {1284, "FDLS2", 1221}, {1285, "FDLS3", 1222}, {1286, "FDLS4", 1223},
     {1287, "FDLS5", 1224}, {1288, "FDLS6", 1225}, {1289, "DFSS", 1226}, {1290, "BPS", 1227}},
    {{1291, "REJS", 1228}, {1292, "EJSR", 1229}, {1293, "EJSF", 1230}, {1294, "BRS3", 1231},
     {1295, "BRS2", 1232}, {1296, "BRS1", 1233}, {0, "DFCS", 1234}, {1352, "BCS", 1235}},
};
constexpr double kLevelX[2] = {185, 244};

// The other indicators, two columns.
constexpr ControlSpec kIndicators[] = {
    {K::Indicator, 1297, "BALM", 303, 229, 41, 9},
    {K::Indicator, 1298, "TUS", 303, 238, 41, 9},
    {K::Indicator, 1299, "THS", 303, 247, 41, 9},
    {K::Indicator, 1300, "ALARM", 303, 256, 41, 9},
    {K::Indicator, 1301, "DFCSALM", 303, 265, 41, 9},
    {K::Indicator, 1302, "UNNOTE", 303, 274, 41, 9},
    {K::Indicator, 1355, "INIBL", 303, 283, 41, 9},
    {K::Indicator, 1356, "REJBL", 303, 292, 41, 9},
    {K::Indicator, 1357, "RTVBL", 303, 301, 41, 9},
    {K::Indicator, 1353, "Spb7", 346, 229, 54, 9},
    {K::Indicator, 1354, "Spb6", 346, 238, 54, 9},
    {K::Indicator, 1303, "Spray type", 346, 247, 54, 9},
    {K::Indicator, 1304, "Rear Spray", 346, 256, 54, 9},
    {K::Indicator, 1358, "Option sensor", 346, 265, 54, 9},
    {K::Indicator, 1360, "RBST", 346, 274, 54, 9},
    {K::Indicator, 1359, nullptr, 346, 287, 9, 9},
    {K::Label, 0, "Reject\nOption", 356, 283, 40, 17},
};

// "Front option" and "Rear option", top to bottom.
struct OptionRow {
    const char *label;
    int front, rear;
};
constexpr OptionRow kOptionRows[] = {
    {"Available", 1305, 1310}, {"CaptureBox", 1306, 1311}, {"RJB", 1309, 1314},
    {"Shutter", 1345, 1346},   {"SOS", 1307, 1312},        {"SCS", 1308, 1313},
    {"SHTMGON", 1347, 1349},   {"SHTOPN", 1348, 1350},
};

// The response cassette grid.
constexpr const char *kCstRows[6] = {"Cst1", "Cst2", "Cst3", "Cst4", "Cst5", "Cst6"};

// Background of the read-only response fields.
struct FieldColour {
    int first, last;
    QRgb colour;
};
constexpr FieldColour kFieldColours[] = {
    {1200, 1207, qRgb(255, 255, 210)},
    {1208, 1219, qRgb(210, 255, 255)},
    {1220, 1235, qRgb(255, 210, 255)},
};

void buildCommandButtons(Form &form) {
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 7; ++col) {
            const auto &button = kCommandRows[row][col];
            form.add({K::Push, button.id, button.caption, 6.0 + 73 * col, kCommandRowY[row], 72, 12});
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
        for (int c = 0; c < 5; ++c) form.add({K::Check, 1245 + 5 * r + c, nullptr, 406.0 + 10 * c, y, 9, 9});
    }
    for (int k = 0; k < 3; ++k) form.add({K::Heading, 0, kShutterColumns[k], 416.0 + 13 * k, 148, 13, 8});
    form.add({K::Heading, 0, "<Front>", 394, 157, 22, 9});
    form.add({K::Heading, 0, "<Rear>", 394, 168, 22, 9});
    for (int k = 0; k < 3; ++k) {
        form.add({K::Check, 1275 + k, nullptr, 418.0 + 13 * k, 157, 9, 9});
        form.add({K::Check, 1278 + k, nullptr, 418.0 + 13 * k, 168, 9, 9});
    }
}

void buildResponse(Form &form) {
    form.add(kResponseHeader);
    for (int c = 0; c < 6; ++c) {
        double y = 243 + 9 * c;
        form.add({K::Label, 0, kCassetteRows[c], 99, y, 25, 9});
        form.add({K::Field, 1208 + c, nullptr, 126, y, 24, 9});
        form.add({K::Field, 1214 + c, nullptr, 154, y, 24, 9});
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
        for (int c = 0; c < 5; ++c) form.add({K::Indicator, 1315 + 5 * r + c, nullptr, 518.0 + 9 * c, y, 9, 9});
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
