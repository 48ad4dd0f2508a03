// The phases on the line: exchanges against bdusim and the pty's own floor,
// CPU while idle and while a send waits on a silent unit, and downloads.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "measure.h"
#include "rslink/platform/fd_io.h"
#include "valdor/panel/controls.h"

namespace bench {

namespace {

namespace ctl = valdor::ctl;
using namespace std::chrono_literals;

constexpr double kBaud = 9600;
constexpr double kBitsPerByte = 11;  // start, 8 data, parity, stop
// Control pairs of one exchange besides the two frames: our bid and its
// grant, the unit's acknowledgement, its bid and our grant, our acknowledgement.
constexpr size_t kPairBytesPerExchange = 6 * 2;
constexpr size_t kFrameOverhead = 8;  // DLE STX, length, DLE ETX, check code

// Waits until the worker has handled `count` frames.
void waitForFrames(valdor::SendThread &worker, uint64_t count) {
    const auto deadline = Clock::now() + 600s;
    while (worker.framesHandled() < count) {
        if (Clock::now() > deadline) throw std::runtime_error("the repeat mode stopped");
        std::this_thread::sleep_for(5ms);
    }
}

size_t textBytesOf(const std::string &traceLine) {
    const size_t start = traceLine.find("]>");
    if (start == std::string::npos) return 0;
    std::istringstream in(traceLine.substr(start + 2));
    std::string pair;
    size_t n = 0;
    while (in >> pair) ++n;
    return n;
}

// Bytes on the wire, both ways, for the exchanges the trace lines show.
size_t wireBytes(const std::vector<std::string> &lines) {
    size_t bytes = 0;
    for (const auto &line : lines) {
        const bool send = line.rfind("SEND[", 0) == 0;
        if (send || line.rfind("RECV[", 0) == 0) bytes += textBytesOf(line) + kFrameOverhead;
        if (send) bytes += kPairBytesPerExchange;
    }
    return bytes;
}

void writeAll(int fd, const uint8_t *data, size_t size) {
    if (!rslink::platform::writeAll(fd, data, size)) throw std::runtime_error("pty write failed");
}

void readAll(int fd, uint8_t *data, size_t size) {
    while (size > 0) {
        const ssize_t n = read(fd, data, size);
        if (n <= 0) throw std::runtime_error("pty read failed");
        data += n;
        size -= static_cast<size_t>(n);
    }
}


std::string programFile(size_t bytes) {
    char name[] = "/tmp/valdor-bench-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>((i * 29 + i / 509) & 0xFF);
    writeAll(fd, data.data(), data.size());
    close(fd);
    return name;
}

}  // namespace

void measureExchanges(Table &table, int exchanges) {
    Session session({}, false);  // no message text: the exchange alone
    auto &worker = session.console().worker();
    session.panel().setChecked(ctl::ContinuousMode, true);
    session.console().press(ctl::StatusRead);
    const uint64_t warm = 200;
    waitForFrames(worker, warm);
    Stopwatch watch;
    waitForFrames(worker, warm + static_cast<uint64_t>(exchanges));
    watch.stop();
    session.panel().setChecked(ctl::ContinuousMode, false);
    const double n = static_cast<double>(worker.framesHandled() - warm);
    table.add({"\"Status Read\" exchanges per second, repeat mode over a pty", format("%.0f /s", n / watch.wall()),
               "", ""});
    table.add({"host CPU per exchange (all threads)", format("%.1f us", watch.cpu() / n * 1e6), "", ""});
}

void measurePtyFloor(Table &table, int roundTrips) {
    const auto pty = rslink::platform::openPty(0, 0);
    if (!pty) throw std::runtime_error(pty.failure().why);
    const int master = pty->master, slave = pty->slave;
    if (!rslink::platform::makeRaw(master) || !rslink::platform::makeRaw(slave))
        throw std::runtime_error("cannot make the floor's pty raw");
    // The far end answers each pair at once, as fast as a pty allows.
    std::thread echo([&] {
        uint8_t pair[2];
        for (int i = 0; i < roundTrips; ++i) {
            readAll(slave, pair, 2);
            writeAll(slave, pair, 2);
        }
    });
    const uint8_t bid[2] = {0x10, 0x05};
    uint8_t answer[2];
    Stopwatch watch;
    for (int i = 0; i < roundTrips; ++i) {
        writeAll(master, bid, 2);
        readAll(master, answer, 2);
    }
    watch.stop();
    echo.join();
    close(slave);
    close(master);
    const double roundTrip = watch.wall() / roundTrips;
    table.add({"pty floor: one round trip (two bytes each way)", format("%.1f us", roundTrip * 1e6), "", ""});
    table.add({"pty floor as exchanges per second (4 round trips each)", format("%.0f /s", 1 / (4 * roundTrip)),
               "", ""});
}

void measureIdle(Table &table, int seconds) {
    Session session({}, true);
    std::this_thread::sleep_for(1s);  // the open's own work is over
    Stopwatch watch;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    watch.stop();
    const double percent = watch.cpu() / watch.wall() * 100;
    table.add({format("CPU with the port open and idle (%.0f s)", seconds), format("%.3f %% of a core", percent),
               "near 0 (< 0.1 %)", percent < 0.1 ? "met" : "MISSED"});
}

void measureSilentUnit(Table &table) {
    Session session({"--silent"}, true);
    std::this_thread::sleep_for(1s);
    Stopwatch watch;
    session.console().press(ctl::StatusRead);
    if (!session.waitForLine("Send Abnormal End", 1, 60s)) throw std::runtime_error("the send never failed");
    watch.stop();
    const double percent = watch.cpu() / watch.wall() * 100;
    table.add({format("CPU over a send to a silent unit (%.1f s)", watch.wall()), format("%.3f %% of a core", percent),
               "< 1 %", percent < 1 ? "met" : "MISSED"});
}

// COM Close and Exit while a "Status Read" waits for a silent unit's grant:
// the close cuts the wait short instead of sitting out three bids.
void measureCloseOnSilentUnit(Table &table) {
    constexpr double kTarget = 0.5;
    Session session({"--silent"}, true);
    auto timed = [&](int button, bool exit) {
        session.console().press(ctl::StatusRead);
        std::this_thread::sleep_for(300ms);  // the bid is out, its grant awaited
        const auto start = Clock::now();
        if (exit)
            session.console().exit();
        else
            session.console().press(button);
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    const double close = timed(ctl::ComClose, false);
    if (!session.waitForLine("Send Abnormal End", 1, 5s)) throw std::runtime_error("the send got no outcome");
    table.add({"COM Close during a send to a silent unit", format("%.1f ms", close * 1000), "< 0.5 s",
               close < kTarget ? "met" : "MISSED"});
    session.console().press(ctl::ComOpen);
    if (!session.console().portOpen()) throw std::runtime_error("COM Open failed again");
    const double exit = timed(0, true);
    if (!session.waitForLine("Send Abnormal End", 2, 5s)) throw std::runtime_error("the send got no outcome");
    table.add({"Exit during a send to a silent unit", format("%.1f ms", exit * 1000), "< 0.5 s",
               exit < kTarget ? "met" : "MISSED"});
}

void measureDownload(Table &table, size_t bytes, bool paced) {
    const std::string path = programFile(bytes);
    std::vector<std::string> options;
    if (paced) options = {"--baud", "9600"};
    Session session(options, true);
    session.answerFileDialogWith(path);
    Stopwatch watch;
    session.console().press(ctl::DownLoad);
    const auto limit = std::chrono::seconds(static_cast<long>(bytes * kBitsPerByte / kBaud * 2 + 120));
    const bool ended = session.waitForLine("DOWNLOAD NORMAL END", 1, limit);
    watch.stop();
    unlink(path.c_str());
    if (!ended) throw std::runtime_error("the download did not end normally");
    const std::string size = bytes % 1024 == 0 && bytes >= 1024 * 1024
                                 ? format("%.0f MiB", static_cast<double>(bytes) / (1024 * 1024))
                                 : format("%.0f KiB", static_cast<double>(bytes) / 1024);
    if (!paced) {
        table.add({size + " program download, unpaced pty: time", format("%.2f s", watch.wall()), "", ""});
        table.add({size + " program download, unpaced pty: host CPU", format("%.2f s", watch.cpu()), "", ""});
        return;
    }
    const size_t wire = wireBytes(session.lines());
    const double bound = static_cast<double>(wire) * kBitsPerByte / kBaud;
    const double ratio = watch.wall() / bound;
    table.add({size + " download paced at 9600 baud: time", format("%.1f s", watch.wall()), "", ""});
    table.add({format("  line-time bound (%.0f bytes on the wire x 11 / 9600)", static_cast<double>(wire)),
               format("%.1f s", bound), "", ""});
    table.add({"  time / bound", format("%.4f", ratio), "<= 1.02", ratio <= 1.02 ? "met" : "MISSED"});
}

}  // namespace bench
