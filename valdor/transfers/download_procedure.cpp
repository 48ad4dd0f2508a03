#include "valdor/transfers/download_procedure.h"

#include <sys/stat.h>

#include <cstring>

#include "valdor/panel/controls.h"
#include "valdor/panel/host.h"
#include "valdor/panel/panel.h"
#include "valdor/engine/commands.h"
#include "valdor/engine/request_builder.h"
#include "valdor/transfers/worker_link.h"

namespace valdor {

namespace {

constexpr size_t kHeadRead = 256;  // the first read of a file, which holds file_id

const FileFilter kFilters[] = {
    {"Download files(*.prg)", "*.prg"},
    {"All files(*.*)", "*.*"},
};

constexpr char kCancel[] = "Download Cancel";
constexpr char kNormalEnd[] = "DOWNLOAD NORMAL END";
constexpr char kErrResponse[] = "DOWNLOAD ABNORMAL END -> ERR RESPONSE";
constexpr char kSoftError[] = "DOWNLOAD ABNORMAL END -> SOFT ERROR";
constexpr char kWhileAcquiring[] = "DOWNLOAD START ERROR(an operational log acquisition is running)";
constexpr char kWhileDownloading[] =
    "DOWNLOAD START ERROR(a download is running; cancel the file dialog to end it)";

}  // namespace

// What follows a positive answer once the data frames are all out.
const DownloadProcedure::StepHandler DownloadProcedure::kAfterPositive[] = {
    {STEP_DATA, &DownloadProcedure::sendEndFrame},
    {STEP_END, &DownloadProcedure::sendTimeFrame},
    {STEP_TIME, &DownloadProcedure::finishNormally},
};

DownloadProcedure::DownloadProcedure(Panel &panel, Host &host, WorkerLink &worker)
    : panel_(panel), host_(host), worker_(worker) {}

DownloadProcedure::~DownloadProcedure() = default;

// ---- window thread ---------------------------------------------------------

void DownloadProcedure::start() {
    if (refusedWhileAcquiring()) return;
    auto path = host_.chooseFile(kFilters, "*.prg");
    if (!path) {
        panel_.appendMessage(kCancel);
        resetOnWorker();
        return;
    }
    std::string name = bareName(*path);
    struct stat st {};
    if (::stat(path->c_str(), &st) != 0) {
        panel_.appendMessage(formatMessage("FILE FIND ERROR(FILENAME=%s)", name.c_str()));
        resetOnWorker();
        return;
    }
    panel_.setText(ctl::DownloadFileName, name);
    TransferFile file;
    if (const auto opened = file.openForReading(*path); !opened) {
        panel_.appendMessage(formatMessage("FILE OPEN ERROR(FILENAME=%s CODE=0x%08x)", name.c_str(),
                                           static_cast<unsigned>(opened.failure().error)));
        resetOnWorker();
        return;
    }
    // Sized from the open file, so that the count matches what will be read.
    uint64_t size = file.size();
    if (dataFramesFor(size) > kMostDataFrames) {
        panel_.appendMessage(formatMessage("FILE SIZE ERROR(FILENAME=%s SIZE=%llu MAX=%llu)", name.c_str(),
                                           static_cast<unsigned long long>(size),
                                           static_cast<unsigned long long>(kMostDataFrames * kProgramBytesPerFrame - 1)));
        resetOnWorker();
        return;
    }
    // Two chains of frames on one line would take each other's answers; a
    // cancel or a failed check above is the way to end a stuck download.
    if (underWay()) {
        panel_.appendMessage(kWhileDownloading);
        return;
    }
    if (!handOver(std::move(file), std::move(name), blockCountFor(size)))
        panel_.appendMessage(kRefusedMessage);
}

bool DownloadProcedure::refusedWhileAcquiring() {
    if (!worker_.acquisitionUnderWay()) return false;
    panel_.appendMessage(kWhileAcquiring);
    return true;
}

void DownloadProcedure::resetOnWorker() {
    if (!underWay()) return;
    host_.runBlocking([this] { worker_.runOnWorker([this] { reset(); }); });
}

bool DownloadProcedure::handOver(TransferFile file, std::string name, uint64_t blockCount) {
    bool ran = false;
    host_.runBlocking([&] {
        ran = worker_.runOnWorker([&] { begin(std::move(file), std::move(name), blockCount); });
    });
    return ran;
}

// ---- worker -----------------------------------------------------------------

void DownloadProcedure::begin(TransferFile file, std::string name, uint64_t blockCount) {
    file_ = std::move(file);
    name_ = std::move(name);
    blockCount_ = blockCount;
    panel_.setProgressRange(0, static_cast<int>(blockCount_ + 2));
    panel_.setProgressPosition(0);
    progress_ = 0;
    blockNumber_ = 0;
    frameLength_ = 0;
    moreData_ = true;
    if (readFileId()) sendDataFrame();
}

bool DownloadProcedure::readFileId() {
    // A file shorter than file_id's end leaves the missing bytes 0x00.
    std::array<uint8_t, kHeadRead> head{};
    if (const auto read = file_.readAt(0, head.data(), head.size()); !read) {
        fail(formatMessage("DOWNLOAD ABNORMAL END -> FILE READ ERROR(FILENAME=%s CODE=0x%08x)",
                           name_.c_str(), static_cast<unsigned>(read.failure().error)));
        return false;
    }
    std::memcpy(fileId_.data(), head.data() + kFileIdOffset, fileId_.size());
    return true;
}

void DownloadProcedure::sendDataFrame() {
    // Only a file that grew after the start can get here: its blocks could
    // not be numbered.
    if (blockNumber_ >= kMostDataFrames) {
        fail(kSoftError);
        return;
    }
    std::array<uint8_t, kProgramBytesPerFrame> data;
    const auto read = file_.read(data.data(), data.size());
    if (!read) {
        fail(formatMessage("DOWNLOAD ABNORMAL END -> FILE READ ERROR(FILENAME=%s CODE=0x%08x)",
                           name_.c_str(), static_cast<unsigned>(read.failure().error)));
        return;
    }
    const size_t n = *read;
    if (n < kProgramBytesPerFrame) {
        file_.close();
        moreData_ = false;
    }
    ++blockNumber_;
    frameLength_ = buildDataFrame(frame_.data(), blockNumber_, fileId_, {data.data(), n});
    if (!post()) return;
    advanceProgress();
    step_ = STEP_DATA;
}

void DownloadProcedure::sendEndFrame() {
    ++blockNumber_;
    frameLength_ = buildEndFrame(frame_.data(), blockNumber_, fileId_);
    if (!post()) return;
    advanceProgress();
    step_ = STEP_END;
}

void DownloadProcedure::sendTimeFrame() {
    frameLength_ = buildTimeFrame(frame_.data(), localNow());
    if (!post()) return;
    progress_ = blockCount_ + 2;
    panel_.setProgressPosition(static_cast<int>(progress_));
    step_ = STEP_TIME;
}

void DownloadProcedure::finishNormally() {
    reset();
    panel_.appendMessage(kNormalEnd);
}

bool DownloadProcedure::post() {
    // The worker takes the frame with command 100 once it is done with the
    // message in hand.  A refused post has appended its message; nothing went
    // out, so nothing may wait for an answer.
    if (worker_.postCommand(CMD_DOWNLOAD_BLOCK)) return true;
    reset();
    return false;
}

void DownloadProcedure::advanceProgress() {
    ++progress_;
    if (progress_ <= blockCount_ + 2) panel_.setProgressPosition(static_cast<int>(progress_));
}

void DownloadProcedure::fail(const std::string &message) {
    reset();
    panel_.appendMessage(message);
}

void DownloadProcedure::reset() {
    file_.close();
    moreData_ = false;
    step_ = STEP_IDLE;
    frameLength_ = 0;  // a command 100 still queued sends nothing
}

bool DownloadProcedure::underWay() const { return moreData_.load() || step_.load() != STEP_IDLE; }

size_t DownloadProcedure::takeBlock(uint8_t *out, size_t cap) {
    if (frameLength_ == 0 || frameLength_ > cap) return 0;
    std::memcpy(out, frame_.data(), frameLength_);
    // Taken once: a second command 100 finds nothing to send.
    return std::exchange(frameLength_, 0);
}

void DownloadProcedure::onResponse(uint8_t responseCode) {
    if (responseCode != kPositiveResponse) {
        fail(kErrResponse);
        return;
    }
    if (moreData_) {
        sendDataFrame();
        return;
    }
    for (const auto &handler : kAfterPositive) {
        if (handler.step == step_.load()) {
            (this->*handler.next)();
            return;
        }
    }
    fail(kSoftError);
}

void DownloadProcedure::abort() { reset(); }

}  // namespace valdor
