#include "valdor/panel/memory_panel.h"

#include "valdor/panel/session_log.h"

#include "valdor/panel/controls.h"

namespace valdor {

namespace {

// The radio groups: checking one member clears the others.
std::pair<int, int> radioGroup(int control) {
    if (control >= ctl::TransportFirst && control <= ctl::TransportLast)
        return {ctl::TransportFirst, ctl::TransportLast};
    if (control >= ctl::RetrievalFirst && control <= ctl::RetrievalLast)
        return {ctl::RetrievalFirst, ctl::RetrievalLast};
    return {0, -1};
}

}  // namespace

std::optional<int> MemoryPanel::selection(int combo) const {
    std::lock_guard lock(mutex_);
    auto it = selections_.find(combo);
    if (it == selections_.end()) return std::nullopt;
    return it->second;
}

void MemoryPanel::setSelection(int combo, std::optional<int> position) {
    std::lock_guard lock(mutex_);
    if (position && *position >= 0)
        selections_[combo] = *position;
    else
        selections_.erase(combo);
}

bool MemoryPanel::checked(int control) const {
    std::lock_guard lock(mutex_);
    if (ctl::isDeviceControl(control) && !deviceExists_) return false;
    return checked_.count(control) != 0;
}

void MemoryPanel::setChecked(int control, bool on) {
    std::lock_guard lock(mutex_);
    if (!on) {
        checked_.erase(control);
        return;
    }
    auto [first, last] = radioGroup(control);
    for (int id = first; id <= last; ++id) checked_.erase(id);
    checked_.insert(control);
}

std::string MemoryPanel::text(int control) const {
    std::lock_guard lock(mutex_);
    if (control == ctl::MessageBox) {
        std::string all;
        for (auto &line : lines_) all += line + "\r\n";
        return all;
    }
    if (ctl::isDeviceControl(control) && !deviceExists_) return {};
    auto it = texts_.find(control);
    return it == texts_.end() ? std::string() : it->second;
}

void MemoryPanel::setText(int control, std::string_view text) {
    std::lock_guard lock(mutex_);
    if (ctl::isDeviceControl(control) && !deviceExists_) return;
    // The editable field takes no more than its limit, as the window's does.
    if (control == ctl::MessageText && text.size() > static_cast<size_t>(ctl::MessageTextMax))
        text = text.substr(0, ctl::MessageTextMax);
    texts_[control] = std::string(text);
}

bool MemoryPanel::enabled(int control) const {
    std::lock_guard lock(mutex_);
    return disabled_.count(control) == 0;
}

void MemoryPanel::setEnabled(int control, bool on) {
    std::lock_guard lock(mutex_);
    if (on)
        disabled_.erase(control);
    else
        disabled_.insert(control);
}

void MemoryPanel::commitMessageText() {
    std::lock_guard lock(mutex_);
    auto it = texts_.find(ctl::MessageText);
    committed_ = it == texts_.end() ? std::string() : it->second;
}

std::string MemoryPanel::committedMessageText() const {
    std::lock_guard lock(mutex_);
    return committed_;
}

void MemoryPanel::appendMessage(std::string_view line) {
    std::lock_guard lock(mutex_);
    sessionLog().line(line);
    if (checked_.count(ctl::ShowMessages) == 0) return;
    for (size_t drop = budget_.add(line); drop > 0; --drop) lines_.pop_front();
    lines_.emplace_back(line);
    if (observer_) observer_(lines_.back());
}

void MemoryPanel::clearMessages() {
    std::lock_guard lock(mutex_);
    lines_.clear();
    budget_.clear();
}

void MemoryPanel::setProgressRange(int low, int high) {
    std::lock_guard lock(mutex_);
    progressLow_ = low;
    progressHigh_ = high;
}

void MemoryPanel::setProgressPosition(int position) {
    std::lock_guard lock(mutex_);
    progressPos_ = position;
}

void MemoryPanel::createDeviceWindow() {
    std::lock_guard lock(mutex_);
    if (deviceExists_) return;
    deviceExists_ = true;
    deviceVisible_ = false;
}

void MemoryPanel::destroyDeviceWindow() {
    std::lock_guard lock(mutex_);
    deviceExists_ = false;
    deviceVisible_ = false;
    // A later window starts empty.
    std::erase_if(texts_, [](auto &kv) { return ctl::isDeviceControl(kv.first); });
    std::erase_if(checked_, [](int id) { return ctl::isDeviceControl(id); });
}

bool MemoryPanel::deviceWindowExists() const {
    std::lock_guard lock(mutex_);
    return deviceExists_;
}

void MemoryPanel::showDeviceWindow() {
    std::lock_guard lock(mutex_);
    if (deviceExists_) deviceVisible_ = true;
}

std::vector<std::string> MemoryPanel::messages() const {
    std::lock_guard lock(mutex_);
    return {lines_.begin(), lines_.end()};
}

std::pair<int, int> MemoryPanel::progressRange() const {
    std::lock_guard lock(mutex_);
    return {progressLow_, progressHigh_};
}

int MemoryPanel::progressPosition() const {
    std::lock_guard lock(mutex_);
    return progressPos_;
}

bool MemoryPanel::deviceWindowVisible() const {
    std::lock_guard lock(mutex_);
    return deviceVisible_;
}

void MemoryPanel::setMessageObserver(std::function<void(const std::string &)> observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

}  // namespace valdor
