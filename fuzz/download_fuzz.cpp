// The program download on arbitrary program files.  The procedure runs as
// the console runs it (start, then one frame per positive answer), with the
// worker played in place.  Every frame it builds must be within bounds and
// well formed, number its blocks in order, carry the file's identifier, and
// together carry the whole file exactly once; a negative answer to any frame
// ends the chain there.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_line.h"
#include "rslink/core/frame.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/host.h"
#include "valdor/panel/memory_panel.h"
#include "valdor/engine/commands.h"
#include "valdor/transfers/download_procedure.h"
#include "valdor/transfers/worker_link.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kLargestFile = 64 * 1024;  // keeps each run short
constexpr uint8_t kPositive = 0xE0;

class ProgramFile : public valdor::Host {
public:
    ProgramFile() : fd_(memfd_create("program.prg", MFD_CLOEXEC)) {
        FUZZ_CHECK(fd_ >= 0, "memfd_create failed");
    }
    ~ProgramFile() override { close(fd_); }
    void fill(const uint8_t *data, size_t size) {
        FUZZ_CHECK(ftruncate(fd_, 0) == 0 && pwrite(fd_, data, size, 0) == static_cast<ssize_t>(size),
                   "writing the program file failed");
    }
    std::optional<std::string> chooseFile(std::span<const valdor::FileFilter>, std::string_view) override {
        return "/proc/self/fd/" + std::to_string(fd_);
    }
    void runBlocking(const std::function<void()> &call) override { call(); }
    void closeWindow() override {}

private:
    int fd_;
};

// The worker, played in place: steps run at once, posts are counted.
class InPlaceWorker : public valdor::WorkerLink {
public:
    bool runOnWorker(const std::function<void()> &fn) override {
        fn();
        return true;
    }
    bool postCommand(int command) override {
        FUZZ_CHECK(command == valdor::CMD_DOWNLOAD_BLOCK, "the download posted another command");
        ++posted;
        return true;
    }
    bool downloadUnderWay() const override { return false; }
    bool acquisitionUnderWay() const override { return false; }
    int posted = 0;
};

std::string digits(const Bytes &f, size_t at, size_t count) {
    return std::string(f.begin() + static_cast<long>(at), f.begin() + static_cast<long>(at + count));
}

