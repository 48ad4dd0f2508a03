#include "valdor/qt/log_dlg.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>

#include "valdor/panel/controls.h"
#include "valdor/qt/icons.h"
#include "valdor/responses/device_info_decoder.h"

namespace valdor::qt {

namespace {

using K = Kind;

constexpr double kWidth = 390, kHeight = 349;
constexpr double kColumnX[6] = {112, 157, 203, 249, 295, 341};
constexpr double kHeadingX[6] = {111, 158, 204, 249, 296, 341};
constexpr double kLabelRight = 108;   // right edge of the grid's row labels
constexpr double kSettingRight = 201;  // right edge of the device setting labels

constexpr const char *kHeadings[6] = {"1st Cassette", "2nd Cassette", "3rd Cassette",
                                      "4th Cassette", "5th Cassette", "6th Cassette"};
constexpr const char *kRowLabels[13] = {
    "Pick operations",         "Length (long) errors",           "Length (short) errors",
    "(Reserved)",              "Thickness errors",               "Spacing errors",
    "Pick from wrong cassette errors", "Pick errors while bills not low", "Count unmatch errors",
    "Pick retries",            "Count retries by count error",   "Retries after auto-reject",
    "Jam errors"};

struct DiagnosisRow {
    int label;
    const char *text;
    int firstField;  // field of cassette c is firstField + c
    double y;
};
constexpr DiagnosisRow kDiagnosisRows[] = {
    {ctl::DevDenominationLabel, "Denomination", ctl::DevDenomination0, 178},
    {ctl::DevLengthLabel, "Length(mm)", ctl::DevLength0, 188},
    {ctl::DevThicknessLabel, "Thickness(mm)", ctl::DevThickness0, 198},
    {ctl::DevReservationLabel, "Reservation", ctl::DevReservation0, 208},
};

constexpr ControlSpec kFixed[] = {
    {K::Label, ctl::DevTitle, nullptr, 7, 7, 68, 10},
    {K::LabelRight, ctl::DevLogMessageLabel, "Log Message", 7, 153, kLabelRight - 7, 9},
    {K::Sunken, ctl::DevLogMessage, nullptr, 111, 152, 272, 11},
    {K::Label, ctl::DevDiagnosisHeading, "Bill Diagnosis data", 7, 169, 100, 9},
    {K::Label, ctl::DevInformationHeading, "Device information", 7, 220, 100, 9},
    {K::LabelRight, ctl::DevUserSettingLabel, "User setting data", 7, 229, kLabelRight - 7, 9},
    {K::Sunken, ctl::DevUserSetting, nullptr, 111, 228, 272, 11},
    {K::LabelRight, ctl::DevCodeLabel, "Device code", 7, 242, kLabelRight - 7, 9},
    {K::Sunken, ctl::DevCode1, nullptr, 111, 241, 46, 11},
    {K::Sunken, ctl::DevCode2, nullptr, 165, 241, 26, 11},
    {K::Sunken, ctl::DevCode3, nullptr, 199, 241, 26, 11},
    {K::Sunken, ctl::DevCode4, nullptr, 248, 241, 135, 11},
    {K::Label, ctl::DevSettingHeading, "Device setting", 57, 255, 60, 9},
};

struct SettingRow {
    int field;
    const char *label;
    double y;
};
constexpr SettingRow kSettings[] = {
    {ctl::DevMaxSheets, "Maximum number of sheets", 255},
    {ctl::DevMachineType, "Machine type", 265},
    {ctl::DevFrontOption, "Front Option", 275},
    {ctl::DevRearOption, "Rear Option", 285},
    {ctl::DevJamRetry, "Jam retry control", 295},
    {ctl::DevBcsSensor, "BCS Sensor", 305},
    {ctl::DevThicknessAdjust, "Thickness adjustment value", 315},
    {ctl::DevRomVersion, "ROM version", 325},
    {ctl::DevRejectOption, "Reject Option", 335},
};

}  // namespace

CLogDlg::CLogDlg(Panel &panel, QWidget *owner)
    // A window of its own, with a caption but no close box: the console
    // closes it with the port.
    : QWidget(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      panel_(panel),
      form_(this, DialogUnits()) {
    setWindowTitle(QStringLiteral("Device Information"));
    setWindowIcon(dispenserIcon());
    setFont(controlFont());
    build();
    setFixedSize(form_.units().x(kWidth), form_.units().y(kHeight));
}

void CLogDlg::build() {
    for (int c = 0; c < 6; ++c) form_.add({K::LabelCenter, ctl::DevHeading1 + c, kHeadings[c], kHeadingX[c], 8, 44, 9});
    for (int r = 0; r < 13; ++r) {
        double y = 18 + 10 * r;
        form_.add({K::LabelRight, ctl::DevRowLabel1 + r, kRowLabels[r], 2, y, kLabelRight - 2, 9});
        for (int c = 0; c < 6; ++c) form_.add({K::SunkenRight, ctl::DevGridFirst + 13 * c + r, nullptr, kColumnX[c], y, 42, 9});
    }
    form_.add(kFixed);
    for (const auto &row : kDiagnosisRows) {
        form_.add({K::LabelRight, row.label, row.text, 7, row.y, kLabelRight - 7, 9});
        for (int c = 1; c <= 6; ++c)
            form_.add({K::SunkenCenter, row.firstField + c, nullptr, kColumnX[c - 1], row.y, 42, 9});
    }
    for (const auto &row : kSettings) {
        form_.add({K::LabelRight, 0, row.label, 57, row.y, kSettingRight - 57, 9});
        form_.add({K::SunkenCenter, row.field, nullptr, 205, row.y, 90, 9});
    }
}

void CLogDlg::fitInto(QSize room) {
    if (scroll_ || (width() <= room.width() && height() <= room.height())) return;
    scroll_ = scrollWithin(this, room);
}

void CLogDlg::ShowResponse(std::span<const uint8_t> text) { showDeviceResponse(panel_, text); }

void CLogDlg::setFieldText(int id, const QString &text) {
    if (auto *label = qobject_cast<QLabel *>(control(id))) label->setText(text);
}

QString CLogDlg::fieldText(int id) const {
    auto *label = qobject_cast<QLabel *>(control(id));
    return label ? label->text() : QString();
}

void CLogDlg::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape: event->accept(); return;
        default: QWidget::keyPressEvent(event);
    }
}

void CLogDlg::closeEvent(QCloseEvent *event) {
    // Only COM Close and Exit end this window.
    event->ignore();
}

}  // namespace valdor::qt
