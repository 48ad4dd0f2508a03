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
    // The worker gives every response to a running download first, so a
    // download and an acquisition on one worker must never run together.
    virtual bool downloadUnderWay() const = 0;
    virtual bool acquisitionUnderWay() const = 0;
};

class SendThreadLink final : public WorkerLink {
public:
    explicit SendThreadLink(SendThread &worker) : worker_(worker) {}
    bool runOnWorker(const std::function<void()> &fn) override { return worker_.runOnWorker(fn); }
    bool postCommand(int command) override { return worker_.postCommand(command); }
    bool downloadUnderWay() const override { return worker_.downloadUnderWay(); }
    bool acquisitionUnderWay() const override { return worker_.acquisitionUnderWay(); }

private:
    SendThread &worker_;
};

}  // namespace valdor
