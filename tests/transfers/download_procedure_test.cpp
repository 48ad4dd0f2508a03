// The program download driven directly: a test thread plays the worker,
// the fake host answers the file dialog.  The frames on the line are checked
// against the simulated unit in line_test.cpp.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "expected_report.h"
#include "fakes.h"
#include "valdor/engine/commands.h"
#include "valdor/engine/request_builder.h"
#include "valdor/transfers/download_procedure.h"

namespace {

using namespace transfers_test;
namespace ctl = valdor::ctl;

std::vector<uint8_t> programBytes(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
}

// Block bytes 12-15 of a frame: the block number, or a time frame's year.
std::string numberOf(const std::vector<uint8_t> &frame) {
    return frame.size() < 22 ? "" : std::string(frame.begin() + 18, frame.begin() + 22);
}

class DownloadTest : public TransferTest {
protected:
    // What command 100 would send now.
    std::vector<uint8_t> take() {
        std::vector<uint8_t> out(valdor::kRequestBufferSize);
        size_t n = 0;
        worker.run([&] { n = download.takeBlock(out.data(), out.size()); });
        out.resize(n);
        return out;
    }

    void answer(uint8_t code) {
        worker.run([&] {
            if (download.underWay()) download.onResponse(code);
        });
    }

    // Sends every posted frame and answers it positively until nothing more
    // is posted; the frames in the order they went out.
    std::vector<std::vector<uint8_t>> runToEnd(std::vector<int> *positions = nullptr) {
        std::vector<std::vector<uint8_t>> frames;
        while (auto command = worker.takePosted()) {
            EXPECT_EQ(*command, valdor::CMD_DOWNLOAD_BLOCK);
            frames.push_back(take());
            if (positions) positions->push_back(panel.progressPosition());
            answer(0xE0);
        }
        return frames;
    }

