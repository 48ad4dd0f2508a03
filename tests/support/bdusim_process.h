// Runs the simulated unit for a test: starts bdusim with the given options,
// reads the pty path from its first line, and keeps collecting what it
// prints afterwards (for example the requests it took).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace testsupport {

class Bdusim {
public:
    explicit Bdusim(std::vector<std::string> options = {});
    ~Bdusim();
    Bdusim(const Bdusim &) = delete;
    Bdusim &operator=(const Bdusim &) = delete;

    // The pty device the console opens.
    const std::string &path() const { return path_; }

    // Sets RSLINK_COM<n> to path(), so that COM n opens the simulated unit.
    void mapCom(int n) const;

    // Sends a signal (SIGTERM by default) and reaps the process.
    void stop(int signal = 15);
    bool running() const { return pid_ > 0; }
    // Waits for the process to end by itself (a hang-up point) and reaps it;
    // false when it still runs after `timeout`.
    bool ended(std::chrono::milliseconds timeout);

    // Lines printed after the first one.
    std::vector<std::string> lines() const;
    // The requests it took, in order, from its "REQ" lines (--trace-requests);
    // with `code`, only those whose second byte is that command code.
    std::vector<std::vector<uint8_t>> requests(int code = -1) const;

    // Waits until a printed line satisfies `match`; false after `timeout`.
    bool waitForLine(const std::function<bool(const std::string &)> &match,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
    void readOutput();

    pid_t pid_ = -1;
    int out_ = -1;
    std::string path_;
    std::thread reader_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::string partial_;
};

}  // namespace testsupport
