// CLogDlg: the "Device Information" window.  A separate top-level window with
// read-only fields only: log counters per cassette, bill diagnosis data and
// the unit's identification and settings.
#pragma once

#include <QWidget>
#include <cstdint>
#include <span>

#include "valdor/qt/form.h"

namespace valdor {
class Panel;
}

namespace valdor::qt {

class CLogDlg : public QWidget {
    Q_OBJECT
public:
    // `panel` is the console's panel, through which the decoder writes the
    // fields; `owner` is the main window, which keeps this one in front of it.
    CLogDlg(Panel &panel, QWidget *owner);

    // The decoder of the four kinds of response this window shows.
    void ShowResponse(std::span<const uint8_t> text);

    // The window's controls by number; nullptr for a number it has not.
    QWidget *control(int id) const { return form_.control(id); }
    void setFieldText(int id, const QString &text);
    QString fieldText(int id) const;

    // Makes the window `room` at most, its fields in a scroll area, when it
    // is larger.  Once; later calls do nothing.
    void fitInto(QSize room);
    bool scrolls() const { return scroll_ != nullptr; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void build();

    Panel &panel_;
    Form form_;
    QWidget *scroll_ = nullptr;
};

}  // namespace valdor::qt