    valdor::DownloadProcedure download{panel, host, worker};
};

TEST_F(DownloadTest, DialogNameAndBarFollowTheChain) {
    host.answer = dir.write("prog.prg", programBytes(2500));
    download.start();
    expectDialog("Download files(*.prg)", "*.prg");
    EXPECT_TRUE(heldOpen(*host.answer));

    std::vector<int> positions;
    auto frames = runToEnd(&positions);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(positions, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_FALSE(download.underWay());
}

TEST_F(DownloadTest, TimeFrameCarriesTheClockWhenItWasBuilt) {
    host.answer = dir.write("t.prg", programBytes(10));
    download.start();
    for (int i = 0; i < 2; ++i) {  // the data and the end frame
        ASSERT_TRUE(worker.takePosted());
        take();
        if (i == 0) answer(0xE0);
    }
    auto stamp = [](const valdor::LocalTime &t) {
        char s[32];
        std::snprintf(s, sizeof s, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
        return std::string(s);
    };
    auto before = stamp(valdor::localNow());
    answer(0xE0);  // the end frame answered: the time frame is built now
    auto after = stamp(valdor::localNow());
    ASSERT_TRUE(worker.takePosted());
    auto frame = take();
    ASSERT_EQ(frame.size(), 33u);
    std::string sent(frame.begin() + 18, frame.begin() + 32);
    EXPECT_TRUE(sent == before || sent == after) << sent << " is neither " << before << " nor " << after;
}

TEST_F(DownloadTest, FailedStartsReportAndSendNothing) {
    host.answer.reset();
    download.start();
    EXPECT_EQ(lastMessage(), "Download Cancel");

    host.answer = dir.file("nothere.prg");
    download.start();
    EXPECT_EQ(lastMessage(), "FILE FIND ERROR(FILENAME=nothere.prg)");
    EXPECT_EQ(panel.text(ctl::DownloadFileName), "");

    // A folder or a pipe exists but is no program file: refused without
    // blocking, its name shown.
    ASSERT_EQ(mkdir(dir.file("adir.prg").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(dir.file("apipe.prg").c_str(), 0600), 0);
    for (const std::string name : {"adir.prg", "apipe.prg"}) {
        host.answer = dir.file(name);
        download.start();
        EXPECT_EQ(lastMessage(), "FILE OPEN ERROR(FILENAME=" + name + " CODE=0x00000016)");
        EXPECT_EQ(panel.text(ctl::DownloadFileName), name);
    }

    EXPECT_TRUE(worker.posted().empty());
    EXPECT_FALSE(download.underWay());
}

TEST_F(DownloadTest, CancelOrFailedCheckEndsARunningDownload) {
    for (bool cancel : {true, false}) {
        SCOPED_TRACE(cancel);
        host.answer = dir.write("run.prg", programBytes(5000));
        download.start();
        ASSERT_TRUE(worker.takePosted());
        take();
        answer(0xE0);  // the second data frame is posted, not yet taken
        int position = panel.progressPosition();

        host.answer = cancel ? std::nullopt : std::optional(dir.file("gone.prg"));
        download.start();
        EXPECT_FALSE(download.underWay());
        EXPECT_FALSE(heldOpen(dir.file("run.prg")));
        ASSERT_TRUE(worker.takePosted());
        EXPECT_TRUE(take().empty()) << "the frame waiting for command 100 must not go out";
        EXPECT_EQ(panel.progressPosition(), position);
    }
}

TEST_F(DownloadTest, SecondFileWhileOneRunsIsRefusedAndTheFirstGoesOn) {
    host.answer = dir.write("first.prg", programBytes(2500));
    download.start();
    ASSERT_TRUE(worker.takePosted());
    take();
    answer(0xE0);

    host.answer = dir.write("second.prg", programBytes(100));
    download.start();
    EXPECT_EQ(lastMessage(), "DOWNLOAD START ERROR(a download is running; cancel the file dialog to end it)");
    auto frames = runToEnd();
    ASSERT_EQ(frames.size(), 4u);  // data 2 and 3, end, time
    EXPECT_EQ(numberOf(frames[0]), "0002");
    EXPECT_EQ(frames[1].size(), 2500u - 2 * 1214 + 35);
    EXPECT_EQ(lastMessage(), "DOWNLOAD NORMAL END");
}

TEST_F(DownloadTest, EachFrameGoesOutOnceAndAbortDropsTheWaitingOne) {
    host.answer = dir.write("once.prg", programBytes(5000));
    download.start();
    ASSERT_TRUE(worker.takePosted());
    EXPECT_EQ(numberOf(take()), "0001");
    EXPECT_TRUE(take().empty()) << "a stray second command 100 sends nothing";
    answer(0xE0);

    worker.run([&] { download.abort(); });
    EXPECT_FALSE(download.underWay());
    EXPECT_FALSE(heldOpen(*host.answer));
    EXPECT_TRUE(take().empty());
    EXPECT_TRUE(panel.messages().empty()) << "the worker reports the failure, not the download";

    worker.takePosted();
    download.start();  // a later start begins afresh
    auto frames = runToEnd();
    ASSERT_EQ(frames.size(), 7u);
    EXPECT_EQ(numberOf(frames[0]), "0001");
}

TEST_F(DownloadTest, ProgramTooLongToNumberIsRefused) {
    // At most 9998 data frames, the end frame taking 9999; a file that fills
    // 9998 frames exactly needs a 9999th, empty one.
    const uint64_t limit = 9998ull * 1214;
    std::string big = dir.write("big.prg", {});
    ASSERT_EQ(truncate(big.c_str(), static_cast<off_t>(limit)), 0);
    host.answer = big;
    download.start();
    EXPECT_EQ(lastMessage(), "FILE SIZE ERROR(FILENAME=big.prg SIZE=12137572 MAX=12137571)");
    EXPECT_TRUE(worker.posted().empty());
    EXPECT_FALSE(download.underWay());

    ASSERT_EQ(truncate(big.c_str(), static_cast<off_t>(limit - 1)), 0);
    download.start();
    EXPECT_EQ(panel.progressRange(), std::make_pair(0, 10000));
    const auto frames = runToEnd();
    ASSERT_EQ(frames.size(), 10000u);
    EXPECT_EQ(frames[9997][1], 0xD1);
    EXPECT_EQ(numberOf(frames[9997]), "9998");
    EXPECT_EQ(frames[9998][1], 0xD2);
    EXPECT_EQ(numberOf(frames[9998]), "9999");
    EXPECT_EQ(lastMessage(), "DOWNLOAD NORMAL END");
}

TEST_F(DownloadTest, WithoutAWorkerNothingWaitsForAnAnswer) {
    host.answer = dir.write("p.prg", programBytes(5000));
    download.start();
    ASSERT_TRUE(worker.takePosted());
    take();
    worker.refusePosts();  // the worker's queue is gone
    answer(0xE0);
    EXPECT_EQ(lastMessage(), "Message send to SendThread error");
    EXPECT_FALSE(download.underWay());
    EXPECT_TRUE(take().empty());

    worker.end();
    panel.clearMessages();
    download.start();
    EXPECT_EQ(lastMessage(), "Message send to SendThread error");
    EXPECT_FALSE(download.underWay());
    EXPECT_FALSE(heldOpen(*host.answer));
}

}  // namespace
