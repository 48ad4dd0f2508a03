#include "valdor/qt/form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QStyle>

namespace valdor::qt {

namespace {

QLabel *label(QWidget *parent, const char *text, Qt::Alignment align, bool sunken) {
    auto *l = new QLabel(QString::fromLatin1(text), parent);
    l->setAlignment(align | Qt::AlignVCenter);
    if (sunken) {
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        l->setLineWidth(1);
        l->setMargin(0);
        l->setIndent(2);
    }
    return l;
}

// A disabled check box that shows the unit's state reads as well as an
// enabled one: only the mouse is locked out.
void legibleWhenDisabled(QWidget *widget) {
    QPalette palette = widget->palette();
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::Base,
                      QPalette::Window, QPalette::Button})
        palette.setColor(QPalette::Disabled, role, palette.color(QPalette::Active, role));
    widget->setPalette(palette);
}

QLineEdit *field(QWidget *parent, Qt::Alignment align, bool readOnly) {
    auto *f = new QLineEdit(parent);
    f->setReadOnly(readOnly);
    f->setAlignment(align | Qt::AlignVCenter);
    f->setTextMargins(1, 0, 1, 0);
    // Read-only fields take no focus, so Tab walks the operator's controls.
    if (readOnly) f->setFocusPolicy(Qt::NoFocus);
    return f;
}

QPushButton *button(QWidget *parent, const char *text, bool toggle) {
    auto *b = new QPushButton(QString::fromLatin1(text), parent);
    // Enter must never press a button of a dialog.
    b->setAutoDefault(false);
    b->setDefault(false);
    b->setCheckable(toggle);
    return b;
}

}  // namespace

QWidget *Form::make(const ControlSpec &spec) {
    const QString text = QString::fromLatin1(spec.text ? spec.text : "");
    switch (spec.kind) {
        case Kind::Group: return new QGroupBox(text, parent_);
        case Kind::Label: return label(parent_, spec.text, Qt::AlignLeft, false);
        case Kind::LabelRight: return label(parent_, spec.text, Qt::AlignRight, false);
        case Kind::LabelCenter: return label(parent_, spec.text, Qt::AlignHCenter, false);
        case Kind::Heading: {
            QLabel *heading = label(parent_, spec.text, Qt::AlignHCenter, false);
            QFont font = controlFont();
            font.setPixelSize(kControlFontPixels - 1);
            heading->setFont(font);
            return heading;
        }
        case Kind::Sunken: return label(parent_, spec.text, Qt::AlignLeft, true);
        case Kind::SunkenRight: return label(parent_, spec.text, Qt::AlignRight, true);
        case Kind::SunkenCenter: return label(parent_, spec.text, Qt::AlignHCenter, true);
        case Kind::Push: return button(parent_, spec.text, false);
        case Kind::Toggle: return button(parent_, spec.text, true);
        case Kind::Check: return new QCheckBox(text, parent_);
        case Kind::Indicator: {
            auto *box = new QCheckBox(text, parent_);
            box->setEnabled(false);
            legibleWhenDisabled(box);
            return box;
        }
        case Kind::Radio: return new QRadioButton(text, parent_);
        case Kind::Combo: {
            auto *combo = new QComboBox(parent_);
            combo->setEditable(false);
            combo->setMaxVisibleItems(20);
            return combo;
        }
        case Kind::Field: return field(parent_, Qt::AlignHCenter, true);
        case Kind::FieldLeft: return field(parent_, Qt::AlignLeft, true);
        case Kind::Edit: return field(parent_, Qt::AlignLeft, false);
    }
    return nullptr;
}

QWidget *Form::add(const ControlSpec &spec) {
    QWidget *widget = make(spec);
    place(widget, spec.id, spec.x, spec.y, spec.w, spec.h);
    return widget;
}

void Form::place(QWidget *widget, int id, double x, double y, double w, double h) {
    widget->setGeometry(units_.rect(x, y, w, h));
    if (id != 0) {
        widget->setObjectName(QStringLiteral("c%1").arg(id));
        controls_[id] = widget;
    }
}

void Form::paintBackground(QWidget *field, const QColor &colour) {
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, colour);
    palette.setColor(QPalette::Window, colour);
    field->setPalette(palette);
    field->setAutoFillBackground(true);
}

QWidget *Form::control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

QWidget *scrollWithin(QWidget *window, QSize room) {
    const QSize full = window->size();
    auto *canvas = new QWidget;
    canvas->setFixedSize(full);
    for (QObject *child : window->children()) {
        auto *widget = qobject_cast<QWidget *>(child);
        if (!widget || widget->isWindow()) continue;
        const bool shown = !widget->isHidden();
        widget->setParent(canvas);  // keeps its geometry
        if (shown) widget->show();
    }
    auto *area = new QScrollArea(window);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidget(canvas);
    // A scroll bar in one direction takes room from the other.
    const int bar = window->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, area);
    QSize wanted = full;
    if (full.height() > room.height()) wanted.rwidth() += bar;
    if (full.width() > room.width()) wanted.rheight() += bar;
    if (wanted.width() > room.width() && full.height() <= room.height()) wanted.rheight() += bar;
    if (wanted.height() > room.height() && full.width() <= room.width()) wanted.rwidth() += bar;
    window->setFixedSize(wanted.boundedTo(room));
    area->setGeometry(window->rect());
    area->show();
    return area;
}

}  // namespace valdor::qt
