// "SaveData" and "LoadData": the 37-byte record of list positions.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/wait.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/memory_panel.h"
#include "valdor/panel/param_tables.h"
#include "valdor/console/settings_file.h"

using namespace valdor;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override { panel.setChecked(ctl::ShowMessages, true); }

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

    testsupport::TempDir temp;
    const fs::path dir = temp.path();
    const std::string path = (dir / kSettingsFileName).string();
    MemoryPanel panel;
};

std::string openError(int error) {
    char line[64];
    std::snprintf(line, sizeof line, "FILE OPEN ERROR CODE=0x%08x", static_cast<unsigned>(error));
    return line;
}

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
    EXPECT_EQ(panel.messages(), std::vector<std::string>{openError(ENOENT)});
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
    const std::pair<int, const char *> shown[] = {
        {ctl::LengthL1, "(none)"},   {ctl::LengthL1 + 1, " 76"},    {ctl::LengthL1 + 2, "110"},
        {ctl::LengthH1 + 1, " 76"},  {ctl::Thickness1, "(none)"},   {ctl::Thickness1 + 1, "0.30"},
        {ctl::PickRetry1, "(none)"}, {ctl::PickRetry1 + 1, "15"},   {ctl::SpecialSpec, "(none)"},
        {ctl::BillsCount1, " 2"},
    };
    for (auto [combo, expected] : shown) EXPECT_EQ(text(combo), expected) << combo;
}

// What may stand where the file should be, and how to let go of a call that
// blocks on it.
struct NotAFile {
    const char *name;
    bool linked;  // reached through a symbolic link, which a save replaces
    std::function<void(const std::string &path)> make;
    std::function<void(const std::string &path)> unblock;
};

const NotAFile kNotFiles[] = {
    {"folder", false, [](const std::string &p) { fs::create_directory(p); }, [](const std::string &) {}},
    {"pipe", false, [](const std::string &p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
     // Either end opened without blocking lets a blocked open on the other go.
     [](const std::string &p) {
         int r = ::open(p.c_str(), O_RDONLY | O_NONBLOCK);
         int w = ::open(p.c_str(), O_WRONLY | O_NONBLOCK);
         std::this_thread::sleep_for(200ms);
         if (r >= 0) ::close(r);
         if (w >= 0) ::close(w);
     }},
    {"device", true, [](const std::string &p) { fs::create_symlink("/dev/null", p); }, [](const std::string &) {}},
    {"pipe through a link", true,
     [](const std::string &p) {
         ASSERT_EQ(::mkfifo((p + ".fifo").c_str(), 0600), 0);
         fs::create_symlink(p + ".fifo", p);
     },
     [](const std::string &p) {
         int w = ::open((p + ".fifo").c_str(), O_WRONLY | O_NONBLOCK);
         std::this_thread::sleep_for(200ms);
         if (w >= 0) ::close(w);
     }},
};

// Neither button may block on a path that is not a regular file, nor touch
// it: each is refused with EINVAL, and the selections stay as they were;
// only a link is replaced by a save, never followed.
TEST_F(SettingsFile, NotARegularFileIsRefusedWithoutBlocking) {
    for (const auto &kind : kNotFiles) {
        for (bool save : {false, true}) {
            SCOPED_TRACE(std::string(kind.name) + (save ? " save" : " load"));
            fs::remove_all(path);
            fs::remove_all(path + ".fifo");
            kind.make(path);
            selectPattern();
            auto before = collectSettings(panel);
            panel.clearMessages();
            ASSERT_TRUE(testsupport::returnsWithoutBlocking(
                [&] { save ? saveSettings(panel, path) : loadSettings(panel, path); },
                [&] { kind.unblock(path); }));
            EXPECT_EQ(collectSettings(panel), before);
            if (save && kind.linked) {
                EXPECT_TRUE(panel.messages().empty());
                EXPECT_EQ(readFile(), std::vector<uint8_t>(before.begin(), before.end()));
            } else {
                EXPECT_EQ(panel.messages(), std::vector<std::string>{openError(EINVAL)});
                EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(path)));
            }
        }
    }
}

// A link planted where the file should be is replaced by the new file; what
// it pointed at keeps its contents.
TEST_F(SettingsFile, SaveReplacesALinkAndNeverWritesThroughIt) {
    const std::string target = (dir / "elsewhere").string();
    std::ofstream(target) << "keep me";
    fs::create_symlink(target, path);
    selectPattern();
    saveSettings(panel, path);
    EXPECT_TRUE(panel.messages().empty());
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
    auto record = collectSettings(panel);
    EXPECT_EQ(readFile(), std::vector<uint8_t>(record.begin(), record.end()));
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep me");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);  // no leftovers
}

// A save that cannot be written (here: the file-size limit, as a full disk
// would) is reported and leaves the old file whole, with no temporary behind.
TEST_F(SettingsFile, AFailedWriteLeavesTheOldFileWhole) {
    std::vector<uint8_t> old(kSettingsSize, 1);
    writeFile(old);
    selectPattern();
    testsupport::withFileSizeLimit(10, [&] { saveSettings(panel, path); });
    char expected[64];
    std::snprintf(expected, sizeof expected, "FILE WRITE ERROR CODE=0x%08x", EFBIG);
    EXPECT_EQ(panel.messages(), std::vector<std::string>{expected});
    EXPECT_EQ(readFile(), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    // And the same save with room succeeds.
    panel.clearMessages();
    saveSettings(panel, path);
    EXPECT_TRUE(panel.messages().empty());
    auto record = collectSettings(panel);
    EXPECT_EQ(readFile(), std::vector<uint8_t>(record.begin(), record.end()));
}

}  // namespace
