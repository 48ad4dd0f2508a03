// The link driver: the calls of the line interface and the capture, the
// driver thread that runs one send exchange per queued BLK_SEND, and the
// receive thread that runs the receive path whenever no send exchange holds
// the line.
//
// There is no thread suspension here.  The receive thread hands the line over
// instead: when the driver thread wants it, the receive thread parks at a safe
// point (between reads, with the receive path idle) and resumes when told.  It
// reads one byte at a time and handles each before it looks at a request, so
// no byte it has read is lost at a hand-over.
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include <poll.h>

#include "rslink/core/buffer_pool.h"
#include "rslink/core/receive_path.h"
#include "rslink/core/send_exchange.h"
#include "rslink/core/frame.h"
#include "rslink/core/port_name.h"
#include "rslink/platform/capture_file.h"
#include "rslink/platform/diag.h"
#include "rslink/platform/driver_port.h"
#include "rslink/platform/fd_io.h"
#include "rslink/platform/network_port.h"
#include "rslink/platform/port_map.h"
#include "rslink/platform/serial_port.h"
#include "rslink/platform/timer_service.h"
#include "rslink/rslink.h"
#include "rslink/src/open_info.h"

namespace rslink {
namespace {

using platform::diag;
using platform::DriverPort;
using platform::LineSettings;
using platform::NetworkPort;
using platform::SerialPort;
using platform::TimerService;
using Clock = std::chrono::steady_clock;

constexpr auto kOpenSettleTime = std::chrono::milliseconds(500);
// A close cuts every wait short but lets a frame being written or read end;
// only a line that never stops sending makes it give up after this long.
constexpr auto kCloseWaitLimit = std::chrono::seconds(60);

// ---- module-level state ------------------------------------------------------

// Notification blocks.  Each event gets its own block, so that a client that
// is slow to take its messages never reads one event's block filled with the
// next event: a received text's block belongs to its buffer until the buffer
// comes back, results and errors use rings far longer than any backlog.
class Notices {
public:
    MSG_BLK *result(uint8_t code, uint32_t length, uint8_t *data) {
        std::lock_guard lock(mutex_);
        return fill(results_[nextResult_++ % results_.size()], code, 0, length, data);
    }
    MSG_BLK *error(uint32_t error) {
        std::lock_guard lock(mutex_);
        return fill(errors_[nextError_++ % errors_.size()], BLK_API_ERROR, error, 0, nullptr);
    }
    MSG_BLK *received(size_t buffer, uint32_t length, uint8_t *data) {
        std::lock_guard lock(mutex_);
        return fill(received_[buffer], BLK_RECEIVED, 0, length, data);
    }

private:
    static MSG_BLK *fill(MSG_BLK &b, uint8_t code, uint32_t error, uint32_t length,
                         uint8_t *data) {
        b = MSG_BLK{code, 0, error, length, data};
        return &b;
    }
    std::mutex mutex_;
    std::array<MSG_BLK, 64> results_{};
    std::array<MSG_BLK, 16> errors_{};
    std::array<MSG_BLK, core::BufferPool::kCount> received_{};
    size_t nextResult_ = 0;
    size_t nextError_ = 0;
};

// Never destroyed: the client may still read a block or a buffer after the
// close, and threads may still run while the process exits.
core::BufferPool &pool() {
    static auto *p = new core::BufferPool;
    return *p;
}
Notices &notices() {
    static auto *n = new Notices;
    return *n;
}

// The capture outlives every session (a session's port points at it).
platform::CaptureFile &capture() {
    static auto *c = new platform::CaptureFile;
    return *c;
}
std::atomic<bool> g_captureEnvTaken{false};  // RSLINK_CAPTURE starts one capture a process

std::atomic<bool> g_open{false};
std::atomic<unsigned long> g_client{0};
std::atomic<unsigned long> g_driver{0};
std::mutex g_lifecycle;  // RSOpen and RSClose one at a time
// RSSend posts only while this is set; a close clears it in the same step
// as it posts RSM_QUIT, so every accepted block is ahead of the quit in the
// driver's queue and gets its outcome.
std::mutex g_sendGate;
bool g_accepting = false;  // under g_sendGate
LineSettings g_settings;  // under g_lifecycle
int g_port = 1;           // under g_lifecycle

bool notify(MSG_BLK *block) {
    return RSPostMessage(g_client.load(), RSM_NOTIFY, 0, reinterpret_cast<uintptr_t>(block)) == RS_OK;
}

// Code 66 to the client.  When even that cannot be posted there is no one
// left to tell; the diagnostic is all that remains.
void reportDriverError(int error) {
    diag("driver error %d (%s) reported to thread %lu", error, std::strerror(error),
         g_client.load());
    if (!notify(notices().error(static_cast<uint32_t>(error))))
        diag("cannot post the driver error to thread %lu: it has no queue", g_client.load());
}

// ---- one open port -----------------------------------------------------------

class Session final : public core::ReceiveListener, public core::InboundHandOver {
public:
    explicit Session(std::unique_ptr<DriverPort> port)
        : port_(std::move(port)),
          sendTimer_(timers_.makeTimer()),
          receiveTimer_(timers_.makeTimer()),
          receive_(*port_, *receiveTimer_, pool(), *this),
          exchange_(*port_, *sendTimer_, *this) {}

