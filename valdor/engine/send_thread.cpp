#include "valdor/engine/send_thread.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>

#include "rslink/rslink.h"
#include "valdor/panel/controls.h"
#include "valdor/panel/panel.h"
#include "valdor/panel/parameter_snapshot.h"
#include "valdor/engine/commands.h"
#include "valdor/engine/request_builder.h"
#include "valdor/engine/request_ledger.h"
#include "valdor/engine/trace_line.h"
#include "valdor/responses/device_info_decoder.h"
#include "valdor/responses/response_decoder.h"

namespace valdor {

namespace {

// A call handed to the worker by runOnWorker; lparam is its address.
constexpr unsigned WKM_CALL = 0x8001;
// Arms the continuous sequence; wparam is 1 for the front side.  Posted just
// before the command 3 that starts it.
constexpr unsigned WKM_SEQUENCE = 0x8002;

}  // namespace

struct SendThread::Call {
    const std::function<void()> *fn = nullptr;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool ran = false;
};

// Everything the worker owns; lives on the worker thread's stack.
class SendThread::Worker {
public:
    explicit Worker(SendThread &owner)
        : owner_(owner), panel_(owner.panel_) {}

    // The message loop; returns when the thread is to end.
    void run() {
        RS_MSG msg{};
        while (!stopping_) {
            if (RSGetMessage(&msg) != RS_GOT_MESSAGE) break;  // quit request, or no queue
            switch (msg.message) {
                case WKM_COMMAND: onCommand(static_cast<int>(msg.wparam)); break;
                case RSM_NOTIFY: onNotify(reinterpret_cast<const MSG_BLK *>(msg.lparam)); break;
                case WKM_CALL: onCall(reinterpret_cast<Call *>(msg.lparam)); break;
                case WKM_SEQUENCE: sequence_ = {true, 1, msg.wparam != 0}; break;
                default: break;
            }
        }
    }

    const SequenceView &sequence() const { return sequence_; }

    bool idle() const { return ledger_.empty(); }

    // Ends every transfer and mode and forgets the requests of a closed port.
    void resetAfterClose() {
        abortAll();
        panel_.setChecked(ctl::ContinuousMode, false);
        ledger_.clear();
    }

private:
    using Request = RequestLedger::Request;

    // ---- commands ------------------------------------------------------
    void onCommand(int command) {
        requestLength_ = 0;
        if (command >= CMD_STATUS_READ && command <= CMD_LOG_WITH_MSG) {
            Owner owner = Owner::Operator;
            requestLength_ = static_cast<uint16_t>(buildCommand(command, owner));
            send(request_.data(), requestLength_, owner);
        } else if (command == CMD_DOWNLOAD_BLOCK) {
            size_t n = owner_.download_ ? owner_.download_->takeBlock(request_.data(), request_.size()) : 0;
            requestLength_ = static_cast<uint16_t>(n);
            if (requestLength_ != 0) send(request_.data(), requestLength_, Owner::Download);
        }
    }

    size_t buildCommand(int command, Owner &owner) {
        if (command == CMD_OPERATIONAL_LOG && owner_.oplog_) {
            if (auto at = owner_.oplog_->beginRequest()) {
                // A new acquisition: what an earlier one still awaits is no
                // longer anybody's.
                ledger_.disown(Owner::Oplog);
                owner = Owner::Oplog;
                return buildOperationalLogRequest(at->first, at->second, request_.data());
            }
        }
        // The parameters in one read, so a window is asked once per request.
        return buildRequest(command, ParameterSnapshot(panel_), request_.data(), localNow());
    }

    // ---- sending -------------------------------------------------------
    void send(const uint8_t *bytes, size_t length, Owner owner) {
        if (length == 0) return;
        if (MSG_BLK *block = ledger_.place({bytes, length}, owner)) hand(*block);
    }

    void hand(MSG_BLK &block) {
        if (RSSend(&block) == RS_OK) return;
        refused(ledger_.withdraw(block));
    }

