// The console's logic: start-up, every button handler, COM Open and COM Close
// with their enabling, and shut-down.  It knows no toolkit: it reads and
// writes the controls through a Panel and asks its Host for files and for
// waiting on slow calls, so that the window, the headless front end and the
// tests all run this same code.
#pragma once

#include "valdor/engine/send_thread.h"
#include "valdor/transfers/download_procedure.h"
#include "valdor/transfers/oplog_procedure.h"
#include "valdor/transfers/worker_link.h"

namespace valdor {

class Host;
class Panel;

// The fixed line settings of the unit: 9600 baud, 8 data bits, even parity,
// one stop bit (in the driver's codes).
inline constexpr int kLineSpeed = 9600;
inline constexpr int kLineDataBits = 8;
inline constexpr int kLineParityEven = 2;
inline constexpr int kLineOneStopBit = 0;

class Console {
public:
    // Both must outlive the console.
    Console(Panel &panel, Host &host);
    ~Console();  // stops the worker if exit() has not

    Console(const Console &) = delete;
    Console &operator=(const Console &) = delete;

    // Window initialisation: start-up enabling and checks, the worker, the
    // first message.  The front end fills the lists from the tables itself.
    void initialise();

    // Runs the handler of `button` exactly as a click does.  The caller
    // checks that the button is enabled.
    void press(int button);

    // "Exit" and the window's close command: closes the port, stops the
    // worker and closes the window.  Later calls do nothing.  During a COM
    // Open still connecting it cuts the open short, and the exit follows
    // as soon as the open has returned.
    void exit();
    bool exited() const { return exited_; }

    // The port is open (a COM Open succeeded and no COM Close followed).
    bool portOpen() const { return portOpen_; }

    // For front ends that watch the worker (frame observer, end).
    SendThread &worker() { return worker_; }

private:
    using Handler = void (Console::*)();
    struct HandlerEntry {
        int button;
        Handler handler;
    };
    static const HandlerEntry kHandlers[];

    void comOpen();
    void comClose();
    void clear();
    void loadData();
    void saveData();
    void download();
    void acquireOpeLog();
    void operationalLog();
    void billCountTransport();
    void deviceInformation();
    void logWithMsg();

    void closePort();
    void post(int command);

    Panel &panel_;
    Host &host_;
    // The transfers are built before the worker that calls them; they keep
    // only the link's address until a command runs, by when the worker has
    // started.  The worker goes first on the way out, stopped by then.
    SendThreadLink workerLink_{worker_};
    DownloadProcedure download_;
    OplogProcedure oplog_;
    SendThread worker_;
    bool portOpen_ = false;
    bool exited_ = false;
    bool opening_ = false;    // RSOpen runs (Host::runResponsive)
    bool exitAsked_ = false;  // Exit came while it ran
};

}  // namespace valdor
