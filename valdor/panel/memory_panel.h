// The console's controls held in memory: what the tests and the headless
// front end run the console on.  Safe to use from any number of threads.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "valdor/panel/message_limit.h"
#include "valdor/panel/panel.h"

namespace valdor {

class MemoryPanel : public Panel {
public:
    std::optional<int> selection(int combo) const override;
    void setSelection(int combo, std::optional<int> position) override;
    bool checked(int control) const override;
    void setChecked(int control, bool on) override;
    std::string text(int control) const override;
    void setText(int control, std::string_view text) override;
    bool enabled(int control) const override;
    void setEnabled(int control, bool on) override;
    void commitMessageText() override;
    std::string committedMessageText() const override;
    void appendMessage(std::string_view line) override;
    void clearMessages() override;
    void setProgressRange(int low, int high) override;
    void setProgressPosition(int position) override;
    void createDeviceWindow() override;
    void destroyDeviceWindow() override;
    bool deviceWindowExists() const override;
    void showDeviceWindow() override;

    // For tests and the headless front end.
    // The box's lines, oldest first: at most kMessageBoxMaxChars characters
    // (each line with its "\r\n"), the oldest whole lines dropped first.
    std::vector<std::string> messages() const;
    std::pair<int, int> progressRange() const;
    int progressPosition() const;
    bool deviceWindowVisible() const;

    // Called with every line that reaches the message box, in order, while
    // the panel's lock is held: the observer must not call back into the
    // panel.
    void setMessageObserver(std::function<void(const std::string &)> observer);

private:
    mutable std::mutex mutex_;
    std::map<int, int> selections_;
    std::set<int> checked_;
    std::set<int> disabled_;
    std::map<int, std::string> texts_;
    std::string committed_;
    std::deque<std::string> lines_;
    MessageBoxBudget budget_;
    int progressLow_ = 0, progressHigh_ = 100, progressPos_ = 0;
    bool deviceExists_ = false, deviceVisible_ = false;
    std::function<void(const std::string &)> observer_;
};

}  // namespace valdor
