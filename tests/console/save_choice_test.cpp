// The report is a file the console writes: it is asked for as a file to
// save; the program a download reads is asked for as a file to open.
#include <gtest/gtest.h>

#include <memory>

#include "support/fake_host.h"
#include "rslink/rslink.h"
#include "valdor/console/console.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/memory_panel.h"

namespace {

using namespace valdor;

class SavingHost : public testsupport::FakeHost {
public:
    std::optional<std::string> chooseSaveFile(std::span<const FileFilter> filters,
                                              std::string_view initialName) override {
        ++saveDialogs;
        return chooseFile(filters, initialName);
    }
    int saveDialogs = 0;
};

TEST(SaveChoice, ReportIsSavedProgramIsOpened) {
    MemoryPanel panel;
    SavingHost host;
    auto console = std::make_unique<Console>(panel, host);
    console->initialise();

    struct Case {
        int button;
        int saveDialogs, dialogs;  // counts after the press
    };
    const Case cases[] = {{ctl::AcquireOpeLog, 1, 1}, {ctl::DownLoad, 1, 2}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.button);
        host.answers.push_back(std::nullopt);  // the operator cancels
        console->press(c.button);
        EXPECT_EQ(host.saveDialogs, c.saveDialogs);
        EXPECT_EQ(host.dialogs, c.dialogs);
    }
    EXPECT_EQ(host.lastInitialName, "*.prg");
    console->exit();
}

}  // namespace