    ~Session() override { close(); }

    Result<> startDriver();
    Result<> startReceiver();
    void close();
    DriverPort &port() { return *port_; }

    bool delivered(uint8_t *buffer, uint32_t length) override;
    void becameIdle() override;
    void takeInboundFrame() override;

    // Lets RSSend post to the driver thread.
    void accept();

private:
    void driverLoop(std::promise<unsigned long> *ready);
    void take(const MSG_BLK &block);
    void notifyResult(bool sent, uint32_t length, uint8_t *data);
    void send(uint32_t length, uint8_t *data);
    bool beginSend();
    void endSend();
    void acquireLine();
    void releaseLine();
    void receiveLoop();
    void park(std::unique_lock<std::mutex> &lock);
    void settle();
    void quitDriver();
    void noticeHangUp();

    std::unique_ptr<DriverPort> port_;
    TimerService timers_;
    std::unique_ptr<core::Timer> sendTimer_;
    std::unique_ptr<core::Timer> receiveTimer_;
    core::ReceivePath receive_;
    core::SendExchange exchange_;
    std::array<uint8_t, kTxFrameBuffer> frame_{};

    // The hand-over between the driver thread and the receive thread, and the
    // marks a close waits for.
    std::mutex handMutex_;
    std::condition_variable handChanged_;
    bool sendBusy_ = false;
    bool closing_ = false;     // no new send exchange starts
    bool stop_ = false;        // the receive thread ends
    bool lineWanted_ = false;  // the driver thread asks for the line
    bool rxParked_ = false;
    bool rxEnded_ = true;
    bool hangUpReported_ = false;  // a hang-up is reported once per open
    uint64_t parkCount_ = 0;
    uint64_t resumeTicket_ = 0;

