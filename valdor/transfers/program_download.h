// "DownLoad": sends a control program file to the unit as a chain of
// numbered data frames, then an end frame and a frame that sets its clock,
// each after a positive answer to the one before.
#pragma once

#include <memory>

#include "valdor/engine/send_thread.h"

namespace valdor {

class Panel;
class Host;

class ProgramDownload final : public DownloadHook {
public:
    ProgramDownload(Panel &panel, Host &host, SendThread &worker);
    ~ProgramDownload() override;

    // The "DownLoad" button, on the window thread: file dialog, checks,
    // first data frame.
    void start();

    // DownloadHook: called on the worker.
    bool underWay() const override;
    size_t takeBlock(uint8_t *out, size_t cap) override;
    void onResponse(uint8_t responseCode) override;
    void abort() override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace valdor
