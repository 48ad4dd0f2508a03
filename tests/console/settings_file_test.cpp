// "SaveData" and "LoadData": the 37-byte record of list positions.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "valdor/console/controls.h"
#include "valdor/console/memory_panel.h"
#include "valdor/console/param_tables.h"
#include "valdor/console/settings_file.h"

using namespace valdor;
namespace fs = std::filesystem;

namespace {

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("valdor-settings-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        path = (dir / kSettingsFileName).string();
        panel.setChecked(ctl::ShowMessages, true);
    }
    void TearDown() override { fs::remove_all(dir); }

    void writeFile(const std::vector<uint8_t> &bytes) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<uint8_t> readFile() {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static int listLength(int combo) { return static_cast<int>(tableFor(combo)->items.size()); }

    // Gives every saved box a distinct valid position.
    void selectPattern() {
        int i = 0;
        for (int combo : settingsCombos()) panel.setSelection(combo, (i++ * 7 + 3) % listLength(combo));
    }

    fs::path dir;
    std::string path;
    MemoryPanel panel;
};

TEST_F(SettingsFile, RecordOrderIsTheFileLayout) {
    auto combos = settingsCombos();
    ASSERT_EQ(combos.size(), 37u);
    std::vector<int> expected;
    for (int c = 1100; c <= 1117; ++c) expected.push_back(c);
    expected.push_back(1140);
    for (int c = 1118; c <= 1135; ++c) expected.push_back(c);
    EXPECT_EQ(std::vector<int>(combos.begin(), combos.end()), expected);
}

TEST_F(SettingsFile, SaveWritesPositionsNotValues) {
    panel.setSelection(ctl::LengthL1, 2);        // "110"
    panel.setSelection(ctl::LengthL1 + 1, 2);    // cassette 2: " 76"
    panel.setSelection(ctl::SpecialSpec, 3);     // "11" -> value 192
    panel.setSelection(ctl::PickRetry1 + 5, 15);
    panel.setSelection(ctl::ComPort, 4);         // not saved
    saveSettings(panel, path);
    auto bytes = readFile();
    ASSERT_EQ(bytes.size(), 37u);
    EXPECT_EQ(bytes[0], 2);
    EXPECT_EQ(bytes[1], 2);
    EXPECT_EQ(bytes[18], 3);
    EXPECT_EQ(bytes[36], 15);
    for (size_t i : {2u, 6u, 12u, 19u, 25u, 31u}) EXPECT_EQ(bytes[i], 255) << "offset " << i;
    EXPECT_TRUE(panel.messages().empty());
}

TEST_F(SettingsFile, AllEmptySavesAll255AndLoadsBackEmpty) {
    saveSettings(panel, path);
    EXPECT_EQ(readFile(), std::vector<uint8_t>(37, 255));

    selectPattern();
    loadSettings(panel, path);
    for (int combo : settingsCombos()) EXPECT_FALSE(panel.selection(combo)) << combo;
    EXPECT_TRUE(panel.messages().empty());
}

TEST_F(SettingsFile, SaveThenLoadRestoresEverySelection) {
    selectPattern();
    auto saved = collectSettings(panel);
    saveSettings(panel, path);
    for (int combo : settingsCombos()) panel.setSelection(combo, std::nullopt);
    loadSettings(panel, path);
    EXPECT_EQ(collectSettings(panel), saved);
    // A second save overwrites rather than appends.
    saveSettings(panel, path);
    EXPECT_EQ(readFile().size(), 37u);
}

TEST_F(SettingsFile, ShortFileReportsAndChangesNothing) {
    selectPattern();
    auto before = collectSettings(panel);
    writeFile(std::vector<uint8_t>(36, 1));
    loadSettings(panel, path);
    EXPECT_EQ(panel.messages(), std::vector<std::string>{"FILE READ ERROR CODE=0x00000000"});
    EXPECT_EQ(collectSettings(panel), before);

    writeFile({});
    loadSettings(panel, path);
    EXPECT_EQ(panel.messages().size(), 2u);
    EXPECT_EQ(collectSettings(panel), before);
}

TEST_F(SettingsFile, LongFileLoadsItsFirst37Bytes) {
    std::vector<uint8_t> bytes(40, 1);
    bytes[36] = 4;
    bytes[37] = 9;  // beyond the record: never read
    writeFile(bytes);
    loadSettings(panel, path);
    EXPECT_TRUE(panel.messages().empty());
    EXPECT_EQ(panel.selection(ctl::LengthL1), 1);
    EXPECT_EQ(panel.selection(ctl::PickRetry1 + 5), 4);
}

TEST_F(SettingsFile, MissingFileReportsTheSystemError) {
    selectPattern();
    auto before = collectSettings(panel);
    loadSettings(panel, path);
    char expected[64];
    std::snprintf(expected, sizeof expected, "FILE OPEN ERROR CODE=0x%08x", ENOENT);
    EXPECT_EQ(panel.messages(), std::vector<std::string>{expected});
    EXPECT_EQ(collectSettings(panel), before);
}

TEST_F(SettingsFile, BytesBeyondAListLeaveItEmpty) {
    std::vector<uint8_t> bytes(37, 0);
    bytes[0] = static_cast<uint8_t>(listLength(ctl::LengthL1));          // one past cassette 1's list
    bytes[1] = static_cast<uint8_t>(listLength(ctl::LengthL1 + 1) - 1);  // last of cassette 2's
    bytes[12] = 12;                                                      // thickness: 12 items
    bytes[13] = 21;                                                      // cassette 2: 22 items
    bytes[31] = 30;                                                      // pick retry: 16 items
    bytes[32] = 15;
    bytes[18] = 254;
    selectPattern();
    writeFile(bytes);
    loadSettings(panel, path);
    EXPECT_FALSE(panel.selection(ctl::LengthL1));
    EXPECT_EQ(panel.selection(ctl::LengthL1 + 1), listLength(ctl::LengthL1 + 1) - 1);
    EXPECT_FALSE(panel.selection(ctl::Thickness1));
    EXPECT_EQ(panel.selection(ctl::Thickness1 + 1), 21);
    EXPECT_FALSE(panel.selection(ctl::PickRetry1));
    EXPECT_EQ(panel.selection(ctl::PickRetry1 + 1), 15);
    EXPECT_FALSE(panel.selection(ctl::SpecialSpec));
    EXPECT_EQ(panel.selection(ctl::BillsCount1), 0);
}

TEST_F(SettingsFile, SameByteMeansADifferentLengthForCassette2) {
    std::vector<uint8_t> bytes(37, 2);
    writeFile(bytes);
    loadSettings(panel, path);
    auto text = [&](int combo) {
        return std::string(tableFor(combo)->items[static_cast<size_t>(*panel.selection(combo))].text);
    };
    EXPECT_EQ(text(ctl::LengthL1), "110");
    EXPECT_EQ(text(ctl::LengthL1 + 1), " 76");
}

TEST_F(SettingsFile, SaveFailuresAreReported) {
    fs::create_directory(path);  // a folder where the file should be
    saveSettings(panel, path);
    char expected[64];
    std::snprintf(expected, sizeof expected, "FILE OPEN ERROR CODE=0x%08x", EISDIR);
    EXPECT_EQ(panel.messages(), std::vector<std::string>{expected});

    // A write that fails (disk full) is not passed off as saved.
    if (fs::exists("/dev/full")) {
        panel.clearMessages();
        saveSettings(panel, "/dev/full");
        std::snprintf(expected, sizeof expected, "FILE WRITE ERROR CODE=0x%08x", ENOSPC);
        EXPECT_EQ(panel.messages(), std::vector<std::string>{expected});
    }
}

TEST_F(SettingsFile, MessagesOnlyWhileExecutionMessageDisplayIsTicked) {
    panel.setChecked(ctl::ShowMessages, false);
    loadSettings(panel, path);
    EXPECT_TRUE(panel.messages().empty());
}

}  // namespace