bool allDecimal(const std::string &s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// One frame's outer shape and block head; returns the block length L.
size_t checkShape(const Bytes &f, uint8_t code, const char *dcode, const char *ecode) {
    FUZZ_CHECK(f.size() >= 7 && f.size() <= valdor::kLargestDownloadFrame, "frame length out of bounds");
    FUZZ_CHECK(f.size() <= rslink::kMaxSendText, "frame longer than the driver sends");
    FUZZ_CHECK(f[0] == 0x60 && f[1] == code && f[2] == 0xFF && f[3] == 0x00, "frame head wrong");
    const size_t blockLength = static_cast<size_t>(f[4] << 8 | f[5]);
    FUZZ_CHECK(f.size() == blockLength + 7 && f.back() == 0x1C, "block length field disagrees");
    FUZZ_CHECK(blockLength >= 26, "block too short for its head");
    FUZZ_CHECK(digits(f, 6, 2) == "01" && digits(f, 8, 2) == dcode && digits(f, 10, 2) == "00" &&
                   digits(f, 12, 2) == ecode,
               "block head wrong");
    return blockLength;
}

class Run {
public:
    Run(const uint8_t *data, size_t size) : file_(data, data + size) {
        program_.fill(data, size);
        panel_.setChecked(valdor::ctl::ShowMessages, true);
        for (size_t i = 0; i < fileId_.size(); ++i)
            fileId_[i] = valdor::kFileIdOffset + i < size ? data[valdor::kFileIdOffset + i] : 0;
    }

    // Answers every frame positively, or the frame numbered `refuse` (from 1)
    // negatively; checks each frame as it goes out.
    void run(int refuse) {
        valdor::DownloadProcedure download(panel_, program_, worker_);
        download.start();
        int frames = 0;
        while (worker_.posted > 0) {
            --worker_.posted;
            Bytes frame(valdor::kLargestDownloadFrame + 64);
            frame.resize(download.takeBlock(frame.data(), frame.size()));
            FUZZ_CHECK(!frame.empty(), "a posted frame was empty");
            ++frames;
            check(frame);
            FUZZ_CHECK(download.underWay(), "a frame went out with no download under way");
            const int position = panel_.progressPosition();
            FUZZ_CHECK(position >= 0 && position <= panel_.progressRange().second, "the bar ran past its end");
            download.onResponse(frames == refuse ? 0xF0 : kPositive);
        }
        FUZZ_CHECK(!download.underWay(), "the download did not end");
        const auto lines = panel_.messages();
        FUZZ_CHECK(!lines.empty(), "the download ended without a message");
        if (refuse > 0) {
            FUZZ_CHECK(frames == refuse, "frames went out after a negative answer");
            FUZZ_CHECK(lines.back() == "DOWNLOAD ABNORMAL END -> ERR RESPONSE", "negative end not reported");
            return;
        }
        FUZZ_CHECK(lines.back() == "DOWNLOAD NORMAL END", "normal end not reported");
        FUZZ_CHECK(sawTime_, "no time frame");
        FUZZ_CHECK(carried_ == file_, "the data frames did not carry the file exactly");
        FUZZ_CHECK(dataFrames_ == valdor::dataFramesFor(file_.size()), "wrong number of data frames");
        FUZZ_CHECK(frames == totalFrames(), "wrong number of frames");
    }

    int totalFrames() const { return static_cast<int>(valdor::dataFramesFor(file_.size())) + 2; }

private:
    void check(const Bytes &f) {
        FUZZ_CHECK(f.size() >= 2, "frame too short");
        FUZZ_CHECK(!sawTime_, "a frame after the time frame");
        if (f[1] == 0xD1) return checkData(f);
        if (f[1] == 0xD2) return checkEnd(f);
        checkTime(f);
    }

    void checkNumberAndId(const Bytes &f, uint32_t expected) {
        char number[8];
        std::snprintf(number, sizeof number, "%04u", expected);
        FUZZ_CHECK(digits(f, 18, 4) == number, "block numbers out of order");
        FUZZ_CHECK(std::equal(fileId_.begin(), fileId_.end(), f.begin() + 22), "file identifier wrong");
    }

    void checkData(const Bytes &f) {
        FUZZ_CHECK(!sawEnd_, "a data frame after the end frame");
        const size_t blockLength = checkShape(f, 0xD1, "LD", "H0");
        FUZZ_CHECK(blockLength >= 28, "data block too short");
        const size_t n = blockLength - 28;
        FUZZ_CHECK(n <= valdor::kProgramBytesPerFrame, "too many program bytes in a frame");
        char field[8];
        std::snprintf(field, sizeof field, "%04X", static_cast<unsigned>(n + 16));
        FUZZ_CHECK(digits(f, 14, 4) == field, "data length field wrong");
        checkNumberAndId(f, ++dataFrames_);
        carried_.insert(carried_.end(), f.begin() + 34, f.begin() + 34 + static_cast<long>(n));
    }

    void checkEnd(const Bytes &f) {
        FUZZ_CHECK(!sawEnd_ && dataFrames_ > 0, "end frame out of place");
        FUZZ_CHECK(checkShape(f, 0xD2, "LE", "H0") == 28 && digits(f, 14, 4) == "0010", "end frame wrong");
        checkNumberAndId(f, dataFrames_ + 1);
        sawEnd_ = true;
    }

    void checkTime(const Bytes &f) {
        FUZZ_CHECK(sawEnd_, "time frame before the end frame");
        FUZZ_CHECK(checkShape(f, 0xD4, "RT", "I2") == 26 && digits(f, 14, 4) == "000E", "time frame wrong");
        FUZZ_CHECK(allDecimal(digits(f, 18, 14)), "time stamp not fourteen digits");
        sawTime_ = true;
    }

    Bytes file_;
    std::array<uint8_t, valdor::kFileIdSize> fileId_{};
    ProgramFile program_;
    InPlaceWorker worker_;
    valdor::MemoryPanel panel_;
    Bytes carried_;
    uint32_t dataFrames_ = 0;
    bool sawEnd_ = false;
    bool sawTime_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kLargestFile) return 0;
    Run whole(data, size);
    whole.run(0);
    // The same file again, with one frame refused: which one the file's size picks.
    Run refused(data, size);
    refused.run(1 + static_cast<int>(size % static_cast<size_t>(refused.totalFrames())));
    return 0;
}
