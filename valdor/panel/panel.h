// The seam between the console's logic and its toolkit: the controls of both
// windows, addressed by their numbers (controls.h).  The Qt window implements
// it by carrying each call out on the window thread; MemoryPanel implements it
// in memory for the tests and the headless front end.
//
// Every member may be called from any thread.  Each call is one indivisible
// step, and calls made by one thread take effect in the order they were made.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "valdor/panel/panel_writes.h"

namespace valdor {

class Panel {
public:
    virtual ~Panel() = default;

    // Combo boxes: the selected position in the box's table, or none.
    virtual std::optional<int> selection(int combo) const = 0;
    virtual void setSelection(int combo, std::optional<int> position) = 0;

    // Check boxes, push-like toggles, radio buttons and indicators.  Checking
    // a radio button clears the others of its group.
    virtual bool checked(int control) const = 0;
    virtual void setChecked(int control, bool on) = 0;

    // Text of a field (or of the message box 1000, lines ended by "\r\n").
    virtual std::string text(int control) const = 0;
    virtual void setText(int control, std::string_view text) = 0;

    virtual bool enabled(int control) const = 0;
    virtual void setEnabled(int control, bool on) = 0;

    // Field 1236: the operator edits it; commit copies its text (at most 40
    // characters) to the committed text that requests read.
    virtual void commitMessageText() = 0;
    virtual std::string committedMessageText() const = 0;

    // The message box: one line plus "\r\n", scrolled to the end, only while
    // 1241 "Execution Message Display" is checked; otherwise dropped.
    virtual void appendMessage(std::string_view line) = 0;
    virtual void clearMessages() = 0;

    // Carries out a list of writes as one step, in order.  Writes to the
    // Device Information window's controls while it does not exist are
    // dropped, as single writes are.
    virtual void apply(std::span<const PanelWrite> writes) { applyEach(*this, writes); }

    // The parameters requests are built from, read as one step.
    virtual ParameterReading readParameters() const { return readEach(*this); }

    // Progress bar 1150.
    virtual void setProgressRange(int low, int high) = 0;
    virtual void setProgressPosition(int position) = 0;

    // The Device Information window: created hidden by COM Open, destroyed
    // by COM Close and at exit.  Writes to its fields while it does not
    // exist are dropped.
    virtual void createDeviceWindow() = 0;
    virtual void destroyDeviceWindow() = 0;
    virtual bool deviceWindowExists() const = 0;
    virtual void showDeviceWindow() = 0;
};

}  // namespace valdor
