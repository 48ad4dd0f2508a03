// An adapter pulled out and plugged back in: the unit ends, comes back on
// another device behind the same stable link (as /dev/serial/by-id keeps its
// name when ttyUSB0 returns as ttyUSB1), and COM Close then COM Open reaches
// it again, whether the link is named by the ports file or the environment.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "rslink/rslink.h"
#include "support/scoped_env.h"
#include "transfers/console_rig.h"

namespace {

namespace ctl = valdor::ctl;
namespace fs = std::filesystem;

class Replug : public transfers_test::ConsoleRig, public ::testing::WithParamInterface<bool> {
protected:
    // A unit "plugged in": started, and the stable link pointed at it.
    void plugIn() {
        unit = std::make_unique<testsupport::Bdusim>(std::vector<std::string>{"--trace-requests"});
        std::error_code ignored;
        fs::remove(link(), ignored);
        fs::create_symlink(unit->path(), link());
    }

    std::string link() const { return dir.file("usb-Example_Serial_Cable_SN0001-if00-port0"); }

    void mapByLink(bool portsFile) {
        config_.emplace("XDG_CONFIG_HOME", dir.file("config").c_str());
        com_.emplace("RSLINK_COM3", portsFile ? nullptr : link().c_str());
        if (portsFile) {
            fs::create_directories(dir.file("config/valdor"));
            std::ofstream(dir.file("config/valdor/ports")) << "COM3=" << link() << "\n";
        }
    }

private:
    std::optional<testsupport::ScopedEnv> config_, com_;
};

TEST_P(Replug, CloseThenOpenReachesTheUnitOnItsNewDevice) {
    mapByLink(GetParam());
    plugIn();
    const std::string first = unit->path();
    openConsole();
    statusReadAnswered();

    unit->stop();  // pulled out
    console->press(ctl::ComClose);
    EXPECT_FALSE(console->portOpen());

    // Something else takes the freed number first, so the unit comes back
    // on another device, as an adapter returning as ttyUSB1 does.  Tests
    // running beside this one take and free numbers too: units that land on
    // the old number are kept running until one does not.
    std::vector<std::unique_ptr<testsupport::Bdusim>> stillThere;
    stillThere.push_back(std::make_unique<testsupport::Bdusim>());
    plugIn();
    while (unit->path() == first && stillThere.size() < 8) {
        stillThere.push_back(std::move(unit));
        plugIn();
    }
    ASSERT_NE(unit->path(), first);
    panel.clearMessages();
    panel.setSelection(ctl::ComPort, kCom - 1);
    console->press(ctl::ComOpen);
    ASSERT_TRUE(console->portOpen()) << (panel.messages().empty() ? "" : panel.messages().back());
    EXPECT_EQ(panel.messages().back(), "COM OPEN Completed.");
    statusReadAnswered();
}

INSTANTIATE_TEST_SUITE_P(MappedBy, Replug, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "PortsFile" : "Environment"; });

}  // namespace