    // The driver refuses a block when no port is open.  When the console has
    // closed the port (or is closing it), a command pressed just before COM
    // Close, or the next step of a transfer or mode, simply has no port to go
    // to: it ends, and what sent it with it, quietly; the close ends the rest.
    // Any other refusal means the driver cannot take requests at all.
    void refused(Owner owner) {
        if (!owner_.portClosed_.load()) {
            panel_.appendMessage(kRefusedMessage);
            stopping_ = true;
            return;
        }
        switch (owner) {
            case Owner::Download:
                if (owner_.download_) owner_.download_->abort();
                break;
            case Owner::Oplog:
                if (owner_.oplog_) owner_.oplog_->abort();
                break;
            case Owner::Automatic:
                endSequence();
                panel_.setChecked(ctl::ContinuousMode, false);
                break;
            case Owner::Operator:
            case Owner::Nobody:
                break;
        }
    }

    // The outcome of a request has arrived; the requests held back take the
    // blocks it leaves free.
    void slotDone(const MSG_BLK &block, bool acknowledged) {
        ledger_.outcome(block, acknowledged);
        while (!stopping_) {
            MSG_BLK *next = ledger_.placeHeld();
            if (!next) break;
            hand(*next);
        }
    }

    // A request of the repeat mode or the sequence is on its way or awaits
    // its answer: the mode runs, and goes on with that answer.
    bool automaticRunning() const { return ledger_.holds(Owner::Automatic); }

    void release(const MSG_BLK &received) {
        // A ring of blocks: the driver may not have taken the previous
        // release yet, and at most ten buffers are ever lent at once.
        MSG_BLK &block = releases_[nextRelease_++ % releases_.size()];
        block = MSG_BLK{BLK_RELEASE, 0, 0, received.length, received.data};
        // Refused only when the port has been closed meanwhile; the next
        // open renews the pool, so there is nothing to give back to.
        (void)RSSend(&block);
    }

    // ---- notifications -------------------------------------------------
    void onNotify(const MSG_BLK *block) {
        if (!block) return;
        switch (block->code) {
            case BLK_SEND_OK: onSendOk(*block); break;
            case BLK_SEND_FAILED: onSendFailed(*block); break;
            case BLK_API_ERROR: onApiError(); break;
            case BLK_RECEIVED: onReceived(*block); break;
            default: break;
        }
    }

    void onSendOk(const MSG_BLK &block) {
        panel_.appendMessage(traceLine("SEND[", localNow(), {block.data, block.length}));
        panel_.appendMessage("Send Normal End");
        slotDone(block, true);
    }

    void onSendFailed(const MSG_BLK &block) {
        panel_.setChecked(ctl::ContinuousMode, false);
        abortAll();
        panel_.appendMessage(traceLine("SEND[", localNow(), {block.data, block.length}));
        panel_.appendMessage(kSendFailedLine);
        slotDone(block, false);
    }

    void onApiError() {
        panel_.setChecked(ctl::ContinuousMode, false);
        abortAll();
        panel_.appendMessage(kApiErrorLine);
    }

    void onReceived(const MSG_BLK &block) {
        // Copied first: the buffer goes back to the driver before the
        // transfers look at the text, and the driver may fill it again.
        std::vector<uint8_t> text(block.data, block.data + block.length);
        // Both windows' writes in one step; the device window's are dropped
        // while it does not exist.
        PanelWrites writes = decodeResponse(text);
        writes.append(decodeDeviceResponse(text));
        panel_.apply(writes.span());
        panel_.appendMessage(traceLine("RECV[", localNow(), text));
        release(block);
        panel_.appendMessage("Receive Normal End");
        // A frame without text has no response code: not positive.
        uint8_t code = text.empty() ? 0 : text[0];
        if (auto answered = ledger_.takeAnswered(text)) decideWhatFollows(code, text, *answered);
        owner_.framesHandled_.fetch_add(1);
        if (owner_.frameObserver_) owner_.frameObserver_();
    }

    bool transferUnderWay() const {
        return (owner_.download_ && owner_.download_->underWay()) || (owner_.oplog_ && owner_.oplog_->underWay());
    }

