// Network ports: the same "Status Read" exchanges over the bare pty and
// through ser2net on loopback (raw TCP and RFC 2217, chardelay off), and the
// CPU a network port costs while open and idle.
#include <algorithm>
#include <stdexcept>
#include <thread>
#include <utility>

#include "measure.h"
#include "valdor/panel/controls.h"

namespace bench {

namespace {

namespace ctl = valdor::ctl;
using namespace std::chrono_literals;

constexpr size_t kWarm = 100;
constexpr double kAddedTargetMs = 0.5;

// The median time from one received response to the next in the repeat
// mode: a whole exchange, both bids, frames and acknowledgements.
double medianExchangeMs(const std::string &via, int exchanges) {
    Session session({}, true, via);
    session.panel().setChecked(ctl::ContinuousMode, true);
    session.console().press(ctl::StatusRead);
    const size_t wanted = kWarm + static_cast<size_t>(exchanges) + 1;
    const auto deadline = Clock::now() + 300s;
    bool done = true;
    while (done && session.timesOf("RECV[").size() < wanted) {
        done = Clock::now() < deadline;
        std::this_thread::sleep_for(20ms);
    }
    session.panel().setChecked(ctl::ContinuousMode, false);
    if (!done) throw std::runtime_error("the repeat mode stopped (" + (via.empty() ? "pty" : via) + ")");
    const auto received = session.timesOf("RECV[");
    std::vector<double> gaps;
    for (size_t i = kWarm + 1; i < received.size(); ++i)
        gaps.push_back(std::chrono::duration<double, std::milli>(received[i] - received[i - 1]).count());
    return median(std::move(gaps));
}

}  // namespace

void measureNetwork(Table &table, int exchanges, int idleSeconds) {
    if (testsupport::Ser2net::program().empty()) {
        table.add({"network ports through ser2net", "skipped", "", "ser2net not installed"});
        return;
    }
    const double pty = medianExchangeMs("", exchanges);
    table.add({"\"Status Read\" median exchange, repeat mode, bare pty", format("%.3f ms", pty), "", ""});
    for (const char *via : {"tcp", "rfc2217"}) {
        const double network = medianExchangeMs(via, exchanges);
        const double added = network - pty;
        table.add({"\"Status Read\" median exchange, repeat mode, ser2net " + std::string(via) + "://",
                   format("%.3f ms", network), "", ""});
        table.add({std::string("  added by ser2net over ") + via + "://", format("%+.3f ms", added),
                   "<= 0.5 ms", added <= kAddedTargetMs ? "met" : "MISSED"});
    }
    for (const char *via : {"tcp", "rfc2217"}) {
        Session session({}, true, via);
        std::this_thread::sleep_for(1s);  // the open's own work is over
        Stopwatch watch;
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        watch.stop();
        const double percent = watch.cpu() / watch.wall() * 100;
        table.add({format("CPU with a %.0f s idle ", idleSeconds) + via + ":// port open",
                   format("%.3f %% of a core", percent), "< 0.1 %", percent < 0.1 ? "met" : "MISSED"});
    }
}

}  // namespace bench
