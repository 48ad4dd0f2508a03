// The same discovery, mapping and latency code against the system's own
// paths (/sys, /dev), with umockdev faking one USB serial adapter: the outer
// test runs this program again under umockdev-run, where the inner test
// checks what a process sees with a real adapter plugged in.  umockdev backs
// /dev/ttyUSB0 with a pty, so the driver's low-latency flag and parity are
// left to hardware.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/shell.h"
#include "rslink/platform/port_map.h"
#include "rslink/platform/serial_devices.h"
#include "rslink/platform/low_latency.h"
#include "rslink/rslink.h"

namespace {

using testsupport::lines;
using testsupport::run;

using namespace rslink::platform;

constexpr const char *kByIdName = "/dev/serial/by-id/usb-Example_Serial_Cable_SN0001-if00-port0";
constexpr const char *kTimer = "/sys/class/tty/ttyUSB0/device/latency_timer";

bool insideTestbed() { return std::getenv("UMOCKDEV_DIR") != nullptr; }


std::string testbed(const std::string &program) {
    return "ASAN_OPTIONS=verify_asan_link_order=0:$ASAN_OPTIONS umockdev-run -d " +
           std::string(SOURCE_DIR) + "/tests/rslink/data/usb-adapter.umockdev -- " + program;
}

class UmockdevAdapter : public ::testing::Test {
protected:
    void SetUp() override {
        std::string ignored;
        if (insideTestbed()) GTEST_SKIP() << "the outer tests start the testbed";
        if (run("command -v umockdev-run >/dev/null", ignored) != 0)
            GTEST_SKIP() << "umockdev-run is missing: scripts/install-deps.sh installs it";
    }
};

// The devices, then what COM1 to COM8 open and by which rule: the adapter
// as the only one, a network port from the environment, the defaults.
TEST_F(UmockdevAdapter, ListPortsShowsTheAdapterWithItsIdentity) {
    std::string out;
    ASSERT_EQ(run(testbed("env -u RSLINK_COM1 XDG_CONFIG_HOME=/nonexistent RSLINK_COM2='rfc2217://[::1]:4001' " +
                          std::string(VALDOR_PATH) + " --list-ports 2>&1"),
                  out),
              0)
        << out;
    // umockdev-run may add its own complaints ("ERROR: uevent_sender_send:
    // ...") as it takes the testbed down; they are not the console's.
    std::vector<std::string> got;
    for (const auto &line : lines(out))
        if (!line.starts_with("ERROR: uevent_sender")) got.push_back(line);
    ASSERT_EQ(got.size(), 9u) << out;
    EXPECT_EQ(got[0], "/dev/ttyUSB0  " + std::string(kByIdName) + "  usb fff0:0001  Example  Serial Cable  serial SN0001");
    EXPECT_EQ(got[1], "COM1 opens /dev/ttyUSB0 (the only USB serial adapter): USB serial adapter fff0:0001 Example "
                      "Serial Cable, serial SN0001");
    EXPECT_EQ(got[2], "COM2 opens rfc2217://[::1]:4001 (RSLINK_COM2): network port, RFC 2217 (the line set from here)");
    EXPECT_EQ(got[8], "COM8 opens /dev/ttyS7 (default): not present");
}

TEST_F(UmockdevAdapter, MappingAndLatencyInsideTheTestbed) {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = 0;
    std::string out;
    const int status =
        run(testbed(std::string(self) + " --gtest_filter='InUmockdev.*' 2>&1"), out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("[  PASSED  ] 2 tests"), std::string::npos) << out;
}

// ---- run only inside the testbed --------------------------------------------

class InUmockdev : public ::testing::Test {
protected:
    void SetUp() override {
        if (!insideTestbed()) GTEST_SKIP() << "runs under umockdev-run only";
        ::unsetenv("RSLINK_COM1");
        ::setenv("XDG_CONFIG_HOME", "/nonexistent/config", 1);
    }
};

TEST_F(InUmockdev, TheOnlyAdapterIsCom1) {
    const auto adapters = listUsbAdapters();
    ASSERT_EQ(adapters.size(), 1u);
    EXPECT_EQ(adapters[0].byId, kByIdName);
    const ComMapping m = mapComPort(1);
    EXPECT_EQ(m.path, "/dev/ttyUSB0");
    EXPECT_EQ(m.source, MappingSource::OnlyUsbAdapter);
    EXPECT_EQ(mapComPort(2).path, "/dev/ttyS1");
    // The library's export, which the console shows, follows the same rule.
    RS_PORT_MAPPING exported{};
    ASSERT_EQ(RSPortMapping(1, &exported), RS_OK);
    EXPECT_STREQ(exported.path, "/dev/ttyUSB0");
    EXPECT_EQ(exported.rule, RS_MAP_ONLY_USB_ADAPTER);
    EXPECT_STREQ(exported.origin, "the only USB serial adapter");
}

// umockdev answers the terminal ioctls of a whole SerialPort::open (the
// exclusive claim, the line settings) with ENOTTY unless given a recording,
// so the latency step is run on its own here; the fake-sysfs tests run it
// inside a full open.
TEST_F(InUmockdev, ByIdNameGetsTheTimerLowAndRestoresIt) {
    ASSERT_EQ(readAttribute(kTimer), "16");
    const int fd = ::open(kByIdName, O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    LowLatency latency = LowLatency::apply(fd, kByIdName);
    EXPECT_EQ(latency.state(), LowLatency::State::Set) << latency.note();
    EXPECT_EQ(readAttribute(kTimer), "1");
    latency.restore(fd);
    EXPECT_EQ(readAttribute(kTimer), "16");
    ::close(fd);
}

}  // namespace
