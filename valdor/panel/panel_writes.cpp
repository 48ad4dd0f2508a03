#include "valdor/panel/panel_writes.h"

#include "valdor/panel/controls.h"
#include "valdor/panel/panel.h"
#include "valdor/panel/param_tables.h"

namespace valdor {

void applyEach(Panel &panel, std::span<const PanelWrite> writes) {
    for (const PanelWrite &write : writes) {
        switch (write.kind) {
            case PanelWrite::Kind::Text: panel.setText(write.control, write.text); break;
            case PanelWrite::Kind::Checked: panel.setChecked(write.control, write.on); break;
            case PanelWrite::Kind::ShowDeviceWindow: panel.showDeviceWindow(); break;
        }
    }
}

ParameterReading readEach(const Panel &panel) {
    ParameterReading reading;
    for (int id = ctl::TransportFirst; id <= ctl::RetrievalLast; ++id) reading.checked[id] = panel.checked(id);
    for (int id = ctl::Enhanced; id <= ctl::CountOrderReversing; ++id) reading.checked[id] = panel.checked(id);
    reading.checked[ctl::MeasuredInf] = panel.checked(ctl::MeasuredInf);
    for (int combo : allCombos()) reading.selections[combo] = panel.selection(combo);
    reading.committedText = panel.committedMessageText();
    return reading;
}

}  // namespace valdor
