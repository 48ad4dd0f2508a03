// The monitor's relay in the line: how much later a burst arrives through
// `valdor --monitor --relay` than over a direct pty, both directions.  The
// relay's two hops (host pty, relay process, unit pty) are held against one
// pty hop: what the relay adds is the whole of the difference.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "measure.h"
#include "rslink/core/frame.h"
#include "rslink/platform/fd_io.h"

namespace bench {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

void raw(int fd) {
    if (!rslink::platform::makeRaw(fd)) throw std::runtime_error("not a terminal");
}

struct Pty {
    int master = -1, slave = -1;
    std::string path;
    explicit Pty(bool openSlave) {
        const auto pty = rslink::platform::openPty(0, openSlave ? 0 : rslink::platform::kNoSlave);
        if (!pty) throw std::runtime_error(pty.failure().why);
        master = pty->master;
        slave = pty->slave;
        path = pty->slavePath;
        raw(master);
        if (slave >= 0) raw(slave);
    }
    ~Pty() {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }
};

void sendAll(int fd, const std::vector<uint8_t> &bytes) {
    if (!rslink::platform::writeAll(fd, bytes.data(), bytes.size())) throw std::runtime_error("write failed");
}

void takeAll(int fd, size_t size) {
    uint8_t buffer[512];
    size_t got = 0;
    while (got < size) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) throw std::runtime_error("a burst did not arrive");
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, size - got));
        if (n <= 0) throw std::runtime_error("read failed");
        got += static_cast<size_t>(n);
    }
}

std::vector<uint8_t> frameOf(std::vector<uint8_t> text) {
    std::vector<uint8_t> out(text.size() + rslink::kFrameOverhead);
    out.resize(rslink::buildFrame(text.data(), text.size(), out.data()));
    return out;
}

// The bursts of one exchange, each with its direction (true: host to unit).
std::vector<std::pair<bool, std::vector<uint8_t>>> exchange() {
    std::vector<uint8_t> answer = {0xE0, 0x01, 0x00};
    answer.resize(40, 0x00);
    return {{true, {0x10, 0x05}},  {false, {0x10, 0x06}}, {true, frameOf({0x00, 0x01, 0x1C})},
            {false, {0x10, 0x06}}, {false, {0x10, 0x05}}, {true, {0x10, 0x06}},
            {false, frameOf(answer)}, {true, {0x10, 0x06}}};
}

// Microseconds each burst took from its write to its last byte read.
std::vector<double> latencies(int hostEnd, int unitEnd, int bursts) {
    const auto script = exchange();
    std::vector<double> out;
    out.reserve(static_cast<size_t>(bursts));
    for (int i = 0; i < bursts; ++i) {
        const auto &[toUnit, bytes] = script[static_cast<size_t>(i) % script.size()];
        const auto start = Clock::now();
        sendAll(toUnit ? hostEnd : unitEnd, bytes);
        takeAll(toUnit ? unitEnd : hostEnd, bytes.size());
        out.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        // A turn-around, so that bursts stay bursts.
        std::this_thread::sleep_for(300us);
    }
    return out;
}

double quantile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

std::string firstLine(const fs::path &file) {
    for (int i = 0; i < 400; ++i) {
        std::ifstream in(file);
        std::string line;
        if (std::getline(in, line) && in) return line;
        std::this_thread::sleep_for(25ms);
    }
    throw std::runtime_error("the relay printed no pty path");
}

}  // namespace

void measureRelay(Table &table, const std::string &valdor, int bursts) {
    // Direct: one pty, the host on its slave, the unit on its master.
    std::vector<double> direct;
    {
        Pty line(true);
        direct = latencies(line.slave, line.master, bursts);
    }

    // Through the relay: the host on the relay's own pty, the unit on the
    // master of a pty whose slave the relay opens.
    Pty unit(false);
    const fs::path out = fs::temp_directory_path() / ("valdor-bench-relay-" + std::to_string(getpid()));
    const pid_t relay = fork();
    if (relay == 0) {
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int n = open("/dev/null", O_WRONLY);
        dup2(o, 1);
        dup2(n, 2);
        execl(valdor.c_str(), valdor.c_str(), "--monitor", "--relay", "-", unit.path.c_str(), nullptr);
        _exit(127);
    }
    std::vector<double> relayed;
    try {
        const std::string hostPath = firstLine(out);
        const int host = open(hostPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (host < 0) throw std::runtime_error("cannot open the relay's pty " + hostPath);
        relayed = latencies(host, unit.master, bursts);
        close(host);
    } catch (...) {
        kill(relay, SIGTERM);
        waitpid(relay, nullptr, 0);
        fs::remove(out);
        throw;
    }
    kill(relay, SIGTERM);
    waitpid(relay, nullptr, 0);
    fs::remove(out);

    const double medianAdded = quantile(relayed, 0.5) - quantile(direct, 0.5);
    const double p99Added = quantile(relayed, 0.99) - quantile(direct, 0.99);
    table.add({format("burst over a direct pty: median / p99 (%.0f bursts)", bursts),
               format("%.0f", quantile(direct, 0.5)) + format(" / %.0f us", quantile(direct, 0.99)), "", ""});
    table.add({"burst through the monitor's relay: median / p99",
               format("%.0f", quantile(relayed, 0.5)) + format(" / %.0f us", quantile(relayed, 0.99)), "", ""});
    table.add({"relay: added to a burst, median", format("%.0f us", medianAdded), "<= 1 ms",
               medianAdded <= 1000 ? "met" : "MISSED"});
    table.add({"relay: added to a burst, 99th percentile", format("%.0f us", p99Added), "<= 5 ms",
               p99Added <= 5000 ? "met" : "MISSED"});
}

}  // namespace bench
