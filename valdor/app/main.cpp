// valdor: the maintenance and test console of the bill dispenser unit.
//
//   valdor                 the console window
//   valdor --script FILE   runs FILE without a window ("-": standard input)
//   valdor --help          usage
#include <cstdio>
#include <cstring>
#include <string>

#include "valdor/headless/script_runner.h"

#ifdef VALDOR_WITH_QT
#include "valdor/console/qt/rs_app.h"
#endif

namespace {

constexpr char kUsage[] =
    "usage: valdor [--script FILE] [--help]\n"
    "\n"
    "  (no option)     open the console window\n"
    "  --script FILE   run the console without a window, statement by statement from FILE\n"
    "  --help          show this text\n"
    "\n"
    "COM n opens the device named by the environment variable RSLINK_COM<n>, or /dev/ttyS<n-1>.\n";

// The headless front end: the same console on an in-memory panel.
int runScript(const std::string &path) { return valdor::runScriptFile(path); }

int runWindow(int &argc, char **argv) {
#ifdef VALDOR_WITH_QT
    if (!valdor::qt::CRsApp::displayAvailable()) {
        std::fprintf(stderr,
                     "valdor: no display: neither DISPLAY nor WAYLAND_DISPLAY is set, so the console "
                     "window cannot open.\n"
                     "        Run it on a desktop, under xvfb-run, or without a window with --script FILE.\n");
        return 1;
    }
    valdor::qt::CRsApp app;
    return app.run(argc, argv);
#else
    (void)argc;
    (void)argv;
    std::fprintf(stderr, "valdor: built without Qt: no console window; use --script FILE\n");
    return 1;
#endif
}

}  // namespace

int main(int argc, char **argv) {
    if (argc >= 2) {
        std::string option = argv[1];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (option == "--script") {
            if (argc != 3) {
                std::fputs("valdor: --script needs exactly one FILE\n", stderr);
                std::fputs(kUsage, stderr);
                return 2;
            }
            return runScript(argv[2]);
        }
        std::fprintf(stderr, "valdor: unknown option '%s'\n", argv[1]);
        std::fputs(kUsage, stderr);
        return 2;
    }
    return runWindow(argc, argv);
}
