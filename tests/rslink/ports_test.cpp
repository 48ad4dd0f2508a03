// Serial adapters on a real machine, against a sysfs and /dev of our own:
// which devices are listed, which device COM n is, and low latency on USB
// adapters.  The low-latency flag of a real USB serial driver, parity and
// the modem lines can only be checked on hardware: a pty refuses them.  Last,
// the library's export list.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>

#include "fake_sysfs.h"
#include "support/pty_peer.h"
#include "rslink/platform/low_latency.h"
#include "rslink/platform/port_map.h"
#include "rslink/platform/serial_port.h"
#include "rslink/rslink.h"

namespace {

using namespace rslink::platform;
using rslinktest::FakeSystem;
using rslinktest::UsbIds;

// Sets or clears environment variables for one test and puts them back.
class EnvGuard {
public:
    void set(const std::string &name, const std::optional<std::string> &value) {
        if (!saved_.count(name)) {
            const char *old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) ::setenv(name.c_str(), value->c_str(), 1);
        else ::unsetenv(name.c_str());
    }
    ~EnvGuard() {
        for (auto &[name, value] : saved_) {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// ---- port discovery ----------------------------------------------------------

TEST(PortDiscovery, ListsDevicesWithHardwareBehindThemOnly) {
    FakeSystem sys;
    sys.addUsbSerial("ttyUSB0", {}, "usb-Example_Serial_Cable_SN0001-if00-port0");
    sys.addUsbAcm("ttyACM0", {"fff1", "0002", "Other", "Modem", "M77"});
    sys.addTtyS("ttyS0", 4);  // a 16550A
    sys.addTtyS("ttyS1", 0);  // no UART
    sys.addVirtual("tty1");

    struct Expected {
        std::string name, byId, vendor, product, maker, serial;
        bool usb;
    };
    const std::vector<Expected> expected = {
        {"ttyACM0", "", "fff1", "0002", "Other", "M77", true},
        {"ttyS0", "", "", "", "", "", false},
        {"ttyUSB0", sys.dev("serial/by-id/usb-Example_Serial_Cable_SN0001-if00-port0"), "fff0",
         "0001", "Example", "SN0001", true},
    };
    const auto found = listSerialDevices(sys.roots);
    ASSERT_EQ(found.size(), expected.size());
    for (size_t i = 0; i < found.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(found[i].name, expected[i].name);
        EXPECT_EQ(found[i].device, sys.dev(expected[i].name));
        EXPECT_EQ(found[i].byId, expected[i].byId);
        EXPECT_EQ(found[i].usb, expected[i].usb);
        EXPECT_EQ(found[i].vendorId, expected[i].vendor);
        EXPECT_EQ(found[i].productId, expected[i].product);
        EXPECT_EQ(found[i].manufacturer, expected[i].maker);
        EXPECT_EQ(found[i].serial, expected[i].serial);
    }
    EXPECT_EQ(listUsbAdapters(sys.roots).size(), 2u);
}

TEST(PortDiscovery, EmptyOrMissingSysfsListsNothing) {
    FakeSystem sys;
    EXPECT_TRUE(listSerialDevices(sys.roots).empty());
    SystemRoots nowhere{"/nonexistent/sys", "/nonexistent/dev", "/nonexistent/proc"};
    EXPECT_TRUE(listSerialDevices(nowhere).empty());
}

TEST(PortDiscovery, TtyNameFollowsLinksToTheDevice) {
    FakeSystem sys;
    sys.addUsbSerial("ttyUSB1", {}, "usb-stable-name");
    std::filesystem::create_symlink(sys.dev("serial/by-id/usb-stable-name"),
                                    sys.root() + "/my-adapter");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {sys.dev("ttyUSB1"), "ttyUSB1"},
        {sys.dev("serial/by-id/usb-stable-name"), "ttyUSB1"},
        {sys.root() + "/my-adapter", "ttyUSB1"},  // a link to a link
        {"/dev/null", ""},
        {sys.dev("ttyUSB7"), ""},  // not present
    };
    for (const auto &[path, name] : cases) EXPECT_EQ(ttyNameOf(path, sys.roots), name) << path;
}

TEST(PortDiscovery, HolderOfADeviceIsFoundByProcessId) {
    testsupport::PtyPeer peer;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(peer.path().c_str(), O_RDWR | O_NOCTTY);
        char one = fd >= 0 ? '1' : '0';
        if (::write(ready[1], &one, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    char got = 0;
    ASSERT_EQ(::read(ready[0], &got, 1), 1);
    EXPECT_EQ(got, '1');
    const auto holders = holdersOf(peer.path());
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_EQ(holders.size(), 1u) << "this process holds it too, and is left out";
    EXPECT_EQ(holders[0].rfind(std::to_string(child) + " (", 0), 0u) << holders[0];
    EXPECT_TRUE(holdersOf("/nonexistent/tty").empty());
}

// ---- mapping -----------------------------------------------------------------

struct MappingCase {
    const char *what;
    int com;
    const char *environment;  // RSLINK_COM<n>, or null
    const char *portsFile;    // contents, or null for no file
    int usbAdapters;
    const char *expected;     // the path; "USB" for the adapter's device
    MappingSource source;
};

std::ostream &operator<<(std::ostream &out, const MappingCase &c) { return out << c.what; }

class Mapping : public ::testing::TestWithParam<MappingCase> {};

TEST_P(Mapping, FollowsTheOrderOfPrecedence) {
    const MappingCase &c = GetParam();
    FakeSystem sys;
    for (int i = 0; i < c.usbAdapters; ++i)
        sys.addUsbSerial("ttyUSB" + std::to_string(i), {}, "", "", "16", "1-" + std::to_string(i + 2));
    EnvGuard env;
    const std::string config = sys.root() + "/config";
    env.set("XDG_CONFIG_HOME", config);
    env.set("RSLINK_COM" + std::to_string(c.com), c.environment ? std::optional<std::string>(c.environment) : std::nullopt);
    if (c.portsFile) {
        std::filesystem::create_directories(config + "/valdor");
        std::ofstream(config + "/valdor/ports") << c.portsFile;
    }
    const ComMapping m = mapComPort(c.com, sys.roots);
    const std::string expected = std::string(c.expected) == "USB" ? sys.dev("ttyUSB0") : c.expected;
    EXPECT_EQ(m.path, expected);
    EXPECT_EQ(m.source, c.source);

    // The export says the same, where the answer does not hang on the
    // adapters of the machine the test runs on.
    if (c.com == 1 && c.source != MappingSource::Environment && c.source != MappingSource::PortsFile) return;
    RS_PORT_MAPPING exported{};
    ASSERT_EQ(RSPortMapping(c.com, &exported), RS_OK);
    EXPECT_EQ(exported.path, expected);
    EXPECT_EQ(exported.rule, static_cast<int32_t>(c.source));
    const std::string origin = c.source == MappingSource::Environment ? "RSLINK_COM" + std::to_string(c.com)
                               : c.source == MappingSource::PortsFile ? config + "/valdor/ports"
                                                                      : "default";
    EXPECT_EQ(exported.origin, origin);
}

TEST(MappingExport, RefusesAPortOutsideTheEightAndANullRecord) {
    RS_PORT_MAPPING m{};
    EXPECT_EQ(RSPortMapping(0, &m), RS_ERR_PORT);
    EXPECT_EQ(RSPortMapping(9, &m), RS_ERR_PORT);
    EXPECT_EQ(RSPortMapping(1, nullptr), RS_ERR_NO_INFO);
    // A path longer than the record is cut, never run over.
    EnvGuard env;
    env.set("RSLINK_COM2", "/dev/" + std::string(400, 'x'));
    ASSERT_EQ(RSPortMapping(2, &m), RS_OK);
    EXPECT_EQ(std::string(m.path), "/dev/" + std::string(sizeof m.path - 6, 'x'));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Mapping,
    ::testing::Values(
        MappingCase{"environment first", 1, "/dev/ttyACM5", "COM1=/dev/ttyUSB9\n", 1,
                    "/dev/ttyACM5", MappingSource::Environment},
        MappingCase{"ports file before the adapter", 1, nullptr, "COM1=/dev/serial/by-id/usb-a\n", 1,
                    "/dev/serial/by-id/usb-a", MappingSource::PortsFile},
        MappingCase{"the only adapter", 1, nullptr, nullptr, 1, "USB", MappingSource::OnlyUsbAdapter},
        MappingCase{"the only adapter, file silent on COM1", 1, nullptr, "COM2=/dev/ttyUSB4\n", 1,
                    "USB", MappingSource::OnlyUsbAdapter},
        MappingCase{"two adapters: no guess", 1, nullptr, nullptr, 2, "/dev/ttyS0",
                    MappingSource::Default},
        MappingCase{"no adapter", 1, nullptr, nullptr, 0, "/dev/ttyS0", MappingSource::Default},
        MappingCase{"the adapter is for COM1 only", 2, nullptr, nullptr, 1, "/dev/ttyS1",
                    MappingSource::Default},
        MappingCase{"comments, spaces, first line counts", 3, nullptr,
                    "# my bench\n\n  COM3 = /dev/ttyUSB3  \nCOM3=/dev/ttyUSB8\n", 0, "/dev/ttyUSB3",
                    MappingSource::PortsFile},
        MappingCase{"COM1 is not COM12's prefix", 1, nullptr, "COM12=/dev/x\ncom1=/dev/y\nCOM1=\n",
                    0, "/dev/ttyS0", MappingSource::Default},
        MappingCase{"empty variable counts as unset", 8, "", "COM8=/dev/ttyUSB2\n", 0,
                    "/dev/ttyUSB2", MappingSource::PortsFile}),
    [](const auto &info) {
        std::string name = info.param.what;
        for (char &ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

TEST(MappingFile, ConfigHomeFallsBackToHome) {
    EnvGuard env;
    env.set("HOME", "/home/tech");
    env.set("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(portsFilePath(), "/home/tech/.config/valdor/ports");
    env.set("XDG_CONFIG_HOME", "relative/ignored");
    EXPECT_EQ(portsFilePath(), "/home/tech/.config/valdor/ports");
    env.set("XDG_CONFIG_HOME", "/etc/xdg-user");
    EXPECT_EQ(portsFilePath(), "/etc/xdg-user/valdor/ports");
    env.set("XDG_CONFIG_HOME", std::nullopt);
    env.set("HOME", std::nullopt);
    EXPECT_EQ(portsFilePath(), "");
}

// ---- latency -----------------------------------------------------------------

struct OpenedNode {
    explicit OpenedNode(const std::string &path)
        : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~OpenedNode() {
        if (fd >= 0) ::close(fd);
    }
    int fd;
};

// A pty for the adapter's node, in a sysfs of our own.
class Latency : public ::testing::Test {
protected:
    // The port, or null with the failure's words in `why`.
    std::unique_ptr<SerialPort> open(const std::string &device) {
        auto opened = SerialPort::open(device, LineSettings{}, sys.roots);
        if (opened) return std::move(*opened);
        why = opened.failure().why;
        return nullptr;
    }
    testsupport::PtyPeer peer;
    FakeSystem sys;
    std::string why;
};

TEST_F(Latency, UsbTimerLoweredAtOpenAndPutBackAtClose) {
    int adapter = 0;
    for (const std::string before : {"16", "1", "250"}) {
        SCOPED_TRACE("latency_timer " + before);
        const std::string name = "ttyUSB" + std::to_string(adapter++);
        sys.addUsbSerial(name, {}, "usb-" + name, peer.path(), before, "1-" + std::to_string(adapter + 1));
        auto port = open(sys.dev("serial/by-id/usb-" + name));
        ASSERT_TRUE(port) << why;
        EXPECT_EQ(port->latency().state(), LowLatency::State::Set);
        EXPECT_EQ(sys.latencyOf(name), "1");
        port->close();
        EXPECT_EQ(sys.latencyOf(name), before);
    }
}

TEST_F(Latency, NotPossibleIsANoteNotAFailure) {
    sys.addUsbSerial("ttyUSB0", {}, "", peer.path(), "");  // no latency_timer; a pty refuses the flag
    auto port = open(sys.dev("ttyUSB0"));
    ASSERT_TRUE(port) << why;
    EXPECT_EQ(port->latency().state(), LowLatency::State::Unavailable);
    EXPECT_NE(port->latency().note().find("no latency_timer"), std::string::npos)
        << port->latency().note();
}

TEST_F(Latency, ReadOnlyTimerIsSaidAndLeftAlone) {
    sys.addUsbSerial("ttyUSB0", {}, "", peer.path(), "");
    // A file not even root may write: the attribute of a driver that keeps
    // its timer fixed.
    std::filesystem::create_symlink("/proc/version",
                                    sys.sys("class/tty/ttyUSB0/device/latency_timer"));
    OpenedNode node(sys.dev("ttyUSB0"));
    ASSERT_GE(node.fd, 0);
    LowLatency l = LowLatency::apply(node.fd, sys.dev("ttyUSB0"), sys.roots);
    EXPECT_EQ(l.state(), LowLatency::State::Unavailable);
    EXPECT_NE(l.note().find("not writable"), std::string::npos) << l.note();
    EXPECT_TRUE(l.timerFile().empty());
}

TEST_F(Latency, UartAndPtyAreLeftAsTheyAre) {
    sys.addTtyS("ttyS0", 4);
    const std::string uartTimer = sys.sys("class/tty/ttyS0/device/latency_timer");
    std::ofstream(uartTimer) << "16\n";  // would be lowered if taken for an adapter
    for (const std::string &path : {peer.path(), sys.dev("ttyS0")}) {
        SCOPED_TRACE(path);
        OpenedNode node(peer.path());
        ASSERT_GE(node.fd, 0);
        LowLatency l = LowLatency::apply(node.fd, path, sys.roots);
        EXPECT_EQ(l.state(), LowLatency::State::NotUsb);
        EXPECT_TRUE(l.note().empty());
    }
    EXPECT_EQ(readAttribute(uartTimer), "16");
}

}  // namespace

// ---- the library's exports ---------------------------------------------------

namespace {

// The calls of the line interface, the ones that say what the driver finds
// or does, and the queue calls: nothing else leaves the library.
TEST(Exports, ExactlyTheDeclaredCalls) {
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void *>(&RSOpenInfo), &info), 0);
    const std::string library = info.dli_fname;
    FILE *pipe = popen(("nm -D --defined-only '" + library + "'").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string listing;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) listing.append(buffer, n);
    ASSERT_EQ(pclose(pipe), 0) << listing;
    std::set<std::string> functions;
    std::istringstream lines(listing);
    for (std::string address, kind, name; lines >> address >> kind >> name;)
        if (kind == "T") functions.insert(name.substr(0, name.find('@')));
    const std::set<std::string> expected = {
        "RSOpen",          "RSClose",        "RSSend",         "DTRControl",    "RTSControl",
        "RSBuffersLent",   "RSOpenInfo",     "RSPortMapping",  "RSCapture",      "RSQueueCreate",
        "RSQueueDestroy",  "RSQueueSelf",
        "RSPostMessage",   "RSPostQuit",     "RSGetMessage",   "RSGetMessageTimeout"};
    EXPECT_EQ(functions, expected) << listing;
}

}  // namespace
