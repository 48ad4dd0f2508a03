// Why a COM Open failed: the fixed line stays as it is, and the line under it
// names the device, the system's reason and the remedy.  Each cause is made
// for real: a missing node, a file that is no terminal, a folder, a port
// another process holds, a device this user may not open.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <netdb.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <thread>

#include "support/fake_host.h"
#include "support/files.h"
#include "support/net_peer.h"
#include "support/pty_peer.h"
#include "support/scoped_env.h"
#include "rslink/fake_sysfs.h"
#include "rslink/rslink.h"
#include "valdor/console/console.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/memory_panel.h"
#include "valdor/console/port_detail.h"

namespace {

using namespace valdor;
using Lines = std::vector<std::string>;

constexpr int kCom3 = 2;  // list position of "COM3"

bool startsWith(const std::string &s, const std::string &prefix) { return s.rfind(prefix, 0) == 0; }

// A child process that opens `path` and claims it as the driver does, until
// killed.
class Holder {
public:
    explicit Holder(const std::string &path) {
        int ready[2];
        if (pipe(ready) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
            const char ok = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? '1' : '0';
            if (::write(ready[1], &ok, 1) != 1) _exit(1);
            pause();
            _exit(0);
        }
        char ok = 0;
        held_ = ::read(ready[0], &ok, 1) == 1 && ok == '1';
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~Holder() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool held() const { return held_; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    bool held_ = false;
};

class OpenErrors : public ::testing::Test {
protected:
    void SetUp() override {
        console = std::make_unique<Console>(panel, host);
        console->initialise();
    }
    void TearDown() override {
        console.reset();
        RSClose();
        ::unsetenv("RSLINK_COM3");
    }

    // COM Open of COM3 mapped to `path`: the lines it added.
    Lines openOn(const std::string &path, bool opens = false) {
        ::setenv("RSLINK_COM3", path.c_str(), 1);
        panel.clearMessages();
        panel.setSelection(ctl::ComPort, kCom3);
        console->press(ctl::ComOpen);
        EXPECT_EQ(console->portOpen(), opens);
        return panel.messages();
    }

    MemoryPanel panel;
    testsupport::FakeHost host;
    std::unique_ptr<Console> console;
};

TEST_F(OpenErrors, EachCauseIsNamedUnderTheFixedLine) {
    const testsupport::TempDir temp;
    const std::string dir = temp.path().string();
    struct Case {
        std::string path, expected;
        bool exact;  // else a prefix: the remedy depends on the machine
    };
    const std::vector<Case> cases = {
        {"/dev/null", "cannot open /dev/null: not a serial device", true},
        {dir, "cannot open " + dir + ": Is a directory", true},
        {dir + "/ttyUSB9", "cannot open " + dir + "/ttyUSB9: No such file or directory (", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        const Lines lines = openOn(c.path);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], "COM Open error");
        if (c.exact) EXPECT_EQ(lines[1], c.expected);
        else EXPECT_TRUE(startsWith(lines[1], c.expected)) << lines[1];
    }
}

TEST_F(OpenErrors, NetworkPortsSayWhatFailedAndWhatToTry) {
    const std::string refusing = [] {
        testsupport::NetPeer gone;
        return gone.url("tcp");
    }();
    EXPECT_EQ(openOn(refusing), (Lines{"COM Open error", "cannot open " + refusing +
                                                             ": Connection refused (is the server running and "
                                                             "serving this port?)"}));
    EXPECT_EQ(openOn("rfc2217://[::1]"),
              (Lines{"COM Open error", "cannot open rfc2217://[::1]: the port is missing (write tcp://HOST:PORT or "
                                       "rfc2217://HOST:PORT)"}));
    testsupport::NetPeer busy;
    std::thread server([&] {
        if (!busy.accept()) return;
        busy.send(testsupport::hex("50 6F 72 74 20 61 6C 72 65 61 64 79 20 69 6E 20 75 73 65 0D 0A"));
        busy.close();
    });
    const Lines lines = openOn(busy.url("tcp"));
    server.join();
    EXPECT_EQ(lines, (Lines{"COM Open error", "cannot open " + busy.url("tcp") +
                                                  ": the server closed the connection (Port already in use)"}));
    // The failures no loopback server can make.
    EXPECT_EQ(networkFailureDetail("tcp://10.0.0.7:4001", ETIMEDOUT, "Connection timed out"),
              "cannot open tcp://10.0.0.7:4001: Connection timed out (is 10.0.0.7 reachable?)");
    EXPECT_EQ(networkFailureDetail("tcp://unit7:4001", EAI_NONAME, "unit7: Name or service not known"),
              "cannot open tcp://unit7:4001: unit7: Name or service not known (check the name)");
    EXPECT_EQ(networkFailureDetail("rfc2217://unit7:4001", EPROTONOSUPPORT, "the server does not speak RFC 2217"),
              "cannot open rfc2217://unit7:4001: the server does not speak RFC 2217 (try tcp://)");
}

TEST_F(OpenErrors, ARefusedSettingFollowsTheCompletedLine) {
    testsupport::NetPeer server;
    server.telnet = true;
    std::thread serve([&] {
        if (!server.accept() || !server.waitForCommand("FF FD 00")) return;
        server.sendRaw(testsupport::hex("FF FD 2C"));
        if (!server.waitForCommand("FF FA 2C 0C 03 FF F0")) return;
        server.sendRaw(testsupport::hex("FF FA 2C 65 00 00 25 80 FF F0 FF FA 2C 66 08 FF F0 FF FA 2C 67 01 FF F0 "
                                        "FF FA 2C 68 02 FF F0"));
    });
    const Lines lines = openOn(server.url("rfc2217"), true);
    serve.join();
    EXPECT_EQ(lines, (Lines{"COM OPEN Completed.", "line setting refused by " + server.url("rfc2217") +
                                                       ": parity NONE, not EVEN; stop bits 2, not 1"}));
    console->press(ctl::ComClose);
}

// Exit while COM Open waits for a server: the open is cut short, and the
// console ends as soon as it has returned.
TEST_F(OpenErrors, ExitCutsAConnectingOpenShort) {
    testsupport::NetPeer silent;  // takes the connection, never answers
    silent.telnet = true;
    bool lockedWhileConnecting = false;
    host.whileResponsive = [&] {
        ASSERT_TRUE(silent.accept());
        lockedWhileConnecting = !panel.enabled(ctl::ComOpen) && !panel.enabled(ctl::ComPort) &&
                                panel.enabled(ctl::Exit);
        console->exit();
        EXPECT_FALSE(console->exited()) << "not before the open has returned";
    };
    const Lines lines = openOn(silent.url("rfc2217"));
    EXPECT_TRUE(lockedWhileConnecting);
    EXPECT_TRUE(console->exited());
    EXPECT_EQ(host.closes, 1);
    EXPECT_EQ(lines, (Lines{"*** Test END ***"}));
    RS_OPEN_INFO info{};
    ASSERT_EQ(RSOpenInfo(&info), 0);
    EXPECT_EQ(info.error, ECANCELED);
}

TEST_F(OpenErrors, PortInUseNamesItsHolder) {
    testsupport::PtyPeer pty;
    auto holder = std::make_unique<Holder>(pty.path());
    ASSERT_TRUE(holder->held());
    const Lines lines = openOn(pty.path());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "COM Open error");
    EXPECT_TRUE(startsWith(lines[1], "cannot open " + pty.path() + ": in use (held by " +
                                         std::to_string(holder->pid()) + " ("))
        << lines[1];
    // Once the holder is gone the same port opens.
    holder.reset();
    const Lines after = openOn(pty.path(), true);
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after.back(), "COM OPEN Completed.");
    console->press(ctl::ComClose);
}

