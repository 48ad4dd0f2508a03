// What the script runner keeps between waits while the repeat mode floods
// the box: no more than the box itself would hold, so a line pushed out of
// the box by newer ones is no longer there for a `wait message`.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <istream>
#include <mutex>
#include <streambuf>
#include <string>
#include <thread>

#include "support/bdusim_process.h"
#include "valdor/console/message_limit.h"
#include "valdor/headless/script_runner.h"

using namespace valdor;

namespace {

// A script read in two parts: the runner sits between statements, waiting
// for the second part, until the test hands it over.
class HeldScript : public std::streambuf {
public:
    HeldScript(std::string first, std::string second) : first_(std::move(first)), second_(std::move(second)) {
        setg(first_.data(), first_.data(), first_.data() + first_.size());
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

protected:
    int_type underflow() override {
        if (eback() == second_.data()) return traits_type::eof();
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return released_; });
        setg(second_.data(), second_.data(), second_.data() + second_.size());
        return traits_type::to_int_type(*gptr());
    }

private:
    std::string first_, second_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
};

// Standard output: counts the characters the lines take in the box.
struct Counted {
    std::mutex mutex;
    std::condition_variable changed;
    size_t chars = 0;

    static ssize_t write(void *cookie, const char *data, size_t size) {
        auto *self = static_cast<Counted *>(cookie);
        size_t newlines = 0;
        for (size_t i = 0; i < size; ++i) newlines += data[i] == '\n';
        std::lock_guard lock(self->mutex);
        self->chars += size + newlines;
        self->changed.notify_all();
        return static_cast<ssize_t>(size);
    }
    bool reach(size_t n, std::chrono::seconds timeout) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return chars >= n; });
    }
};

TEST(HeldScript, ALinePushedOutOfTheBoxIsNoLongerFound) {
    testsupport::Bdusim sim;
    sim.mapCom(5);
    HeldScript script("select 1137 \"COM5\"\npress \"COM Open\"\ncheck 1241 on\ncheck 1242 on\n"
                      "press \"Operational Log\"\n",
                      "wait message \"COM OPEN Completed.\" 0.1\ncheck 1242 off\n");
    std::istream in(&script);
    Counted counted;
    cookie_io_functions_t io{};
    io.write = &Counted::write;
    std::FILE *out = fopencookie(&counted, "w", io);
    std::FILE *err = std::tmpfile();
    int status = -1;
    std::thread runner([&] { status = runScript(in, out, err); });
    // Well over a box of lines after "COM OPEN Completed.", all while the
    // runner waits for its next statement.
    const bool flooded = counted.reach(2 * kMessageBoxMaxChars, std::chrono::seconds(120));
    script.release();
    runner.join();
    std::fclose(out);
    ASSERT_TRUE(flooded) << "the repeat mode did not run";
    EXPECT_EQ(status, kScriptTimedOut) << "a line more than a box ago was still kept";
    std::rewind(err);
    char buf[512] = {};
    (void)std::fread(buf, 1, sizeof buf - 1, err);
    std::fclose(err);
    EXPECT_NE(std::string(buf).find("line 6: wait message \"COM OPEN Completed.\": timed out"), std::string::npos)
        << buf;
}

}  // namespace
