#include "valdor/console/settings_file.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include "valdor/console/controls.h"
#include "valdor/console/panel.h"
#include "valdor/console/param_tables.h"

namespace valdor {

namespace {

// Runs of consecutive combo boxes, in file order.
struct ComboRun {
    int first;
    int count;
};

constexpr ComboRun kRuns[] = {
    {ctl::LengthL1, 6},     {ctl::LengthH1, 6},     {ctl::Thickness1, 6}, {ctl::SpecialSpec, 1},
    {ctl::BillsCount1, 6},  {ctl::RejectCount1, 6}, {ctl::PickRetry1, 6},
};

constexpr auto kCombos = [] {
    std::array<int, kSettingsSize> out{};
    size_t i = 0;
    for (const auto &run : kRuns)
        for (int k = 0; k < run.count; ++k) out[i++] = run.first + k;
    return out;
}();

void report(Panel &panel, const char *format, int error) {
    char line[64];
    std::snprintf(line, sizeof line, format, static_cast<unsigned>(error));
    panel.appendMessage(line);
}

// Writes all of `data`, resuming after interruptions and partial writes.
bool writeAll(int fd, const uint8_t *data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads up to `size` bytes; returns the count, or -1 with errno set.
ssize_t readUpTo(int fd, uint8_t *data, size_t size) {
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

}  // namespace

std::span<const int> settingsCombos() { return kCombos; }

SettingsRecord collectSettings(const Panel &panel) {
    SettingsRecord record;
    for (size_t i = 0; i < kSettingsSize; ++i) {
        auto position = panel.selection(kCombos[i]);
        bool storable = position && *position >= 0 && *position < kNoPosition;
        record[i] = storable ? static_cast<uint8_t>(*position) : kNoPosition;
    }
    return record;
}

void applySettings(Panel &panel, const SettingsRecord &record) {
    for (size_t i = 0; i < kSettingsSize; ++i) {
        const ParamTable *table = tableFor(kCombos[i]);
        size_t length = table ? table->items.size() : 0;
        if (record[i] < length)
            panel.setSelection(kCombos[i], record[i]);
        else
            panel.setSelection(kCombos[i], std::nullopt);
    }
}

void saveSettings(Panel &panel, const std::string &path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        report(panel, "FILE OPEN ERROR CODE=0x%08x", errno);
        return;
    }
    SettingsRecord record = collectSettings(panel);
    bool written = writeAll(fd, record.data(), record.size());
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    // A full disk must not pass for a saved file.
    if (!written) report(panel, "FILE WRITE ERROR CODE=0x%08x", error);
}

void loadSettings(Panel &panel, const std::string &path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        report(panel, "FILE OPEN ERROR CODE=0x%08x", errno);
        return;
    }
    SettingsRecord record{};
    errno = 0;
    ssize_t got = readUpTo(fd, record.data(), record.size());
    int error = got < 0 ? errno : 0;
    ::close(fd);
    if (got != static_cast<ssize_t>(kSettingsSize)) {
        report(panel, "FILE READ ERROR CODE=0x%08x", error);
        return;
    }
    applySettings(panel, record);
}

}  // namespace valdor