    void decideWhatFollows(uint8_t code, std::span<const uint8_t> text, const Request &answered) {
        switch (answered.owner) {
            case Owner::Download:
                if (owner_.download_ && owner_.download_->underWay()) owner_.download_->onResponse(code);
                break;
            case Owner::Oplog:
                if (owner_.oplog_ && owner_.oplog_->underWay()) continueAcquisition(text);
                break;
            case Owner::Automatic:
                repeatOrSequence(code, answered.bytes);
                break;
            case Owner::Operator:
                // A command pressed while a transfer or a mode runs leaves
                // them to their own answers.
                if (transferUnderWay()) {
                    // "Bill Count / Transport" answered while a transfer
                    // runs: the sequence cannot go on beside it, and left
                    // armed, a later unrelated answer would start the
                    // deliveries.  It ends as a negative answer ends it.
                    if (sequence_.active && !automaticRunning()) {
                        endSequence();
                        panel_.setChecked(ctl::ContinuousMode, false);
                    }
                } else if (!automaticRunning()) {
                    repeatOrSequence(code, answered.bytes);
                }
                break;
            case Owner::Nobody:
                break;
        }
    }

    void continueAcquisition(std::span<const uint8_t> text) {
        auto next = owner_.oplog_->onResponse(text);
        // "Operational Log" may have stopped the acquisition while the
        // response was written: look again just before sending.
        if (!next || !owner_.oplog_->underWay()) return;
        uint8_t bytes[16];
        size_t n = buildOperationalLogRequest(next->first, next->second, bytes);
        send(bytes, n, Owner::Oplog);
    }

    // ---- automatic modes -----------------------------------------------
    void endSequence() { sequence_ = SequenceView{}; }

    // `answered`: the request whose answer this is, which the repeat mode
    // sends again.
    void repeatOrSequence(uint8_t code, const std::vector<uint8_t> &answered) {
        if (!panel_.checked(ctl::ContinuousMode)) {
            endSequence();
            return;
        }
        if (code != kPositiveResponse) {
            endSequence();
            panel_.setChecked(ctl::ContinuousMode, false);
            return;
        }
        if (!sequence_.active) {
            send(answered.data(), answered.size(), Owner::Automatic);  // repeat mode
            return;
        }
        bool front = sequence_.front;
        switch (sequence_.step) {
            case 1:
                sequence_.step = 2;
                requestLength_ = static_cast<uint16_t>(buildSequenceTransport(ParameterSnapshot(panel_), front, false, request_.data()));
                break;
            case 2:
                sequence_.step = 0;
                requestLength_ = static_cast<uint16_t>(buildSequenceTransport(ParameterSnapshot(panel_), front, true, request_.data()));
                break;
            case 0:
                sequence_.step = 1;
                requestLength_ = static_cast<uint16_t>(buildRequest(CMD_BILL_COUNT, ParameterSnapshot(panel_), request_.data(), localNow()));
                break;
            default:
                endSequence();
                return;
        }
        send(request_.data(), requestLength_, Owner::Automatic);
    }

    // A send failure, a driver error or a closed port: every transfer and
    // mode ends; requests they had waiting are dropped.
    void abortAll() {
        if (owner_.download_) owner_.download_->abort();
        if (owner_.oplog_) owner_.oplog_->abort();
        endSequence();
        ledger_.dropHeldExcept(Owner::Operator);
        // Their answers, should they still come, go no further.
        ledger_.disown(Owner::Download);
        ledger_.disown(Owner::Oplog);
        ledger_.disown(Owner::Automatic);
    }

    // A transfer that has ended (a cancelled dialog resets a download from
    // the window through a call) leaves no claim on answers still to come:
    // they must not move the next one along.
    void forgetEndedTransfers() {
        if (!(owner_.download_ && owner_.download_->underWay())) ledger_.disown(Owner::Download);
        if (!(owner_.oplog_ && owner_.oplog_->underWay())) ledger_.disown(Owner::Oplog);
    }

    void onCall(Call *call) {
        {
            std::lock_guard lock(owner_.callsMutex_);
            std::erase(owner_.calls_, call);
        }
        // Transfers start and are reset from the window through calls.
        forgetEndedTransfers();
        (*call->fn)();
        forgetEndedTransfers();
        std::lock_guard lock(call->mutex);
        call->ran = true;
        call->finished = true;
        call->done.notify_all();
    }

