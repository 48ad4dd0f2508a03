// What the console's logic needs from its front end besides the controls:
// a file dialog, a way to wait for slow calls without freezing the window,
// and closing the window.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace valdor {

struct FileFilter {
    std::string description;  // e.g. "Download files(*.prg)"
    std::string pattern;      // e.g. "*.prg"
};

class Host {
public:
    virtual ~Host() = default;

    // An open-file dialog; a name that does not exist yet is accepted.
    // Returns the chosen path, or nothing when the operator cancels.
    virtual std::optional<std::string> chooseFile(std::span<const FileFilter> filters,
                                                  std::string_view initialName) = 0;

    // A save dialog for a file the console writes: an existing file is
    // overwritten only after the operator agreed.  Front ends without a
    // dialog take their answer from chooseFile (a script's `choose` is a yes).
    virtual std::optional<std::string> chooseSaveFile(std::span<const FileFilter> filters,
                                                      std::string_view initialName) {
        return chooseFile(filters, initialName);
    }

    // Runs a call that may block for seconds (closing the port, stopping the
    // worker) and returns when it has returned.  A window keeps painting and
    // serving the worker's control updates meanwhile, but takes no input.
    virtual void runBlocking(const std::function<void()> &call) = 0;

    // Runs a call that may take seconds and that the operator may cut short
    // (COM Open connecting to a network port): as runBlocking, but the
    // window also takes input meanwhile, so that a click the console still
    // allows (Exit) runs while the call is in progress.  The console
    // disables what must not run then.  Without a window: in place.
    virtual void runResponsive(const std::function<void()> &call) { call(); }

    // Closes the console window; the program then ends.
    virtual void closeWindow() = 0;
};

}  // namespace valdor
