#include "valdor/panel/panel_writes.h"

#include "valdor/panel/panel.h"

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

}  // namespace valdor
