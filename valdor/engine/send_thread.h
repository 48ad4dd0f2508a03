// SendThread: the console's one worker thread and the only code that talks to
// the link driver.  It turns command numbers into requests, traces every
// frame, hands responses to the decoders and runs the repeat mode, the
// continuous count-and-transport sequence and the transfers' continuations.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "rslink/core/result.h"

namespace valdor {

class Panel;

// The message lines that say a request went wrong on the line: the unit
// never took it (the send's retries ran out), or the driver reported an
// error such as the line hanging up.
inline constexpr const char *kSendFailedLine = "Send Abnormal End";
inline constexpr const char *kApiErrorLine = "API Error End";

// The continuous count-and-transport sequence as the worker holds it.  Only
// the worker keeps it: "Bill Count / Transport" arms it through the worker's
// queue (postSequence), so no other thread ever writes it.
struct SequenceView {
    bool active = false;
    uint8_t step = 255;  // 1, 2, 0, or 255 = idle
    bool front = false;
    bool operator==(const SequenceView &) const = default;
};

// The worker's side of the program download.  All calls run on the worker.
class DownloadHook {
public:
    virtual ~DownloadHook() = default;
    // A download is under way (`more_data` set or `step` not 0).
    virtual bool underWay() const = 0;
    // Command 100: copies the prepared frame into `out` (capacity `cap`) and
    // returns its length; 0 sends nothing.
    virtual size_t takeBlock(uint8_t *out, size_t cap) = 0;
    // After a received frame, while underWay(): the next frame or the end.
    virtual void onResponse(uint8_t responseCode) = 0;
    // Ends a running download: file closed, state reset, no message.
    virtual void abort() = 0;
};

// The worker's side of the operational-log acquisition.  All calls run on
// the worker.
class OplogHook {
public:
    virtual ~OplogHook() = default;
    // `acquiring` is set.
    virtual bool underWay() const = 0;
    // Command 13: when an acquisition runs, writes the heading it needs and
    // returns (section, block) for the request; otherwise closes a report
    // that "Operational Log" left open and returns nothing (the request then
    // takes P1 and P2).
    virtual std::optional<std::pair<uint8_t, uint8_t>> beginRequest() = 0;
    // After a received frame, while underWay(): writes the data and returns
    // the next (section, block) to request, or nothing when it has ended.
    virtual std::optional<std::pair<uint8_t, uint8_t>> onResponse(std::span<const uint8_t> text) = 0;
    // Ends a running acquisition: report closed with what it holds, state
    // reset, no message.
    virtual void abort() = 0;
};

class SendThread {
public:
    // `panel` must outlive the worker.  The hooks may be null (no transfers).
    SendThread(Panel &panel, DownloadHook *download = nullptr, OplogHook *oplog = nullptr);
    ~SendThread();  // stops the thread if it still runs

    SendThread(const SendThread &) = delete;
    SendThread &operator=(const SendThread &) = delete;

    // Starts the thread (once).
    rslink::Result<> start();

    // The worker's thread identifier (its message queue), 0 before start.
    unsigned long threadId() const { return threadId_.load(); }

    // The thread has ended (after a refused command, or stop()).
    bool ended() const { return ended_.load(); }

    // Posts WKM_COMMAND; false (after appending "Message send to SendThread
    // error") when the post failed.
    bool postCommand(int command);

    // "Bill Count / Transport": arms the sequence on the side `front` names
    // and posts command 3 behind it on the same queue, so the worker takes
    // both in that order.  False (after appending "Message send to
    // SendThread error" once) when the queue refused either.
    bool postSequence(bool front);

    // The sequence as the worker holds it between two messages; nothing when
    // the worker has ended.  May block: call it through Host::runBlocking.
    std::optional<SequenceView> sequence();

    // No request is waiting to go, going, or awaiting its answer (between
    // two messages).  False when the worker has ended.  May block: call it
    // through Host::runBlocking.
    bool idle();

    // Ends a running download and acquisition as a send failure does, and
    // the repeat mode and continuous sequence with them (1242 cleared), on
    // the worker, and waits until that is done.  For COM Close and Exit,
    // after the port has been closed.  May block: call it through
    // Host::runBlocking.
    void resetAfterClose();

    // Runs `fn` on the worker between two messages and waits for it.  When
    // the worker has ended, runs nothing and returns false.  May block: call
    // it through Host::runBlocking.
    bool runOnWorker(const std::function<void()> &fn);

    // Asks the thread to quit and joins it.  May block: call it through
    // Host::runBlocking.
    void stop();

    // The console has closed the port or is about to (true), or has opened
    // it (false).  A request the driver refuses while the port is closed
    // ends quietly instead of ending the worker.
    void setPortClosed(bool closed) { portClosed_ = closed; }

    // Called on the worker after each received frame has been handled to its
    // end (decoded, traced, given back, what follows decided).  Set before
    // start().
    void setFrameObserver(std::function<void()> observer) { frameObserver_ = std::move(observer); }

    // Frames handled since start.
    uint64_t framesHandled() const { return framesHandled_.load(); }

    // A transfer runs on this worker.  Safe from any thread: the hooks answer
    // from atomics.
    bool downloadUnderWay() const { return download_ && download_->underWay(); }
    bool acquisitionUnderWay() const { return oplog_ && oplog_->underWay(); }

private:
    class Worker;
    struct Call;
    friend class Worker;

    void run(std::promise<unsigned long> *started);
    void finishCalls();
    // Posts to the worker's queue; a refusal appends "Message send to
    // SendThread error".
    bool post(unsigned message, uintptr_t wparam);

    Panel &panel_;
    DownloadHook *download_;
    OplogHook *oplog_;
    std::function<void()> frameObserver_;
    std::thread thread_;
    std::atomic<unsigned long> threadId_{0};
    std::atomic<bool> ended_{false};
    std::atomic<bool> portClosed_{false};
    std::atomic<uint64_t> framesHandled_{0};
    Worker *worker_ = nullptr;  // touched on the worker thread only

    // Calls handed to the worker and not yet run; finished as "not run" when
    // the worker ends, so that no caller waits for ever.
    std::mutex callsMutex_;
    std::vector<Call *> calls_;
};

}  // namespace valdor
