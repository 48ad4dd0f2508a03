// Stand-ins for the transfers' surroundings: the shared fake host, a worker
// thread of the test's own, and temporary files.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_host.h"
#include "support/files.h"
#include "valdor/panel/memory_panel.h"
#include "valdor/panel/panel.h"
#include "valdor/panel/controls.h"
#include "valdor/transfers/worker_link.h"

namespace transfers_test {

using testsupport::FakeHost;

// A worker thread that runs what it is handed, in order, and records the
// commands posted to it.
class FakeWorker : public valdor::WorkerLink {
public:
    explicit FakeWorker(valdor::Panel &panel) : panel_(panel), thread_([this] { loop(); }) {}
    ~FakeWorker() override {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    bool runOnWorker(const std::function<void()> &fn) override {
        std::unique_lock lock(mutex_);
        if (ended_) return false;
        bool done = false;
        jobs_.push_back({&fn, &done});
        wake_.notify_all();
        finished_.wait(lock, [&] { return done; });
        return true;
    }

    bool postCommand(int command) override {
        std::lock_guard lock(mutex_);
        if (ended_ || refusePosts_) {
            panel_.appendMessage("Message send to SendThread error");
            return false;
        }
        posted_.push_back(command);
        return true;
    }

    bool downloadUnderWay() const override { return downloadRunning && downloadRunning(); }
    bool acquisitionUnderWay() const override { return acquisitionRunning && acquisitionRunning(); }

    // What the worker's hooks would answer: the test wires the procedures in.
    std::function<bool()> downloadRunning, acquisitionRunning;

    // Runs `fn` on the worker, as the tests' stand-in for SendThread's calls.
    void run(const std::function<void()> &fn) { ASSERT_TRUE(runOnWorker(fn)); }

    // From now on nothing runs and every post fails, as after the worker ended.
    void end() {
        std::lock_guard lock(mutex_);
        ended_ = true;
    }

    // From now on every post fails, as when the worker's queue is gone.
    void refusePosts() {
        std::lock_guard lock(mutex_);
        refusePosts_ = true;
    }

    std::vector<int> posted() const {
        std::lock_guard lock(mutex_);
        return posted_;
    }
    // Takes the oldest posted command, if any.
    std::optional<int> takePosted() {
        std::lock_guard lock(mutex_);
        if (posted_.empty()) return std::nullopt;
        int command = posted_.front();
        posted_.erase(posted_.begin());
        return command;
    }

private:
    struct Job {
        const std::function<void()> *fn;
        bool *done;
    };

    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return quit_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            Job job = jobs_.front();
            jobs_.pop_front();
            lock.unlock();
            (*job.fn)();
            lock.lock();
            *job.done = true;
            finished_.notify_all();
        }
    }

    valdor::Panel &panel_;
    mutable std::mutex mutex_;
    std::condition_variable wake_, finished_;
    std::deque<Job> jobs_;
    std::vector<int> posted_;
    bool quit_ = false;
    bool ended_ = false;
    bool refusePosts_ = false;
    std::thread thread_;
};

using testsupport::TempDir;

// A procedure's surroundings: a panel showing messages, the dialog, the
// worker and a folder.
class TransferTest : public ::testing::Test {
protected:
    void SetUp() override { panel.setChecked(valdor::ctl::ShowMessages, true); }
    std::string lastMessage() const {
        auto lines = panel.messages();
        return lines.empty() ? "" : lines.back();
    }
    // The last file dialog offered `description` (`pattern`), then all files,
    // and proposed `pattern` as the name.
    void expectDialog(const std::string &description, const std::string &pattern) const {
        ASSERT_EQ(host.lastFilters.size(), 2u);
        EXPECT_EQ(host.lastFilters[0].description, description);
        EXPECT_EQ(host.lastFilters[0].pattern, pattern);
        EXPECT_EQ(host.lastFilters[1].description, "All files(*.*)");
        EXPECT_EQ(host.lastFilters[1].pattern, "*.*");
        EXPECT_EQ(host.lastInitialName, pattern);
    }

    valdor::MemoryPanel panel;
    FakeHost host;
    FakeWorker worker{panel};
    TempDir dir;
};

}  // namespace transfers_test
