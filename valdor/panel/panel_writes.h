// What crosses to the panel in one step rather than one call per control:
// the writes a response makes (the decoders produce them away from the
// panel), and the parameters a request is built from.  A window served from
// another thread then takes one hand-over instead of one per field.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace valdor {

class Panel;

struct PanelWrite {
    enum class Kind : uint8_t { Text, Checked, ShowDeviceWindow };
    Kind kind = Kind::Text;
    int control = 0;
    bool on = false;
    std::string text;

    bool operator==(const PanelWrite &) const = default;
};

// Records writes under the names the panel uses for them, in the order made.
class PanelWrites {
public:
    void setText(int control, std::string_view text) {
        writes_.push_back({PanelWrite::Kind::Text, control, false, std::string(text)});
    }
    void setChecked(int control, bool on) { writes_.push_back({PanelWrite::Kind::Checked, control, on, {}}); }
    void showDeviceWindow() { writes_.push_back({PanelWrite::Kind::ShowDeviceWindow, 0, false, {}}); }

    void append(const PanelWrites &more) { writes_.insert(writes_.end(), more.writes_.begin(), more.writes_.end()); }

    const std::vector<PanelWrite> &writes() const { return writes_; }
    std::span<const PanelWrite> span() const { return writes_; }
    size_t size() const { return writes_.size(); }

private:
    std::vector<PanelWrite> writes_;
};

// Carries out the writes one by one, in order, on `panel`.
void applyEach(Panel &panel, std::span<const PanelWrite> writes);

// The operator's parameters at one moment: every radio button and check box
// a request reads, every list's selection, and the committed text.
struct ParameterReading {
    std::map<int, bool> checked;
    std::map<int, std::optional<int>> selections;
    std::string committedText;
};

// Reads them control by control from `panel`.
ParameterReading readEach(const Panel &panel);

}  // namespace valdor
