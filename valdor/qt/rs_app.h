// CRsApp: the application object.  Runs the console window modally; the
// program ends when it closes.
#pragma once

namespace valdor::qt {

class CRsApp {
public:
    // Creates the application, runs the window, returns the exit status.
    int run(int &argc, char **argv);

    // Whether a window system can be reached at all (Qt would abort
    // without one).
    static bool displayAvailable();
};

}  // namespace valdor::qt
