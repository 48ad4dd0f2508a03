// The example scripts of docs/examples, run by the valdor program with no
// display at all against the simulated unit, directly and through ser2net,
// and compared with their expected output.  Only what depends on the clock
// is masked: the times of trace lines and the date and time digits of the
// download's clock frame.
//
// VALDOR_UPDATE_EXAMPLES=1 writes the expected files anew (review the diff).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>

#include "support/bdusim_process.h"
#include "support/ser2net.h"
#include "support/shell.h"
#include "support/files.h"

namespace fs = std::filesystem;
using testsupport::Bdusim;
using testsupport::slurp;

namespace {

const fs::path kExamples = fs::path(SOURCE_DIR) / "docs" / "examples";

// Block bytes 12-25 of the clock frame (frame bytes 18-31) are the local
// date and time.
std::string maskClockFrame(const std::string &line) {
    static const std::string head = "]>60 D4 FF 00 00 1A ";
    auto at = line.find(head);
    if (at == std::string::npos || line.rfind("SEND[", 0) != 0) return line;
    std::string out = line;
    size_t first = at + 2 + 18 * 3;
    for (int i = 0; i < 14 && first + 3 * i + 1 < out.size(); ++i) out.replace(first + 3 * i, 2, "..");
    return out;
}

std::string underscored(std::string name) {
    for (auto &c : name)
        if (c == '-') c = '_';
    return name;
}

std::string mask(const std::string &text) {
    static const std::regex stamp(R"((SEND|RECV)\[\d\d:\d\d:\d\d:\d\d\d\])");
    std::istringstream in(text);
    std::string out;
    for (std::string line; std::getline(in, line);)
        out += maskClockFrame(std::regex_replace(line, stamp, "$1[hh:mm:ss:mmm]")) + "\n";
    return out;
}

// Runs the example `name` with COM1 mapped to `com` in a folder of its own
// (`options` go before --script): its masked output.
std::string runExample(const std::string &name, const std::string &com, const std::string &tag,
                       const std::string &options = "") {
    fs::path work = fs::path(testsupport::scratch()) / ("example-" + name + tag);
    fs::remove_all(work);
    fs::create_directories(work);
    fs::copy_file(kExamples / "sample.prg", work / "sample.prg");
    std::string cmd = "cd '" + work.string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM RSLINK_COM1='" +
                      com + "' '" + std::string(VALDOR_PATH) + "' " + options + " --script '" +
                      (kExamples / (name + ".vds")).string() + "' > out.txt 2> err.txt";
    EXPECT_EQ(testsupport::run(cmd), 0) << slurp(work / "err.txt");
    return mask(slurp(work / "out.txt"));
}

class Examples : public ::testing::TestWithParam<const char *> {};

TEST_P(Examples, OutputMatchesTheExpectedOne) {
    std::string name = GetParam();
    Bdusim sim;
    std::string got = runExample(name, sim.path(), "");
    fs::path expectedFile = kExamples / (name + ".out");
    if (std::getenv("VALDOR_UPDATE_EXAMPLES")) {
        std::ofstream(expectedFile, std::ios::binary) << got;
        GTEST_SKIP() << "wrote " << expectedFile;
    }
    EXPECT_EQ(got, slurp(expectedFile)) << "masked output of " << name;
}

// The example recipe, as a production run on one simulated unit: a line a
// step, every step passed.
TEST(ExampleRecipe, EndOfLineRunsOnTheSimulatedUnit) {
    Bdusim sim;
    fs::path work = fs::path(testsupport::scratch()) / "example-end-of-line";
    fs::remove_all(work);
    fs::create_directories(work);
    std::string cmd = "cd '" + work.string() + "' && '" + std::string(VALDOR_PATH) + "' --run '" +
                      (kExamples / "end-of-line.vds").string() + "' --out run --unit unit1=" + sim.path() +
                      " > out.txt 2> err.txt";
    EXPECT_EQ(testsupport::run(cmd), 0) << slurp(work / "err.txt");
    const std::string got = slurp(work / "out.txt");
    const fs::path expectedFile = kExamples / "end-of-line.out";
    if (std::getenv("VALDOR_UPDATE_EXAMPLES")) {
        std::ofstream(expectedFile, std::ios::binary) << got;
        GTEST_SKIP() << "wrote " << expectedFile;
    }
    EXPECT_EQ(got, slurp(expectedFile));
}

// The same examples with the unit behind ser2net, over raw TCP and over
// RFC 2217: the same output, and a download that arrives whole.
class NetworkExamples : public ::testing::TestWithParam<std::tuple<const char *, const char *>> {};

TEST_P(NetworkExamples, OutputMatchesThroughSer2net) {
    if (testsupport::Ser2net::program().empty())
        GTEST_SKIP() << "ser2net is not installed: scripts/install-deps.sh test installs it";
    const std::string name = std::get<0>(GetParam());
    const std::string scheme = std::get<1>(GetParam());
    Bdusim sim;
    const fs::path work = fs::path(testsupport::scratch()) / ("ser2net-" + name + "-" + scheme);
    fs::create_directories(work);
    testsupport::Ser2net server(sim.path(), work);
    const fs::path capture = work / "network.rslcap";
    EXPECT_EQ(runExample(name, server.url(scheme), "-" + scheme, "--capture '" + capture.string() + "'"),
              slurp(kExamples / (name + ".out")));
    if (name == "download") {
        const std::string whole = " bytes=" + std::to_string(fs::file_size(kExamples / "sample.prg")) + " ";
        EXPECT_TRUE(sim.waitForLine([&](const std::string &l) {
            return l.rfind("DOWNLOAD OK", 0) == 0 && l.find(whole) != std::string::npos;
        })) << "the program did not arrive whole";
    }
    // What was captured over the network replays as any capture does.
    if (name == "status-check") {
        Bdusim replay({"--replay", capture.string(), "--replay-no-delays"});
        EXPECT_EQ(runExample(name, replay.path(), "-replay-" + scheme), slurp(kExamples / (name + ".out")));
    }
}

TEST(ExampleMask, MasksOnlyClockDependentParts) {
    std::string clock = "SEND[10:11:12:013]>60 D4 FF 00 00 1A 30 31 52 54 30 30 49 32 30 30 30 45 "
                        "32 30 32 36 31 32 30 38 31 30 31 31 31 32 1C ";
    EXPECT_EQ(mask(clock),
              "SEND[hh:mm:ss:mmm]>60 D4 FF 00 00 1A 30 31 52 54 30 30 49 32 30 30 30 45 "
              ".. .. .. .. .. .. .. .. .. .. .. .. .. .. 1C \n");
    std::string data = "SEND[10:11:12:013]>60 D1 FF 00 00 1C 32 30 32 36 ";
    EXPECT_EQ(mask(data), "SEND[hh:mm:ss:mmm]>60 D1 FF 00 00 1C 32 30 32 36 \n");
    EXPECT_EQ(mask("@1204\t261208"), "@1204\t261208\n");
}

INSTANTIATE_TEST_SUITE_P(Docs, Examples,
                         ::testing::Values("status-check", "bill-count", "log-read", "oplog-acquisition",
                                           "download"),
                         [](const auto &info) { return underscored(info.param); });

// Every example over RFC 2217, which has the most to get wrong; over raw
// TCP the shortest one and the download, to keep the run short.
auto networkName = [](const auto &info) {
    return underscored(std::get<0>(info.param)) + "_" + std::get<1>(info.param);
};
INSTANTIATE_TEST_SUITE_P(Rfc2217, NetworkExamples,
                         ::testing::Combine(::testing::Values("status-check", "bill-count", "log-read",
                                                              "oplog-acquisition", "download"),
                                            ::testing::Values("rfc2217")),
                         networkName);
INSTANTIATE_TEST_SUITE_P(Tcp, NetworkExamples,
                         ::testing::Combine(::testing::Values("status-check", "download"), ::testing::Values("tcp")),
                         networkName);

}  // namespace
