// The settings-file loader on arbitrary files.  A file shorter than a record
// changes nothing and says so; otherwise every box takes the position in its
// byte when its list has one and no selection when it has not; and what was
// loaded saves and loads back to the same selections.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "fuzz_line.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/memory_panel.h"
#include "valdor/panel/param_tables.h"
#include "valdor/console/settings_file.h"

namespace {

// A file in memory, named by its /proc path, so that the loader's own
// open(2) and read(2) run without touching the disk.
class MemoryFile {
public:
    MemoryFile() : fd_(memfd_create("valdor-settings", MFD_CLOEXEC)) {
        FUZZ_CHECK(fd_ >= 0, "memfd_create failed");
    }
    ~MemoryFile() { close(fd_); }
    void fill(const uint8_t *data, size_t size) {
        FUZZ_CHECK(ftruncate(fd_, 0) == 0 && pwrite(fd_, data, size, 0) == static_cast<ssize_t>(size),
                   "writing the memory file failed");
    }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
};

// SaveData writes a temporary file beside the settings file and renames it
// over it, which a /proc path cannot take: the round trip saves into a real
// folder of its own, removed at exit.
class SaveFolder {
public:
    SaveFolder() {
        char pattern[] = "/tmp/valdor-fuzz-XXXXXX";
        FUZZ_CHECK(mkdtemp(pattern) != nullptr, "mkdtemp failed");
        dir_ = pattern;
    }
    ~SaveFolder() {
        unlink(path().c_str());
        rmdir(dir_.c_str());
    }
    std::string path() const { return dir_ + "/valdor.dat"; }

private:
    std::string dir_;
};

void selectFirstItems(valdor::MemoryPanel &panel) {
    for (int combo : valdor::settingsCombos()) panel.setSelection(combo, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static MemoryFile file;
    file.fill(data, size);

    valdor::MemoryPanel panel;
    panel.setChecked(valdor::ctl::ShowMessages, true);
    selectFirstItems(panel);
    valdor::loadSettings(panel, file.path());

    const auto combos = valdor::settingsCombos();
    if (size < valdor::kSettingsSize) {
        for (int combo : combos) FUZZ_CHECK(panel.selection(combo) == 0, "a short file changed a box");
        FUZZ_CHECK(panel.messages().size() == 1, "a short file was not reported once");
        return 0;
    }
    FUZZ_CHECK(panel.messages().empty(), "a whole record was reported as a failure");
    for (size_t i = 0; i < combos.size(); ++i) {
        const valdor::ParamTable *table = valdor::tableFor(combos[i]);
        FUZZ_CHECK(table != nullptr, "a settings box has no list");
        const auto got = panel.selection(combos[i]);
        if (data[i] < table->items.size())
            FUZZ_CHECK(got == data[i], "a box did not take the position in its byte");
        else
            FUZZ_CHECK(!got.has_value(), "a box took a position its list does not have");
    }

    // Round trip: what was loaded saves and loads back unchanged.
    const valdor::SettingsRecord loaded = valdor::collectSettings(panel);
    static SaveFolder saved;
    valdor::saveSettings(panel, saved.path());
    FUZZ_CHECK(panel.messages().empty(), "saving a loaded record failed");
    valdor::MemoryPanel again;
    valdor::loadSettings(again, saved.path());
    FUZZ_CHECK(valdor::collectSettings(again) == loaded, "a saved record loads back different");
    return 0;
}
