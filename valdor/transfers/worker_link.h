// What a transfer needs of the worker it continues on: run a step there, and
// post it a command.  The console gives it SendThread; the transfer tests give
// it a thread of their own.
#pragma once

#include <functional>

#include "valdor/engine/send_thread.h"

namespace valdor {

class WorkerLink {
public:
    virtual ~WorkerLink() = default;
    // Runs `fn` on the worker and waits for it; false when the worker has
    // ended and nothing ran.
    virtual bool runOnWorker(const std::function<void()> &fn) = 0;
    // Posts WKM_COMMAND; false (after appending "Message send to SendThread
    // error") when the post failed.
    virtual bool postCommand(int command) = 0;
    // Which worker this is: transfers that continue on the same worker must
    // not run at the same time.
    virtual const void *identity() const = 0;
};

class SendThreadLink final : public WorkerLink {
public:
    explicit SendThreadLink(SendThread &worker) : worker_(worker) {}
    bool runOnWorker(const std::function<void()> &fn) override { return worker_.runOnWorker(fn); }
    bool postCommand(int command) override { return worker_.postCommand(command); }
    const void *identity() const override { return &worker_; }

private:
    SendThread &worker_;
};

}  // namespace valdor
