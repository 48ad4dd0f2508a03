// valdor: the maintenance and test console of the bill dispenser unit.
//
//   valdor                 the console window
//   valdor --script FILE   runs FILE without a window ("-": standard input)
//   valdor --list-ports    the serial devices present, and what COM1..COM8 open
//   valdor --help          usage
//   valdor --decode FILE   prints a capture or saved trace decoded
//   valdor --export-pcap CAPTURE OUT.pcap
//   valdor --monitor --tap DEV DEV | --relay DEV DEV [--capture FILE]
//   valdor --run RECIPE --unit [NAME=]PORT ...   one recipe on many units
//   --capture FILE and --log FILE go before any of the above.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "valdor/console/capture_control.h"
#include "valdor/console/port_detail.h"
#include "valdor/panel/session_log.h"
#include "rslink/platform/serial_devices.h"
#include "valdor/headless/script_runner.h"
#include "valdor/monitor/monitor_run.h"
#include "valdor/production/production_run.h"
#include "valdor/records/decode.h"
#include "valdor/records/pcap_export.h"

#ifdef VALDOR_WITH_QT
#include "valdor/qt/rs_app.h"
#endif

namespace {

constexpr char kUsage[] =
    "usage: valdor [--capture FILE] [--log FILE] [--script FILE]\n"
    "       valdor --list-ports | --decode FILE | --export-pcap CAPTURE OUT.pcap | --help\n"
    "       valdor --monitor --tap DEV_HOST_TO_UNIT DEV_UNIT_TO_HOST [--capture FILE]\n"
    "       valdor --monitor --relay HOST_SIDE_DEV UNIT_SIDE_DEV [--capture FILE]\n"
    "       valdor --run RECIPE --unit [NAME=]PORT [--unit ...] [--units FILE] [--out DIR]\n"
    "              [--station NAME] [--unit-timeout SECONDS] [--retest DIR]\n"
    "\n"
    "  (no option)     open the console window\n"
    "  --script FILE   run the same console without a window, one statement per line from\n"
    "                  FILE (- for standard input); no display is needed\n"
    "  --capture FILE  capture every byte on the line, both directions, to FILE\n"
    "  --log FILE      append every message line with date and time to FILE\n"
    "  --decode FILE   print a capture, or a saved message box with SEND/RECV trace lines,\n"
    "                  frame by frame: requests by name, responses field by field\n"
    "  --export-pcap CAPTURE OUT.pcap\n"
    "                  convert a capture for Wireshark, read with the dissector rslink.lua\n"
    "                  (installed: /usr/share/valdor/; built: build/tools/wireshark/)\n"
    "  --list-ports    list the serial devices present, one a line: the device, its\n"
    "                  /dev/serial/by-id name, and for a USB adapter vendor:product ids,\n"
    "                  maker, product and serial number; then what COM1 to COM8 open, by\n"
    "                  which rule, and what that is\n"
    "  --monitor       watch a live line between a host and the unit and print every event,\n"
    "                  decoded, one a line (time in microseconds, direction, what it is):\n"
    "    --tap DEV_HOST_TO_UNIT DEV_UNIT_TO_HOST\n"
    "                  two receive-only inputs on a Y cable, one a direction; never writes\n"
    "    --relay HOST_SIDE_DEV UNIT_SIDE_DEV\n"
    "                  in the line: forwards every byte unchanged both ways; HOST_SIDE_DEV -\n"
    "                  creates a pty and prints its path first, for the host program to open;\n"
    "                  either side may be tcp://HOST:PORT or rfc2217://HOST:PORT\n"
    "                  (--capture FILE writes the watched line as a capture; Ctrl-C ends)\n"
    "  --run RECIPE    a production run: RECIPE (script statements with step, expect, serial and\n"
    "                  teardown) on every unit at once, one process a unit, each unit's PORT as\n"
    "                  its COM1; verdicts and records under DIR (docs/production-runs.md); exit\n"
    "                  status 0 every unit passed, 1 one did not or Ctrl-C, 2 refused\n"
    "    --unit [NAME=]PORT\n"
    "                  a unit: PORT is COM<n>, a device path or an address; NAME (letters,\n"
    "                  digits, - _ .) defaults to PORT's last path component\n"
    "    --units FILE  units from FILE, one NAME PORT a line (# comments)\n"
    "    --out DIR     the run's folder, new or empty (default runs/YYYYMMDD-HHMMSS, UTC)\n"
    "    --station NAME\n"
    "                  the station the records name (default: the host name)\n"
    "    --unit-timeout SECONDS\n"
    "                  a unit still running after SECONDS (default 600) is killed: TIMEOUT\n"
    "    --retest DIR  run again, into a new folder, the units of the run DIR that did not\n"
    "                  pass; --unit NAME=PORT moves one of them to a new port\n"
    "  --help          show this text\n"
    "\n"
    "COM n opens, in this order: the device named by the environment variable RSLINK_COM<n>;\n"
    "the device of the line COM<n>=PATH in the ports file $XDG_CONFIG_HOME/valdor/ports\n"
    "(~/.config/valdor/ports); for COM1 only, the one USB serial adapter when exactly one is\n"
    "present; otherwise /dev/ttyS<n-1>.  Where a device goes, a network port may be named:\n"
    "tcp://HOST:PORT (raw TCP; the server sets the line) or rfc2217://HOST:PORT (RFC 2217; the\n"
    "line is set from here), HOST an IPv4 address, [IPv6] or a name.  RSLINK_CAPTURE=FILE\n"
    "captures the line of any program that uses librslink.  RSLINK_DEBUG=1 makes the driver\n"
    "print what it does on standard error.\n"
    "\n"
    "Script statements (# starts a comment; \"text\" in double quotes, \\\" and \\\\ inside):\n"
    "  select CONTROL POSITION | \"ITEM TEXT\" | none   choose an item of a list (1100-1143)\n"
    "  check CONTROL on|off                        a check box or toggle (1240-1282, 1351)\n"
    "  radio CONTROL                               a radio button (1160-1171)\n"
    "  type 1236 \"TEXT\"                            the text field (40 characters at most)\n"
    "  press CONTROL | \"CAPTION\"                   a button, as a click does\n"
    "  choose \"PATH\" | cancel                      the answer to the next file dialog\n"
    "  wait responses N [SECONDS]                  N frames handled since the previous wait\n"
    "  wait message \"TEXT\" [SECONDS]               a message line equal to TEXT since then\n"
    "  wait idle SECONDS                           no message line for SECONDS\n"
    "  show response | device | enabled            print fields, indicators or enabled buttons\n"
    "  capture \"FILE\" | off                        capture the line to FILE from now on, or stop\n"
    "Waits time out after 10 s unless SECONDS is given.  Message lines go to standard output as\n"
    "they come; show prints @NNNN<TAB>TEXT (or on); errors go to standard error.  At the end the\n"
    "console shuts down as Exit does.\n"
    "Exit status: 0 the script ran to its end, 1 a wait timed out, 2 a script error (unknown\n"
    "statement or control, bad argument, disabled control, a script that cannot be read,\n"
    "standard output closed).\n"
    "Examples: docs/examples/*.vds\n";

// One line a device (a note on standard error when there is none), then
// what COM1 to COM8 open and by which rule, as the library maps them: a
// network port or a mapping to an absent device shows there too.
int listPorts() {
    const auto devices = rslink::platform::listSerialDevices();
    for (const auto &device : devices)
        std::printf("%s\n", rslink::platform::describeDevice(device).c_str());
    if (devices.empty()) std::fputs("valdor: no serial device found\n", stderr);
    std::fflush(stderr);
    for (int com = 1; com <= 8; ++com) std::printf("%s\n", valdor::comPortDescription(com).c_str());
    return 0;
}

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

// --capture FILE and --log FILE, taken off the front of the command line.
// 0 when all went well, else the exit status.
int takeRecordOptions(int &argc, char **argv) {
    while (argc >= 3) {
        const std::string option = argv[1];
        const std::string file = argv[2];
        if (option == "--capture") {
            if (const auto started = valdor::startCapture(file); !started) {
                std::fprintf(stderr, "valdor: cannot create the capture %s: %s\n", file.c_str(),
                             std::strerror(started.failure().error));
                return 2;
            }
        } else if (option == "--log") {
            if (const auto opened = valdor::sessionLog().open(file); !opened) {
                std::fprintf(stderr, "valdor: cannot open the log %s: %s\n", file.c_str(),
                             std::strerror(opened.failure().error));
                return 2;
            }
        } else {
            return 0;
        }
        for (int i = 1; i + 2 <= argc; ++i) argv[i] = argv[i + 2];
        argc -= 2;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--capture") == 0 || std::strcmp(argv[1], "--log") == 0)) {
        std::fprintf(stderr, "valdor: %s needs a FILE\n", argv[1]);
        return 2;
    }
    return 0;
}

// valdor --monitor ...: its words, --capture among them, are its own.
int runMonitor(int argc, char **argv) {
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--monitor") != 0) words.emplace_back(argv[i]);
    const auto options = valdor::monitor::parseMonitorOptions(words);
    if (!options) {
        std::fprintf(stderr, "valdor: %s\n", options.failure().why.c_str());
        std::fputs(kUsage, stderr);
        return 2;
    }
    return valdor::monitor::runMonitor(*options, stdout, stderr);
}

bool asksFor(const char *mode, int argc, char **argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], mode) == 0) return true;
    return false;
}

}  // namespace

int main(int argc, char **argv) {
    if (asksFor("--monitor", argc, argv)) return runMonitor(argc, argv);
    // A run's options, --capture and --log among them, are its own.
    if (asksFor("--run", argc, argv)) return valdor::runProduction(std::vector<std::string>(argv + 1, argv + argc));
    if (argc >= 2 && std::strcmp(argv[1], "--decode") == 0) {
        if (argc != 3) {
            std::fputs("valdor: --decode needs exactly one FILE\n", stderr);
            return 2;
        }
        return valdor::records::decodeFile(argv[2], stdout, stderr);
    }
    if (argc >= 2 && std::strcmp(argv[1], "--export-pcap") == 0) {
        if (argc != 4) {
            std::fputs("valdor: --export-pcap needs CAPTURE and OUT.pcap\n", stderr);
            return 2;
        }
        return valdor::records::exportPcapFile(argv[2], argv[3], stderr);
    }
    if (const int status = takeRecordOptions(argc, argv)) return status;
    if (argc >= 2) {
        std::string option = argv[1];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (option == "--list-ports") {
            if (argc != 2) {
                std::fputs("valdor: --list-ports takes no argument\n", stderr);
                return 2;
            }
            return listPorts();
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
