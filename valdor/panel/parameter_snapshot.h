// The panel as a request sees it: the parameters read in one step when the
// snapshot is taken, everything else from the live panel.
#pragma once

#include "valdor/panel/panel.h"

namespace valdor {

class ParameterSnapshot final : public Panel {
public:
    explicit ParameterSnapshot(Panel &live) : live_(live), reading_(live.readParameters()) {}

    std::optional<int> selection(int combo) const override {
        auto it = reading_.selections.find(combo);
        return it != reading_.selections.end() ? it->second : live_.selection(combo);
    }
    bool checked(int control) const override {
        auto it = reading_.checked.find(control);
        return it != reading_.checked.end() ? it->second : live_.checked(control);
    }
    std::string committedMessageText() const override { return reading_.committedText; }
    ParameterReading readParameters() const override { return reading_; }

    void setSelection(int combo, std::optional<int> position) override { live_.setSelection(combo, position); }
    void setChecked(int control, bool on) override { live_.setChecked(control, on); }
    std::string text(int control) const override { return live_.text(control); }
    void setText(int control, std::string_view text) override { live_.setText(control, text); }
    bool enabled(int control) const override { return live_.enabled(control); }
    void setEnabled(int control, bool on) override { live_.setEnabled(control, on); }
    void commitMessageText() override { live_.commitMessageText(); }
    void apply(std::span<const PanelWrite> writes) override { live_.apply(writes); }
    void appendMessage(std::string_view line) override { live_.appendMessage(line); }
    void clearMessages() override { live_.clearMessages(); }
    void setProgressRange(int low, int high) override { live_.setProgressRange(low, high); }
    void setProgressPosition(int position) override { live_.setProgressPosition(position); }
    void createDeviceWindow() override { live_.createDeviceWindow(); }
    void destroyDeviceWindow() override { live_.destroyDeviceWindow(); }
    bool deviceWindowExists() const override { return live_.deviceWindowExists(); }
    void showDeviceWindow() override { live_.showDeviceWindow(); }

private:
    Panel &live_;
    ParameterReading reading_;
};

}  // namespace valdor
