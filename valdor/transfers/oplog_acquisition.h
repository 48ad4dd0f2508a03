// "Acquire Ope-Log": reads the unit's measured information, operational log,
// command/response log and thickness information block by block into a text
// report.
#pragma once

#include <memory>

#include "valdor/engine/send_thread.h"

namespace valdor {

class Panel;
class Host;

class OplogAcquisition final : public OplogHook {
public:
    OplogAcquisition(Panel &panel, Host &host, SendThread &worker);
    ~OplogAcquisition() override;

    // The "Acquire Ope-Log" button, on the window thread: file dialog,
    // report file, first request.
    void start();

    // The "Operational Log" button, on the window thread, before it posts
    // command 13: stops a running acquisition (no further request goes out;
    // the worker closes the report).
    void stopAcquiring();

    // OplogHook: called on the worker.
    bool underWay() const override;
    std::optional<std::pair<uint8_t, uint8_t>> beginRequest() override;
    std::optional<std::pair<uint8_t, uint8_t>> onResponse(std::span<const uint8_t> text) override;
    void abort() override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace valdor