    unsigned long driverId_ = 0;
    std::thread driver_;
    std::thread receiver_;
    bool closed_ = false;
};

Result<> Session::startDriver() {
    std::promise<unsigned long> ready;
    std::future<unsigned long> id = ready.get_future();
    try {
        driver_ = std::thread([this, &ready] { driverLoop(&ready); });
    } catch (const std::system_error &e) {
        return Failure{e.code().value(), std::string("cannot start the driver thread: ") + e.what()};
    }
    driverId_ = id.get();
    g_driver.store(driverId_);
    return {};
}

Result<> Session::startReceiver() {
    {
        std::lock_guard lock(handMutex_);
        rxEnded_ = false;
    }
    try {
        receiver_ = std::thread([this] { receiveLoop(); });
    } catch (const std::system_error &e) {
        std::lock_guard lock(handMutex_);
        rxEnded_ = true;
        return Failure{e.code().value(), std::string("cannot start the receive thread: ") + e.what()};
    }
    return {};
}

void Session::accept() {
    std::lock_guard gate(g_sendGate);
    g_accepting = true;
}

// Cuts short the waits of the exchanges in progress, lets a frame being
// written or read end, fails every block still queued, stops both threads
// and closes the port.
void Session::close() {
    if (closed_) return;
    closed_ = true;
    settle();
    port_->wake();
    quitDriver();
    g_driver.store(0);
    if (receiver_.joinable()) receiver_.join();
    timers_.stop();  // no time-out handler runs after this
    port_->close();
}

void Session::settle() {
    {
        std::lock_guard lock(handMutex_);
        closing_ = true;
    }
    exchange_.abort();
    receive_.stopWaiting();
    port_->wake();
    std::unique_lock lock(handMutex_);
    const bool quiet = handChanged_.wait_for(
        lock, kCloseWaitLimit, [&] { return !sendBusy_ && !receive_.busy(); });
    stop_ = true;
    handChanged_.notify_all();
    if (!quiet) diag("%s: the line did not fall silent; closing anyway", port_->path().c_str());
}

// Blocks queued before the quit are taken first, each failing at once.
void Session::quitDriver() {
    if (!driver_.joinable()) {
        std::lock_guard gate(g_sendGate);
        g_accepting = false;
        return;
    }
    int posted;
    {
        std::lock_guard gate(g_sendGate);
        g_accepting = false;
        posted = RSPostMessage(driverId_, RSM_QUIT, 0, 0);
    }
    if (posted != RS_OK) reportDriverError(ESRCH);
    driver_.join();  // a driver thread without a queue has ended already
}

// ---- driver thread -----------------------------------------------------------

void Session::driverLoop(std::promise<unsigned long> *ready) {
    ready->set_value(RSQueueCreate());
    for (;;) {
        RS_MSG msg{};
        const int got = RSGetMessage(&msg);
        if (got == RS_ERR_NO_QUEUE) {  // nothing more can arrive
            reportDriverError(EBADF);
            break;
        }
        if (got == RS_GOT_QUIT) {  // not from RSClose
            reportDriverError(ECANCELED);
            continue;
        }
        if (msg.message == RSM_QUIT) break;
        if (msg.message == RSM_SEND && msg.lparam)
            take(*reinterpret_cast<const MSG_BLK *>(msg.lparam));
    }
    RSQueueDestroy();
}

void Session::take(const MSG_BLK &block) {
    if (block.code == BLK_SEND)
        send(block.length, block.data);
    else if (block.code == BLK_RELEASE)
        pool().release(block.data);  // an address outside the pool is ignored
}

// A text longer than the driver's copy buffer (or one without data) fails
// without anything copied and without touching the line.  Once a close has
// begun, or the line has hung up, queued blocks fail the same way.
void Session::send(uint32_t length, uint8_t *data) {
    bool sent = false;
    bool lineTaken = false;
    if (!beginSend()) {
        diag("%s: BLK_SEND after the close began: failed", port_->path().c_str());
    } else if (port_->gone()) {
        diag("%s: BLK_SEND on a line that hung up: failed", port_->path().c_str());
    } else if (length > kMaxSendText || (!data && length > 0)) {
        diag("%s: BLK_SEND of %u bytes refused: a text holds at most %zu", port_->path().c_str(),
             length, kMaxSendText);
    } else {
        const size_t frameLength = buildFrame(data, length, frame_.data());
        acquireLine();
        lineTaken = true;
        const core::TxResult result = exchange_.run(frame_.data(), frameLength);
        exchange_.resetBudgets();
        sent = result.acknowledged();
        if (!sent) {
            std::ostringstream why;
            why << result;
            diag("%s: BLK_SEND of %u bytes failed: %s", port_->path().c_str(), length,
                 why.str().c_str());
        }
    }
    // The outcome goes out before the receive thread may take the unit's
    // answer, so that the client always learns of a send before its
    // response.  Bytes that arrive meanwhile wait in the port.
    notifyResult(sent, length, data);
    if (lineTaken) releaseLine();
    endSend();
    if (port_->gone()) noticeHangUp();  // after this block's own outcome
}

void Session::notifyResult(bool sent, uint32_t length, uint8_t *data) {
    if (!notify(notices().result(sent ? BLK_SEND_OK : BLK_SEND_FAILED, length, data)))
        reportDriverError(ESRCH);
}

bool Session::beginSend() {
    std::lock_guard lock(handMutex_);
    if (closing_) return false;
    sendBusy_ = true;
    return true;
}

void Session::endSend() {
    std::lock_guard lock(handMutex_);
    sendBusy_ = false;
    handChanged_.notify_all();
}

// Returns once the receive thread is parked with the receive path idle.
void Session::acquireLine() {
    std::unique_lock lock(handMutex_);
    lineWanted_ = true;
    handChanged_.notify_all();
    port_->wake();
    handChanged_.wait(lock, [&] { return rxParked_ || rxEnded_; });
}

void Session::releaseLine() {
    std::lock_guard lock(handMutex_);
    lineWanted_ = false;
    handChanged_.notify_all();
}

// Contention: the receive path answers the device's bid, the receive thread
// runs for one inbound exchange and parks again when it is idle.
void Session::takeInboundFrame() {
    receive_.grantInbound();
    std::unique_lock lock(handMutex_);
    const uint64_t parks = parkCount_;
    ++resumeTicket_;
    handChanged_.notify_all();
    handChanged_.wait(lock, [&] { return (rxParked_ && parkCount_ != parks) || rxEnded_; });
}

// The line hung up (the unit or its adapter went away): one code 66 with
// the system's error number, after the outcome of a block in progress (the
// driver thread reports it then) and never during a close.
void Session::noticeHangUp() {
    {
        std::lock_guard lock(handMutex_);
        if (hangUpReported_ || sendBusy_ || closing_) return;
        hangUpReported_ = true;
    }
    reportDriverError(port_->goneError());
}

// ---- receive thread ----------------------------------------------------------

void Session::receiveLoop() {
    std::unique_lock lock(handMutex_);
    while (!stop_) {
        if (lineWanted_ && !receive_.busy()) {
            park(lock);
            continue;
        }
        if (port_->gone() && !receive_.busy()) {
            // Every read would fail at once: wait for a request instead.
            lock.unlock();
            noticeHangUp();
            lock.lock();
            handChanged_.wait(lock, [&] { return stop_ || lineWanted_; });
            continue;
        }
        lock.unlock();
        uint8_t byte = 0;
        const core::ReadResult got = port_->read(&byte, 1);
        if (got.failed)
            receive_.onReadError();
        else if (got.count)
            receive_.onByte(byte);
        lock.lock();
    }
    rxEnded_ = true;
    rxParked_ = false;
    handChanged_.notify_all();
}

void Session::park(std::unique_lock<std::mutex> &lock) {
    rxParked_ = true;
    ++parkCount_;
    const uint64_t ticket = resumeTicket_;
    handChanged_.notify_all();
    handChanged_.wait(lock, [&] { return stop_ || !lineWanted_ || resumeTicket_ != ticket; });
    rxParked_ = false;
}

// ---- receive path's listener -------------------------------------------------

bool Session::delivered(uint8_t *buffer, uint32_t length) {
    const int index = pool().indexOf(buffer);
    if (notify(notices().received(static_cast<size_t>(index), length, buffer))) return true;
    reportDriverError(ESRCH);
    return false;
}

void Session::becameIdle() {
    {
        std::lock_guard lock(handMutex_);
        handChanged_.notify_all();
    }
    port_->wake();  // a receive thread waiting for a byte may now park
}

std::mutex g_sessionMutex;  // the session pointer against DTR/RTS calls
std::unique_ptr<Session> g_session;

void publish(std::unique_ptr<Session> session) {
    std::lock_guard lock(g_sessionMutex);
    g_session = std::move(session);
}

std::unique_ptr<Session> withdraw() {
    std::lock_guard lock(g_sessionMutex);
    return std::move(g_session);
}

int startSession(std::unique_ptr<DriverPort> port) {
    try {
        auto session = std::make_unique<Session>(std::move(port));
        Result<> started = session->startDriver();
        if (started) started = session->startReceiver();
        if (!started) {
            diag("%s", started.failure().why.c_str());
            session->close();
            return RS_ERR_SYSTEM;
        }
        session->accept();
        publish(std::move(session));
        return RS_OK;
    } catch (const std::exception &e) {
        diag("cannot start the driver: %s", e.what());
        return RS_ERR_SYSTEM;
    }
}

// Marks the open port in the capture and lets the port feed it.  Caller
// holds g_lifecycle.
void listenTo(DriverPort &port) {
    capture().opened({static_cast<uint32_t>(g_settings.speed),
                      static_cast<uint8_t>(g_settings.dataBits),
                      static_cast<uint8_t>(g_settings.parity),
                      static_cast<uint8_t>(g_settings.stopBits), static_cast<uint8_t>(g_port),
                      port.path()});
    port.setListener(&capture());
}

// Caller holds g_lifecycle.
void attachCapture(DriverPort &port) {
    if (!capture().active() && !g_captureEnvTaken.exchange(true)) {
        const char *path = std::getenv("RSLINK_CAPTURE");
        if (path && *path)
            if (Result<> started = capture().start(path, "rslink"); !started)
                diag("RSLINK_CAPTURE=%s: no capture: %s", path,
                     std::strerror(started.failure().error));
    }
    if (capture().active()) listenTo(port);
}

// An RSOpen in progress, which an RSClose from another thread may cut
// short: RSClose writes to its descriptor before it waits for the
// lifecycle lock that the open holds, and every wait of the open (the
// connect, the negotiation, the settling time) watches the descriptor.
std::mutex g_openingMutex;
const platform::WakeSignal *g_opening = nullptr;  // under g_openingMutex

class OpenInProgress {
public:
    OpenInProgress() : signal_(platform::WakeSignal::create()) {
        std::lock_guard lock(g_openingMutex);
        if (signal_) g_opening = &*signal_;
    }
    ~OpenInProgress() {
        std::lock_guard lock(g_openingMutex);
        g_opening = nullptr;
    }
    OpenInProgress(const OpenInProgress &) = delete;
    OpenInProgress &operator=(const OpenInProgress &) = delete;

