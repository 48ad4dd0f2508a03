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

// The boxes of the record in file order: lengths L and H, thicknesses,
// "Special specification", bills, rejects and pick retries.
std::vector<int> fileLayout() {
    std::vector<int> boxes;
    for (int c = 1100; c <= 1117; ++c) boxes.push_back(c);
    boxes.push_back(1140);
    for (int c = 1118; c <= 1135; ++c) boxes.push_back(c);
    return boxes;
}

TEST_F(SettingsFile, SaveWritesEachPositionAtItsOffsetAndLoadRestoresIt) {
    selectPattern();
    panel.setSelection(ctl::ComPort, 4);  // not saved
    saveSettings(panel, path);
    const auto bytes = readFile();
    const auto layout = fileLayout();
    ASSERT_EQ(bytes.size(), layout.size());
    for (size_t i = 0; i < layout.size(); ++i) EXPECT_EQ(bytes[i], *panel.selection(layout[i])) << "offset " << i;
    EXPECT_TRUE(panel.messages().empty());

    const auto saved = collectSettings(panel);
    for (int combo : settingsCombos()) panel.setSelection(combo, std::nullopt);
    loadSettings(panel, path);
    EXPECT_EQ(collectSettings(panel), saved);
    saveSettings(panel, path);  // overwrites rather than appends
    EXPECT_EQ(readFile(), bytes);
}

TEST_F(SettingsFile, AllEmptySavesAll255AndLoadsBackEmpty) {
    saveSettings(panel, path);
    EXPECT_EQ(readFile(), std::vector<uint8_t>(37, 255));

    selectPattern();
    loadSettings(panel, path);
    for (int combo : settingsCombos()) EXPECT_FALSE(panel.selection(combo)) << combo;
    EXPECT_TRUE(panel.messages().empty());
}

// Only a whole record loads: a short file reports and changes nothing; a
// longer one loads from its first 37 bytes.
TEST_F(SettingsFile, FileLengthDecidesWhetherTheRecordLoads) {
    for (size_t size : {36u, 0u, 40u}) {
        SCOPED_TRACE(size);
        selectPattern();
        const auto before = collectSettings(panel);
        std::vector<uint8_t> bytes(size, 1);
        if (size == 40) bytes[36] = 4, bytes[37] = 9;  // byte 37 is beyond the record
        writeFile(bytes);
        panel.clearMessages();
        loadSettings(panel, path);
        if (size < 37) {
            EXPECT_EQ(panel.messages(), std::vector<std::string>{"FILE READ ERROR CODE=0x00000000"});
            EXPECT_EQ(collectSettings(panel), before);
        } else {
            EXPECT_TRUE(panel.messages().empty());
            EXPECT_EQ(panel.selection(ctl::LengthL1), 1);
            EXPECT_EQ(panel.selection(ctl::PickRetry1 + 5), 4);
        }
    }
}

TEST_F(SettingsFile, MissingFileReportsTheSystemError) {
    selectPattern();
    auto before = collectSettings(panel);
    loadSettings(panel, path);
    char expected[64];
    std::snprintf(expected, sizeof expected, "FILE OPEN ERROR CODE=0x%08x", ENOENT);
    EXPECT_EQ(panel.messages(), std::vector<std::string>{expected});
    EXPECT_EQ(collectSettings(panel), before);
    // Only while "Execution Message Display" is ticked.
    panel.setChecked(ctl::ShowMessages, false);
    loadSettings(panel, path);
    EXPECT_EQ(panel.messages().size(), 1u);
}

// A byte is a position in that box's own list: the same byte is another
// length for cassette 2, and a byte beyond the list leaves the box empty.
TEST_F(SettingsFile, BytesArePositionsInEachBoxsOwnList) {
    std::vector<uint8_t> bytes(37, 2);
    bytes[0] = static_cast<uint8_t>(listLength(ctl::LengthL1));          // one past cassette 1's list
    bytes[7] = static_cast<uint8_t>(listLength(ctl::LengthH1 + 1) - 1);  // last of cassette 2's
    bytes[12] = 12;                                                      // thickness: 12 items
    bytes[13] = 21;                                                      // cassette 2: 22 items
    bytes[31] = 30;                                                      // pick retry: 16 items
    bytes[32] = 15;
    bytes[18] = 254;
    selectPattern();
    writeFile(bytes);
    loadSettings(panel, path);
    auto text = [&](int combo) {
        auto position = panel.selection(combo);
        return position ? std::string(tableFor(combo)->items[static_cast<size_t>(*position)].text) : "(none)";
    };
    EXPECT_EQ(text(ctl::LengthL1), "(none)");
    EXPECT_EQ(text(ctl::LengthL1 + 1), " 76");
    EXPECT_EQ(text(ctl::LengthL1 + 2), "110");
    EXPECT_EQ(text(ctl::LengthH1 + 1), " 76");
    EXPECT_EQ(text(ctl::Thickness1), "(none)");
    EXPECT_EQ(text(ctl::Thickness1 + 1), "0.30");
    EXPECT_EQ(text(ctl::PickRetry1), "(none)");
    EXPECT_EQ(text(ctl::PickRetry1 + 1), "15");
    EXPECT_EQ(text(ctl::SpecialSpec), "(none)");
    EXPECT_EQ(text(ctl::BillsCount1), " 2");
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

}  // namespace
