// The program download itself: the start on the window thread, the chain of
// frames on the worker.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "valdor/engine/send_thread.h"
#include "valdor/transfers/download_frames.h"
#include "valdor/transfers/transfer_file.h"

namespace valdor {

class Panel;
class Host;
class WorkerLink;

class DownloadProcedure final : public DownloadHook {
public:
    DownloadProcedure(Panel &panel, Host &host, WorkerLink &worker);
    ~DownloadProcedure() override;
    DownloadProcedure(const DownloadProcedure &) = delete;
    DownloadProcedure &operator=(const DownloadProcedure &) = delete;

    // The "DownLoad" button, on the window thread.
    void start();

    // DownloadHook, on the worker; underWay() also from any thread.
    bool underWay() const override;
    size_t takeBlock(uint8_t *out, size_t cap) override;
    void onResponse(uint8_t responseCode) override;
    void abort() override;

private:
    // `step`: which frame went out last.
    enum Step : uint8_t { STEP_IDLE = 0, STEP_DATA = 1, STEP_END = 2, STEP_TIME = 3 };
    struct StepHandler {
        Step step;
        void (DownloadProcedure::*next)();
    };
    static const StepHandler kAfterPositive[];

    // Window thread.
    bool refusedWhileAcquiring();
    void resetOnWorker();
    bool handOver(TransferFile file, std::string name, uint64_t blockCount);

    // Worker.
    void begin(TransferFile file, std::string name, uint64_t blockCount);
    bool readFileId();
    void sendDataFrame();
    void sendEndFrame();
    void sendTimeFrame();
    void finishNormally();
    bool post();
    void advanceProgress();
    void fail(const std::string &message);
    void reset();

    Panel &panel_;
    Host &host_;
    WorkerLink &worker_;

    // Read from any thread (underWay), written on the worker.
    std::atomic<bool> moreData_{false};
    std::atomic<uint8_t> step_{STEP_IDLE};

    // The worker's alone once a start has handed them over.
    TransferFile file_;
    std::string name_;
    uint64_t blockCount_ = 0;
    uint32_t blockNumber_ = 0;
    uint64_t progress_ = 0;
    FileId fileId_{};
    std::array<uint8_t, kLargestDownloadFrame> frame_{};
    size_t frameLength_ = 0;
};

}  // namespace valdor