    // -1 when no descriptor was to be had: then nothing cancels.
    int fd() const { return signal_ ? signal_->fd() : -1; }
    const Clock::time_point started = Clock::now();

    // Waits `span`, or less when cancelled.
    void sleepFor(std::chrono::milliseconds span) const {
        if (fd() < 0) {
            std::this_thread::sleep_for(span);
            return;
        }
        const auto until = Clock::now() + span;
        for (auto now = Clock::now(); now < until; now = Clock::now()) {
            pollfd p{fd(), POLLIN, 0};
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
            if (poll(&p, 1, static_cast<int>(left.count())) > 0) return;
        }
    }

private:
    const Result<platform::WakeSignal> signal_;
};

void cancelOpenInProgress() {
    std::lock_guard lock(g_openingMutex);
    if (g_opening) g_opening->raise();
}

core::LineRequest lineRequestOf(const LineSettings &s) {
    constexpr core::StopSize kStops[] = {core::StopSize::One, core::StopSize::OneAndHalf,
                                         core::StopSize::Two};
    return {static_cast<uint32_t>(s.speed), static_cast<uint8_t>(s.dataBits),
            static_cast<core::Parity>(s.parity + 1), kStops[s.stopBits]};
}

// Caller holds g_lifecycle.
int openSerial(int port, const std::string &path, const OpenInProgress &opening) {
    Result<std::unique_ptr<SerialPort>> opened = SerialPort::open(path, g_settings);
    if (!opened) {
        recordOpenInfo(path, nullptr, opened.failure().error);
        diag("COM%d: %s", port, opened.failure().why.c_str());
        return RS_ERR_PORT;
    }
    recordOpenInfo(path, opened->get(), 0);
    attachCapture(**opened);
    const int result = startSession(std::move(*opened));
    if (result == RS_OK) opening.sleepFor(kOpenSettleTime);
    return result;
}

// The wait every open makes is spent watching the new connection, before
// the threads start, so that a server that closes it at once fails the
// open.  Caller holds g_lifecycle.
int openNetwork(int port, const std::string &path, const OpenInProgress &opening) {
    auto refuse = [&](const Failure &failure) {
        recordNetworkOpenInfo(path, failure.error, failure.why);
        diag("COM%d: cannot open %s: %s", port, path.c_str(), failure.why.c_str());
        return RS_ERR_PORT;
    };
    const Result<core::NetworkName> name = core::parseNetworkName(path);
    if (!name) return refuse(name.failure());
    platform::NetLinkOptions options;
    options.line = lineRequestOf(g_settings);
    options.cancelFd = opening.fd();
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - opening.started);
    options.settle = std::max(std::chrono::milliseconds(0), kOpenSettleTime - spent);
    Result<std::unique_ptr<NetworkPort>> opened = NetworkPort::open(*name, options);
    if (!opened) return refuse(opened.failure());
    const std::string refused = (*opened)->refusedSettings();
    recordNetworkOpenInfo(path, 0, refused);
    if (!refused.empty()) diag("line setting refused by %s: %s", path.c_str(), refused.c_str());
    attachCapture(**opened);
    return startSession(std::move(*opened));
}

int openPort(int port, const OpenInProgress &opening) {
    if (port < 1 || port > platform::kComPortCount) return RS_ERR_PORT;
    g_port = port;
    const std::string path = platform::comDevicePath(port);
    if (core::isNetworkName(path)) return openNetwork(port, path, opening);
    return openSerial(port, path, opening);
}

int lineControl(void (DriverPort::*set)(bool), int on) {
    if (!g_open.load()) return RS_ERR_NOT_OPEN;
    std::lock_guard lock(g_sessionMutex);
    if (g_session) (g_session->port().*set)(on != 0);
    return RS_OK;
}

// Library unload, which a normal process exit includes (exit() or a return
// from main, whether or not RSClose was called): the port is left as it was
// found, and a capture still running is finished, so that its file ends at
// its last record instead of a zero tail.  The capture object itself stays:
// the driver's threads may still run, and what they hand it from now on is
// dropped under its lock.  A crash still leaves the zero tail, which the
// reader takes as the end.
__attribute__((destructor)) void unload() {
    {
        std::unique_lock lock(g_sessionMutex, std::try_to_lock);
        if (lock.owns_lock() && g_session) g_session->port().restoreAtExit();
    }
    capture().stop();
}

}  // namespace
}  // namespace rslink