TEST_F(OpenErrors, PermissionDenialPointsToTheDevicesGroup) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to become an unprivileged user";
    testsupport::PtyPeer pty;
    ASSERT_EQ(::chmod(pty.path().c_str(), 0660), 0);
    struct stat st{};
    ASSERT_EQ(::stat(pty.path().c_str(), &st), 0);
    const group *g = getgrgid(st.st_gid);
    const std::string groupName = g && st.st_gid != 0 ? g->gr_name : "dialout";
    ::setenv("RSLINK_COM3", pty.path().c_str(), 1);

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // nobody: outside the device's group.
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        const int result = RSOpen(0, 3, 9600, 8, 2, 0);
        const std::string line =
            std::to_string(result) + "|" + lastOpenDetail(result).value_or("(none)");
        if (::write(out[1], line.data(), line.size()) < 0) _exit(4);
        _exit(0);
    }
    ::close(out[1]);
    std::string got;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) got.append(buffer, size_t(n));
    ::close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(got, "-4|cannot open " + pty.path() + ": Permission denied (add the user to the " +
                       groupName + " group: sudo usermod -aG " + groupName +
                       " $USER, then log in again)");
}

TEST(OpenDetail, MissingDeviceListsThePortsPresent) {
    rslinktest::FakeSystem sys;
    const std::string missing = sys.dev("ttyUSB1");
    EXPECT_EQ(openFailureDetail(missing, ENOENT, sys.roots),
              "cannot open " + missing + ": No such file or directory (no serial port is present; "
                                         "see valdor --list-ports)");
    sys.addUsbSerial("ttyUSB0", {}, "", "", "16", "1-2");
    sys.addTtyS("ttyS0", 4);
    EXPECT_EQ(openFailureDetail(missing, ENOENT, sys.roots),
              "cannot open " + missing + ": No such file or directory (present ports: " +
                  sys.dev("ttyS0") + ", " + sys.dev("ttyUSB0") + ")");
    // No remedy to give: no parenthesis.
    EXPECT_EQ(openFailureDetail("/dev/ttyS0", EIO, sys.roots),
              "cannot open /dev/ttyS0: Input/output error");
}

