// The operational-log acquisition itself: the start on the window thread,
// the report on the worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "valdor/engine/send_thread.h"
#include "valdor/transfers/transfer_file.h"

namespace valdor {

class Panel;
class Host;
class WorkerLink;

class OplogProcedure final : public OplogHook {
public:
    OplogProcedure(Panel &panel, Host &host, WorkerLink &worker);
    ~OplogProcedure() override;
    OplogProcedure(const OplogProcedure &) = delete;
    OplogProcedure &operator=(const OplogProcedure &) = delete;

    // The "Acquire Ope-Log" button, on the window thread.
    void start();
    // The "Operational Log" button, on the window thread, before it posts
    // command 13.
    void stopAcquiring();

    // OplogHook, on the worker; underWay() also from any thread.
    bool underWay() const override;
    std::optional<std::pair<uint8_t, uint8_t>> beginRequest() override;
    std::optional<std::pair<uint8_t, uint8_t>> onResponse(std::span<const uint8_t> text) override;
    void abort() override;

private:
    // Window thread.
    bool refused();
    bool onWorker(const std::function<void()> &fn);

    // Worker.
    void begin(TransferFile report, std::string name);
    void writeRecords(std::span<const uint8_t> answer);
    bool advance();
    void writeText(std::string_view text);
    bool endedByWriteError();
    void finish(const std::string &message);
    void reset();

    Panel &panel_;
    Host &host_;
    WorkerLink &worker_;

    // Set on the worker by a start; cleared there at the end, and by
    // "Operational Log" on the window thread.
    std::atomic<bool> acquiring_{false};

    // The worker's alone once a start has handed them over.
    TransferFile report_;
    std::string name_;
    uint8_t section_ = 0;
    uint8_t block_ = 0;
    int32_t lineNumber_ = 1;
    int writeError_ = 0;  // the first failed write, reported at the next answer
};

}  // namespace valdor