using namespace rslink;

extern "C" {

int RSOpen(unsigned long client_thread, int port, int speed, int data_bits, int parity,
           int stop_bits) {
    std::lock_guard life(g_lifecycle);
    const OpenInProgress opening;
    forgetOpenInfo();
    if (g_open.exchange(true)) return RS_ERR_ALREADY_OPEN;
    pool().reset();
    if (!platform::speedAccepted(speed) || !platform::dataBitsAccepted(data_bits) ||
        !platform::parityAccepted(parity) || !platform::stopBitsAccepted(stop_bits))
        return RS_ERR_PARAMETER;
    g_settings = {speed, data_bits, parity, stop_bits};
    g_client.store(client_thread);  // before the threads start: they may notify at once
    return openPort(port, opening);
}

// An open in progress on another thread is cut short first: it holds the
// lifecycle lock until it returns.
int RSClose(void) {
    cancelOpenInProgress();
    std::lock_guard life(g_lifecycle);
    if (!g_open.load()) return RS_OK;
    std::unique_ptr<Session> session = withdraw();
    const bool hadPort = session != nullptr;
    if (session) session->close();
    session.reset();
    if (hadPort) capture().closed();
    g_open.store(false);
    return RS_OK;
}

int RSSend(MSG_BLK *block) {
    if (!block) return RS_ERR_NOT_OPEN;
    std::lock_guard gate(g_sendGate);
    const unsigned long driver = g_driver.load();
    if (!g_accepting || !driver) return RS_ERR_NOT_OPEN;
    return RSPostMessage(driver, RSM_SEND, 0, reinterpret_cast<uintptr_t>(block)) == RS_OK
               ? RS_OK
               : RS_ERR_NOT_OPEN;
}

int DTRControl(int on) { return lineControl(&DriverPort::setDtrControl, on); }

int RTSControl(int on) { return lineControl(&DriverPort::setRtsControl, on); }

int RSCapture(const char *path) {
    std::lock_guard life(g_lifecycle);
    std::lock_guard lock(g_sessionMutex);
    if (g_session) g_session->port().setListener(nullptr);
    g_captureEnvTaken.store(true);  // the client's choice overrides the environment
    if (!path || !*path) {
        capture().stop();
        return RS_OK;
    }
    if (Result<> started = capture().start(path, "rslink"); !started) {
        errno = started.failure().error;  // the interface says why through errno
        return RS_ERR_FILE;
    }
    if (g_session) listenTo(g_session->port());
    return RS_OK;
}

int RSBuffersLent(void) { return g_open.load() ? pool().lent() : RS_ERR_NOT_OPEN; }

}  // extern "C"
