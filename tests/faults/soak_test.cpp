// The repeat mode left running: "Status Read" again and again against the
// simulated unit, with "Execution Message Display" cleared so that no message
// text piles up.  Every cycle must complete (a failed send would end the
// repeat and clear 1242), no receive buffer may be lost, and resident memory
// must stay flat once the first cycles have warmed everything up.
//
// VALDOR_SOAK_CYCLES sets the count; 10,000 unless it says otherwise (a few
// seconds over a pty, so the normal suite runs the whole soak).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "line_rig.h"
#include "rslink/rslink.h"
#include "support/wait.h"
#include "valdor/panel/controls.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VALDOR_SANITIZED 1
#endif

namespace {

using namespace std::chrono_literals;
namespace ctl = valdor::ctl;

uint64_t soakCycles() {
    const char *text = std::getenv("VALDOR_SOAK_CYCLES");
    const long n = text ? std::strtol(text, nullptr, 10) : 0;
    return n > 0 ? static_cast<uint64_t>(n) : 10000;
}

// Resident set size in bytes, from the second field of /proc/self/statm.
long residentBytes() {
    FILE *f = std::fopen("/proc/self/statm", "r");
    if (!f) return -1;
    long size = 0, resident = -1;
    if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = -1;
    std::fclose(f);
    return resident < 0 ? -1 : resident * sysconf(_SC_PAGESIZE);
}

// Waits until the worker has handled `count` frames; false when the frames
// stop coming for a while (the repeat ended or hangs).
bool waitForFrames(valdor::SendThread &worker, uint64_t count) {
    while (worker.framesHandled() < count) {
        const uint64_t last = worker.framesHandled();
        if (!testsupport::waitUntil([&] { return worker.framesHandled() != last; }, 15s)) return false;
    }
    return true;
}

TEST(Soak, RepeatedStatusReadsCompleteLoseNothingAndKeepMemoryFlat) {
    const uint64_t cycles = soakCycles();
    // 1241 cleared: no message text; no request tracing in this process.
    faults::LineRig rig({}, {.com = 4, .showMessages = false, .traceRequests = false});
    auto &worker = rig.console().worker();
    const size_t quietFrom = rig.mark();

    rig.panel().setChecked(ctl::ContinuousMode, true);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(rig.press(ctl::StatusRead));

    // Warm-up: allocators, queues and buffers reach their working size.
    const uint64_t warm = std::max<uint64_t>(cycles / 10, 100);
    ASSERT_TRUE(waitForFrames(worker, warm)) << "stopped after " << worker.framesHandled();
    const long rssWarm = residentBytes();
    ASSERT_TRUE(waitForFrames(worker, cycles)) << "stopped after " << worker.framesHandled();
    const long rssEnd = residentBytes();
    const auto took = std::chrono::steady_clock::now() - started;

    // Every cycle so far ended with a positive answer and a resend: a send
    // failure or a driver error would have cleared the box.
    EXPECT_TRUE(rig.panel().checked(ctl::ContinuousMode));
    // Cleared on the worker between two messages, where the count and the
    // decisions taken so far agree: a frame counts only once what follows it
    // has been decided, so a count read from here could lag by one.
    uint64_t stopped = 0;
    ASSERT_TRUE(worker.runOnWorker([&] {
        rig.panel().setChecked(ctl::ContinuousMode, false);
        stopped = worker.framesHandled();
    }));
    // The cycle in flight ends; then nothing more is sent.
    EXPECT_TRUE(testsupport::staysFalse([&] { return worker.framesHandled() > stopped + 1; }, 1s))
        << worker.framesHandled() << " after " << stopped;
    EXPECT_TRUE(testsupport::waitUntil([] { return RSBuffersLent() == 0; }, 10s)) << RSBuffersLent();
    EXPECT_EQ(rig.mark(), quietFrom) << "no message text while 1241 is clear";

    const double seconds = std::chrono::duration<double>(took).count();
    std::printf("soak: %llu cycles in %.1f s (%.0f a second), RSS %ld KiB after warm-up, %ld KiB at the end\n",
                static_cast<unsigned long long>(stopped), seconds, static_cast<double>(stopped) / seconds,
                rssWarm / 1024, rssEnd / 1024);
#ifndef VALDOR_SANITIZED
    // Flat: no more than page-level noise, far below what even a few bytes
    // kept per cycle would add over the run.
    EXPECT_LE(rssEnd - rssWarm, 512 * 1024L) << "resident memory grew over the soak";
#endif
}

}  // namespace