// The one export beside the five: what the last RSOpen found.
TEST(OpenDetail, RSOpenInfoTellsTheLastOpenOnly) {
    RS_OPEN_INFO info{};
    EXPECT_EQ(RSOpenInfo(nullptr), RS_ERR_NO_INFO);
    ASSERT_EQ(RSOpen(0, 3, 9601, 8, 2, 0), RS_ERR_PARAMETER);  // stops before any device
    RSClose();
    EXPECT_EQ(RSOpenInfo(&info), RS_ERR_NO_INFO);

    ::setenv("RSLINK_COM3", "/nonexistent/ttyX", 1);
    ASSERT_EQ(RSOpen(0, 3, 9600, 8, 2, 0), RS_ERR_PORT);
    RSClose();
    ASSERT_EQ(RSOpenInfo(&info), 0);
    EXPECT_STREQ(info.path, "/nonexistent/ttyX");
    EXPECT_EQ(info.error, ENOENT);

    testsupport::PtyPeer pty;
    pty.mapCom(3);
    const unsigned long me = RSQueueCreate();
    ASSERT_EQ(RSOpen(me, 3, 9600, 8, 2, 0), 0);
    ASSERT_EQ(RSOpenInfo(&info), 0);
    EXPECT_EQ(std::string(info.path), pty.path());
    EXPECT_EQ(info.error, 0);
    EXPECT_EQ(info.latency, RS_LATENCY_UNCHANGED) << "a pty is no USB adapter";
    EXPECT_STREQ(info.note, "");
    RSClose();
    RSQueueDestroy();
    ::unsetenv("RSLINK_COM3");
}

// What the window says COM n is, for each kind of device it may reach.
TEST(PortDescription, SaysTheDeviceTheRuleAndWhatItIs) {
    rslinktest::FakeSystem sys;
    testsupport::PtyPeer pty;
    sys.addUsbSerial("ttyUSB0", {"abcd", "0042", "Maker", "Cable", "S1"}, "usb-cable", pty.path());
    sys.addTtyS("ttyS0", 4);
    sys.addTtyS("ttyS1", 0);
    // The fake ttyS nodes stand on real character devices.
    std::filesystem::remove(sys.dev("ttyS0"));
    std::filesystem::create_symlink(pty.path(), sys.dev("ttyS0"));
    std::filesystem::remove(sys.dev("ttyS1"));
    std::filesystem::create_symlink(pty.path(), sys.dev("ttyS1"));
    const testsupport::ScopedEnv config("XDG_CONFIG_HOME", (sys.root() + "/config").c_str());
    // The library maps the ports by the real sysfs: the adapter comes in
    // through the ports file.
    const std::string portsFile = sys.root() + "/config/valdor/ports";
    std::filesystem::create_directories(sys.root() + "/config/valdor");
    std::ofstream(portsFile) << "COM1=" << sys.dev("ttyUSB0") << "\n";

    struct Case {
        int com;
        std::string mappedTo, expected;
    };
    const std::vector<Case> cases = {
        {1, "", "COM1 opens " + sys.dev("ttyUSB0") + " (" + portsFile +
                    "): USB serial adapter abcd:0042 Maker Cable, serial S1"},
        {2, sys.dev("serial/by-id/usb-cable"),
         "COM2 opens " + sys.dev("serial/by-id/usb-cable") +
             " (RSLINK_COM2): USB serial adapter abcd:0042 Maker Cable, serial S1"},
        {3, sys.dev("ttyS0"), "COM3 opens " + sys.dev("ttyS0") + " (RSLINK_COM3): serial port"},
        {4, sys.dev("ttyS1"), "COM4 opens " + sys.dev("ttyS1") + " (RSLINK_COM4): no UART behind it"},
        {5, pty.path(), "COM5 opens " + pty.path() + " (RSLINK_COM5): pseudo-terminal"},
        {6, "/dev/null", "COM6 opens /dev/null (RSLINK_COM6): character device"},
        {7, sys.dev("ttyUSB5"), "COM7 opens " + sys.dev("ttyUSB5") + " (RSLINK_COM7): not present"},
        {8, "tcp://unit:0", "COM8 opens tcp://unit:0 (RSLINK_COM8): not a valid network port name: port 0 is out of range (1 to 65535)"},
        {9, "", ""},
    };
    for (const auto &c : cases) {
        const testsupport::ScopedEnv mapped("RSLINK_COM" + std::to_string(c.com),
                                            c.mappedTo.empty() ? nullptr : c.mappedTo.c_str());
        EXPECT_EQ(comPortDescription(c.com, sys.roots), c.expected);
    }
}

}  // namespace
