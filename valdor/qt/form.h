// Builds a window's controls from tables of (kind, number, caption,
// rectangle in dialog units) and keeps each numbered control by its number.
#pragma once

#include <QColor>
#include <QWidget>
#include <map>

#include "valdor/qt/dialog_units.h"

namespace valdor::qt {

enum class Kind {
    Group,          // frame with a caption
    Label,          // static text, left-aligned
    LabelRight,     // static text, right-aligned
    LabelCenter,    // static text, centred
    Heading,        // column heading of a tight grid: centred, a size smaller
    Push,           // push button
    Toggle,         // push-like toggle button
    Check,          // check box the operator sets
    Indicator,      // check box the program sets, always disabled
    Radio,          // radio button (groups are formed by the window)
    Combo,          // pick-only drop-down list
    Field,          // read-only single-line field, centred
    FieldLeft,      // read-only single-line field, left-aligned
    Edit,           // editable single-line field
    Sunken,         // static text in a sunken frame, left-aligned
    SunkenRight,    // ... right-aligned
    SunkenCenter,   // ... centred
};

struct ControlSpec {
    Kind kind;
    int id;  // 0 for a control nobody addresses
    const char *text;
    double x, y, w, h;
};

class Form {
public:
    Form(QWidget *parent, const DialogUnits &units) : parent_(parent), units_(units) {}

    QWidget *add(const ControlSpec &spec);
    template <size_t N>
    void add(const ControlSpec (&specs)[N]) {
        for (const auto &spec : specs) add(spec);
    }
    // Places a widget the form did not make.
    void place(QWidget *widget, int id, double x, double y, double w, double h);

    // Paints a read-only field's background.
    static void paintBackground(QWidget *field, const QColor &colour);

    QWidget *control(int id) const;
    const std::map<int, QWidget *> &controls() const { return controls_; }
    const DialogUnits &units() const { return units_; }

private:
    QWidget *make(const ControlSpec &spec);

    QWidget *parent_;
    DialogUnits units_;
    std::map<int, QWidget *> controls_;
};

// Moves a fixed-size window's controls, as they are, onto a canvas of the
// window's size inside a scroll area that fills the window, and makes the
// window `room` at most: every control can still be scrolled to.  The
// window grows by a scroll bar's width where the screen allows, so that
// one bar is enough.  Returns the area.
QWidget *scrollWithin(QWidget *window, QSize room);

}  // namespace valdor::qt
