// What the window tests share: the application object, a window in a
// scratch folder, clicks by control number and waits that keep the window
// thread serving the worker.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "valdor/console/console.h"
#include "valdor/panel/controls.h"
#include "valdor/qt/rs_dlg.h"

namespace qtsupport {

// Splits the message box's text ("line\r\n" each) into its lines.
std::vector<std::string> lines(const valdor::qt::CRsDlg &window);

// Waits, delivering events, until `done` holds; false after `timeout`.
template <typename Pred>
bool waitFor(Pred done, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return QTest::qWaitFor(done, static_cast<int>(timeout.count()));
}

// Clicks a control of the window with the mouse, as the operator does.
void click(valdor::qt::CRsDlg &window, int id);

// Works in a folder of its own, so that "valdor.dat" is the test's alone.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

// The window shown, in a scratch folder.
struct Shown {
    Shown();
    ~Shown();
    ScratchFolder folder;
    std::unique_ptr<valdor::qt::CRsDlg> window;
};

}  // namespace qtsupport
