#include "support/bdusim_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/wait.h"

namespace testsupport {

Bdusim::Bdusim(std::vector<std::string> options) {
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> args{BDUSIM_PATH};
    args.insert(args.end(), options.begin(), options.end());
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // A test program that crashes must not leave its unit running.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(pipefd[1], STDOUT_FILENO);
        std::vector<char *> argv;
        for (auto &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipefd[1]);
    out_ = pipefd[0];

    // The first line is the pty's path; give the simulator a few seconds.
    std::string first;
    const Deadline deadline(std::chrono::seconds(10));
    while (first.find('\n') == std::string::npos) {
        pollfd p{out_, POLLIN, 0};
        if (deadline.passed() || poll(&p, 1, static_cast<int>(deadline.left().count())) <= 0) {
            stop(SIGKILL);
            throw std::runtime_error("bdusim printed no pty path");
        }
        char buf[256];
        ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) {
            stop(SIGKILL);
            throw std::runtime_error("bdusim ended before printing its pty path");
        }
        first.append(buf, static_cast<size_t>(n));
    }
    auto nl = first.find('\n');
    path_ = first.substr(0, nl);
    partial_ = first.substr(nl + 1);
    reader_ = std::thread([this] { readOutput(); });
}

Bdusim::~Bdusim() {
    stop();
    if (reader_.joinable()) reader_.join();
    if (out_ >= 0) close(out_);
}

void Bdusim::mapCom(int n) const {
    setenv(("RSLINK_COM" + std::to_string(n)).c_str(), path_.c_str(), 1);
}

void Bdusim::stop(int signal) {
    if (pid_ <= 0) return;
    kill(pid_, signal);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

bool Bdusim::ended(std::chrono::milliseconds timeout) {
    return waitUntil(
        [&] {
            if (pid_ <= 0) return true;
            int status = 0;
            const pid_t got = waitpid(pid_, &status, WNOHANG);
            if (got == pid_ || (got < 0 && errno != EINTR)) pid_ = -1;
            return pid_ <= 0;
        },
        timeout);
}

std::vector<std::string> Bdusim::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::vector<std::vector<uint8_t>> Bdusim::requests(int code) const {
    std::vector<std::vector<uint8_t>> out;
    for (const auto &line : lines()) {
        if (line.rfind("REQ ", 0) != 0) continue;
        // Parsed here: the benchmark builds this file without the pty peer.
        std::vector<uint8_t> bytes;
        std::istringstream in(line.substr(4));
        for (std::string pair; in >> pair;) bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
        if (code < 0 || (bytes.size() > 1 && bytes[1] == code)) out.push_back(std::move(bytes));
    }
    return out;
}

bool Bdusim::waitForLine(const std::function<bool(const std::string &)> &match,
                         std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    size_t seen = 0;
    return changed_.wait_for(lock, timeout, [&] {
        for (; seen < lines_.size(); ++seen)
            if (match(lines_[seen])) return true;
        return false;
    });
}

void Bdusim::readOutput() {
    // Runs until the simulator's end closes the pipe.
    auto take = [this](std::string chunk) {
        std::lock_guard lock(mutex_);
        partial_ += chunk;
        size_t nl;
        while ((nl = partial_.find('\n')) != std::string::npos) {
            lines_.push_back(partial_.substr(0, nl));
            partial_.erase(0, nl + 1);
        }
        changed_.notify_all();
    };
    take("");
    char buf[4096];
    for (;;) {
        ssize_t n = read(out_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        take(std::string(buf, static_cast<size_t>(n)));
    }
}

}  // namespace testsupport
