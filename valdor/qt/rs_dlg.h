// CRsDlg: the main console window.  It builds the controls, hands every
// click to the console's logic, and is the panel and the host that logic
// runs on.  Calls from the worker thread are carried out on the window
// thread, one at a time and in order, while the caller waits; message lines
// from the worker are queued and appended in batches (appendMessage).
#pragma once

#include <QDialog>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "valdor/panel/host.h"
#include "valdor/panel/message_limit.h"
#include "valdor/panel/panel.h"
#include "valdor/qt/form.h"
#include "valdor/qt/log_dlg.h"

class QButtonGroup;
class QPlainTextEdit;
class QProgressBar;
class QTimer;

namespace valdor {
class Console;
}

namespace valdor::qt {

class CRsDlg : public QDialog, public Panel, public Host {
    Q_OBJECT
public:
    // Builds the window and runs the console's start-up (the worker starts).
    explicit CRsDlg(QWidget *parent = nullptr);
    // Shuts the console down as Exit does if nobody has yet.
    ~CRsDlg() override;

    Console &console() { return *console_; }

    // The decoder of every response, for the main window's Response area.
    void ShowResponse(std::span<const uint8_t> text);

    // The window's controls by number (the main window's only).
    QWidget *control(int id) const { return form_.control(id); }
    const std::map<int, QWidget *> &controls() const { return form_.controls(); }
    CLogDlg *deviceWindow() const { return device_; }

    // Which device the picked COM item opens and what it is; empty when no
    // item is picked.  Shown as the list's tool tip.
    QString comPortToolTip() const;

    // The buttons the Device Information window must leave free: the
    // "Command" group's and the right-hand column.
    static std::vector<int> commandButtons();

    // The controls sit in a scroll area (the screen is smaller than the
    // window).
    bool scrolls() const { return scroll_ != nullptr; }

    // Replaces the file dialog, for scripted runs and tests.
    using FileChooser =
        std::function<std::optional<std::string>(std::span<const FileFilter>, std::string_view)>;
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

    // Panel.
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
    void apply(std::span<const PanelWrite> writes) override;
    ParameterReading readParameters() const override;
    void appendMessage(std::string_view line) override;
    void clearMessages() override;
    void setProgressRange(int low, int high) override;
    void setProgressPosition(int position) override;
    void createDeviceWindow() override;
    void destroyDeviceWindow() override;
    bool deviceWindowExists() const override;
    void showDeviceWindow() override;

    // Host.
    std::optional<std::string> chooseFile(std::span<const FileFilter> filters,
                                          std::string_view initialName) override;
    std::optional<std::string> chooseSaveFile(std::span<const FileFilter> filters,
                                              std::string_view initialName) override;
    void runBlocking(const std::function<void()> &call) override;
    void runResponsive(const std::function<void()> &call) override;
    void closeWindow() override;

public slots:
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void build();
    void fillLists();
    void connectButtons();
    void mirrorCheckBoxes();
    void onButton(int id);
    void placeDeviceWindow();
    void fitToScreen();
    std::optional<std::string> runFileDialog(std::span<const FileFilter> filters,
                                             std::string_view initialName, bool save);
    std::string messageText() const;
    // Lines from other threads wait in pendingLines_ until the window thread
    // applies them: on its timer, and before anything that the box's
    // contents depend on (an append, "Clear", a change of 1241, reading the
    // box, a button's handler, closing).  Never inside another hand-over, so
    // the worker does not wait for the box's work.
    void applyPendingLines();
    void showLines(std::span<const std::string> lines);
    void dropOldestMessages(size_t lines);
    QButtonGroup *radioGroupOf(int control) const;
    // Runs `call` on a helper thread while this one serves events (those
    // `flags` let through) until it has returned.
    void runOnHelper(const std::function<void()> &call, QEventLoop::ProcessEventsFlags flags);

    // Runs `fn` on the window thread and returns its result; directly when
    // called there, otherwise as a blocking hand-over.
    template <typename F>
    auto onWindowThread(F &&fn) const;

    Form form_;
    QPlainTextEdit *messages_ = nullptr;
    int messageLines_ = 0;
    MessageBoxBudget messageBudget_;
    mutable std::mutex checkedMutex_;
    std::map<int, bool> checkedMirror_;  // under checkedMutex_; every checkable box
    mutable std::mutex pendingMutex_;
    std::vector<std::string> pendingLines_;  // under pendingMutex_
    QTimer *pendingTimer_ = nullptr;  // keeps the box within kMessageBoxMaxChars
    QProgressBar *progress_ = nullptr;
    QButtonGroup *transport_ = nullptr;
    QButtonGroup *retrieval_ = nullptr;
    std::string committed_;
    QPointer<CLogDlg> device_;
    bool devicePlaced_ = false;
    bool fitted_ = false;
    QWidget *scroll_ = nullptr;
    FileChooser chooser_;
    bool closing_ = false;
    int blocking_ = 0;           // runBlocking calls in progress
    bool closePending_ = false;  // a close that came while one ran
    std::unique_ptr<Console> console_;
};

}  // namespace valdor::qt