    SendThread &owner_;
    Panel &panel_;
    SequenceView sequence_;
    bool stopping_ = false;

    std::array<uint8_t, kRequestBufferSize> request_{};
    uint16_t requestLength_ = 0;
    RequestLedger ledger_;
    std::array<MSG_BLK, 16> releases_{};
    size_t nextRelease_ = 0;
};

SendThread::SendThread(Panel &panel, DownloadHook *download, OplogHook *oplog)
    : panel_(panel), download_(download), oplog_(oplog) {}

SendThread::~SendThread() { stop(); }

rslink::Result<> SendThread::start() {
    if (thread_.joinable()) return rslink::Failure::of(EALREADY, "SendThread runs already");
    std::promise<unsigned long> started;
    auto id = started.get_future();
    try {
        thread_ = std::thread([this, &started] { run(&started); });
    } catch (const std::system_error &e) {
        ended_ = true;
        return rslink::Failure::of(e.code().value(), "cannot start SendThread");
    }
    threadId_ = id.get();
    if (threadId_ == 0) return rslink::Failure{0, "SendThread got no message queue"};
    return {};
}

void SendThread::run(std::promise<unsigned long> *started) {
    unsigned long id = RSQueueCreate();
    started->set_value(id);
    if (id == 0) {
        ended_ = true;
        return;
    }
    {
        Worker worker(*this);
        worker_ = &worker;
        worker.run();
        worker_ = nullptr;
    }
    // Posts fail from here on; calls that were waiting in the queue are
    // finished as not run.
    RSQueueDestroy();
    finishCalls();
}

void SendThread::finishCalls() {
    std::lock_guard lock(callsMutex_);
    ended_ = true;
    for (Call *call : calls_) {
        std::lock_guard callLock(call->mutex);
        call->finished = true;
        call->done.notify_all();
    }
    calls_.clear();
}

bool SendThread::post(unsigned message, uintptr_t wparam) {
    unsigned long id = threadId_;
    if (id == 0 || ended_ || RSPostMessage(id, message, wparam, 0) != RS_OK) {
        panel_.appendMessage(kRefusedMessage);
        return false;
    }
    return true;
}

bool SendThread::postCommand(int command) { return post(WKM_COMMAND, static_cast<uintptr_t>(command)); }

bool SendThread::postSequence(bool front) { return post(WKM_SEQUENCE, front ? 1 : 0) && postCommand(CMD_BILL_COUNT); }

std::optional<SequenceView> SendThread::sequence() {
    SequenceView view;
    bool ran = runOnWorker([&] {
        if (worker_) view = worker_->sequence();
    });
    if (!ran) return std::nullopt;
    return view;
}

bool SendThread::idle() {
    bool idle = false;
    runOnWorker([&] { idle = worker_ && worker_->idle(); });
    return idle;
}

bool SendThread::runOnWorker(const std::function<void()> &fn) {
    if (std::this_thread::get_id() == thread_.get_id()) {
        fn();
        return true;
    }
    Call call;
    call.fn = &fn;
    {
        std::lock_guard lock(callsMutex_);
        if (ended_ || threadId_ == 0) return false;
        calls_.push_back(&call);
        if (RSPostMessage(threadId_, WKM_CALL, 0, reinterpret_cast<uintptr_t>(&call)) != RS_OK) {
            calls_.pop_back();
            return false;
        }
    }
    std::unique_lock lock(call.mutex);
    call.done.wait(lock, [&] { return call.finished; });
    return call.ran;
}

void SendThread::resetAfterClose() {
    runOnWorker([this] {
        if (worker_) worker_->resetAfterClose();
    });
}

void SendThread::stop() {
    if (!thread_.joinable()) return;
    if (std::this_thread::get_id() == thread_.get_id()) return;  // cannot join itself
    unsigned long id = threadId_;
    if (id != 0) RSPostQuit(id);
    thread_.join();
}

}  // namespace valdor
