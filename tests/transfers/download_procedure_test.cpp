// The program download driven directly: a test thread plays the worker,
// the fake host answers the file dialog.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "expected_report.h"
#include "fakes.h"
#include "valdor/engine/commands.h"
#include "valdor/engine/request_builder.h"
#include "valdor/transfers/download_procedure.h"
#include "valdor/transfers/oplog_procedure.h"

namespace {

using namespace transfers_test;
using valdor::MemoryPanel;
namespace ctl = valdor::ctl;

std::vector<uint8_t> pattern(size_t size, unsigned seed = 7) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * seed + i / 251 + 3) & 0xFF);
    return bytes;
}

// A frame taken apart, checking its outer shape on the way.
struct Frame {
    uint8_t code = 0;
    size_t blockLength = 0;
    std::string head;    // block bytes 0-7
    std::string length;  // block bytes 8-11
    std::string number;  // block bytes 12-15 (the year in a time frame)
    std::vector<uint8_t> fileId;
    std::vector<uint8_t> data;
    std::string stamp;   // time frame: block bytes 12-25
};

Frame parse(const std::vector<uint8_t> &f) {
    Frame out;
    EXPECT_GE(f.size(), 33u);
    if (f.size() < 33) return out;
    EXPECT_EQ(f[0], 0x60);
    EXPECT_EQ(f[2], 0xFF);
    EXPECT_EQ(f[3], 0x00);
    out.code = f[1];
    out.blockLength = static_cast<size_t>(f[4]) << 8 | f[5];
    EXPECT_EQ(f.size(), out.blockLength + 7);
    EXPECT_EQ(f.back(), 0x1C);
    const char *block = reinterpret_cast<const char *>(f.data() + 6);
    out.head.assign(block, 8);
    out.length.assign(block + 8, 4);
    out.number.assign(block + 12, 4);
    if (out.code == 0xD4) {
        out.stamp.assign(block + 12, 14);
        return out;
    }
    out.fileId.assign(f.begin() + 6 + 16, f.begin() + 6 + 28);
    out.data.assign(f.begin() + 6 + 28, f.end() - 1);
    return out;
}

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override { showMessages(panel); }

    // What command 100 would send now.
    std::vector<uint8_t> take() {
        std::vector<uint8_t> out(valdor::kRequestBufferSize);
        size_t n = 0;
        worker.run([&] { n = download.takeBlock(out.data(), out.size()); });
        out.resize(n);
        return out;
    }

    // The worker's continuation after a received frame.
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

    bool sawMessage(const std::string &line) const {
        for (auto &m : panel.messages())
            if (m == line) return true;
        return false;
    }

    MemoryPanel panel;
    FakeHost host;
    FakeWorker worker{panel};
    valdor::DownloadProcedure download{panel, host, worker};
    TempDir dir;
};

TEST_F(DownloadTest, FileOfThreeBlocksGoesOutAsNumberedDataEndAndTimeFrames) {
    auto program = pattern(2500);
    host.answer = dir.write("prog.prg", program);
    download.start();
    EXPECT_TRUE(heldOpen(*host.answer));

    ASSERT_EQ(host.dialogs, 1);
    ASSERT_EQ(host.filters.size(), 2u);
    EXPECT_EQ(host.filters[0].description, "Download files(*.prg)");
    EXPECT_EQ(host.filters[0].pattern, "*.prg");
    EXPECT_EQ(host.filters[1].description, "All files(*.*)");
    EXPECT_EQ(host.filters[1].pattern, "*.*");
    EXPECT_EQ(host.initialName, "*.prg");
    EXPECT_EQ(panel.text(ctl::DownloadFileName), "prog.prg");
    EXPECT_EQ(panel.progressRange(), std::make_pair(0, 5));
    EXPECT_TRUE(download.underWay());

    std::vector<int> positions;
    auto frames = runToEnd(&positions);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(positions, (std::vector<int>{1, 2, 3, 4, 5}));

    const size_t sizes[] = {1249, 1249, 107};
    const size_t blockLengths[] = {1242, 1242, 100};
    const char *lengthFields[] = {"04CE", "04CE", "0058"};
    const char *numbers[] = {"0001", "0002", "0003"};
    std::vector<uint8_t> fileId(program.begin() + 32, program.begin() + 44);
    std::vector<uint8_t> sent;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(frames[i].size(), sizes[i]);
        Frame f = parse(frames[i]);
        EXPECT_EQ(f.code, 0xD1);
        EXPECT_EQ(f.blockLength, blockLengths[i]);
        EXPECT_EQ(f.head, "01LD00H0");
        EXPECT_EQ(f.length, lengthFields[i]);
        EXPECT_EQ(f.number, numbers[i]);
        EXPECT_EQ(f.fileId, fileId);
        sent.insert(sent.end(), f.data.begin(), f.data.end());
    }
    // The whole file travels, its first 44 bytes included.
    EXPECT_EQ(sent, program);

    Frame end = parse(frames[3]);
    EXPECT_EQ(frames[3].size(), 35u);
    EXPECT_EQ(end.code, 0xD2);
    EXPECT_EQ(end.head, "01LE00H0");
    EXPECT_EQ(end.length, "0010");
    EXPECT_EQ(end.number, "0004");
    EXPECT_EQ(end.fileId, fileId);
    EXPECT_TRUE(end.data.empty());

    Frame time = parse(frames[4]);
    EXPECT_EQ(frames[4].size(), 33u);
    EXPECT_EQ(time.code, 0xD4);
    EXPECT_EQ(time.blockLength, 26u);
    EXPECT_EQ(time.head, "01RT00I2");
    EXPECT_EQ(time.length, "000E");

    EXPECT_FALSE(download.underWay());
    EXPECT_FALSE(heldOpen(*host.answer));
    ASSERT_FALSE(panel.messages().empty());
    EXPECT_EQ(panel.messages().back(), "DOWNLOAD NORMAL END");
}

TEST_F(DownloadTest, FileFillingItsLastFrameGetsAnEmptyDataFrameBeforeTheEnd) {
    auto program = pattern(1214);
    host.answer = dir.write("exact.prg", program);
    download.start();
    EXPECT_EQ(panel.progressRange(), std::make_pair(0, 3));
    auto frames = runToEnd();
    ASSERT_EQ(frames.size(), 4u);
    Frame first = parse(frames[0]), second = parse(frames[1]), end = parse(frames[2]);
    EXPECT_EQ(first.data, program);
    EXPECT_EQ(first.length, "04CE");
    EXPECT_EQ(second.code, 0xD1);
    EXPECT_EQ(second.blockLength, 28u);
    EXPECT_EQ(second.length, "0010");
    EXPECT_EQ(second.number, "0002");
    EXPECT_TRUE(second.data.empty());
    EXPECT_EQ(end.code, 0xD2);
    EXPECT_EQ(end.number, "0003");
    EXPECT_EQ(parse(frames[3]).code, 0xD4);
    EXPECT_EQ(panel.progressPosition(), 3);
    EXPECT_EQ(panel.messages().back(), "DOWNLOAD NORMAL END");
}

TEST_F(DownloadTest, EmptyAndShortFilesPadTheirFileIdWithZeros) {
    struct Case {
        size_t size;
        size_t frames;
    } cases[] = {{0, 3}, {40, 3}, {43, 3}};
    for (auto c : cases) {
        SCOPED_TRACE(c.size);
        auto program = pattern(c.size, 13);
        host.answer = dir.write("short.prg", program);
        download.start();
        auto frames = runToEnd();
        ASSERT_EQ(frames.size(), c.frames);
        Frame data = parse(frames[0]);
        EXPECT_EQ(data.data, program);
        EXPECT_EQ(data.number, "0001");
        std::vector<uint8_t> expectedId(12, 0);
        for (size_t i = 32; i < c.size && i < 44; ++i) expectedId[i - 32] = program[i];
        EXPECT_EQ(data.fileId, expectedId);
        EXPECT_EQ(parse(frames[1]).fileId, expectedId);
        EXPECT_EQ(parse(frames[1]).number, "0002");
        EXPECT_EQ(panel.messages().back(), "DOWNLOAD NORMAL END");
    }
}

TEST_F(DownloadTest, TimeFrameStampMatchesTheClockWhenItWasBuilt) {
    host.answer = dir.write("t.prg", pattern(10));
    download.start();
    ASSERT_TRUE(worker.takePosted());
    take();
    answer(0xE0);  // data frame answered: end frame posted
    ASSERT_TRUE(worker.takePosted());
    take();
    auto format = [](const valdor::LocalTime &t) {
        char s[32];
        std::snprintf(s, sizeof s, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
        return std::string(s);
    };
    auto before = format(valdor::localNow());
    answer(0xE0);  // end frame answered: time frame built now
    auto after = format(valdor::localNow());
    ASSERT_TRUE(worker.takePosted());
    Frame time = parse(take());
    EXPECT_TRUE(time.stamp == before || time.stamp == after) << time.stamp << " not " << before << "/" << after;
    for (char c : time.stamp) EXPECT_TRUE(c >= '0' && c <= '9');
}

TEST_F(DownloadTest, NegativeAnswerEndsTheDownloadWithoutFurtherFrames) {
    host.answer = dir.write("neg.prg", pattern(2500));
    download.start();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(worker.takePosted());
        take();
        answer(0xE0);
    }
    ASSERT_TRUE(worker.takePosted());
    EXPECT_EQ(parse(take()).code, 0xD2);
    answer(0xE1);  // the end frame refused
    EXPECT_FALSE(download.underWay());
    EXPECT_TRUE(worker.posted().empty()) << "no time frame after a refused end frame";
    EXPECT_EQ(panel.messages().back(), "DOWNLOAD ABNORMAL END -> ERR RESPONSE");
    // The bar keeps its place until the next start.
    EXPECT_EQ(panel.progressPosition(), 4);
}

TEST_F(DownloadTest, FailedStartsReportAndSendNothing) {
    // Cancelled dialog.
    host.answer.reset();
    download.start();
    EXPECT_EQ(panel.messages().back(), "Download Cancel");

    // No such file: the name is not shown beside the bar.
    host.answer = dir.file("nothere.prg");
    download.start();
    EXPECT_EQ(panel.messages().back(), "FILE FIND ERROR(FILENAME=nothere.prg)");
    EXPECT_EQ(panel.text(ctl::DownloadFileName), "");

    // A folder exists but cannot be read as a program.
    std::string folder = dir.file("adir.prg");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    host.answer = folder;
    download.start();
    EXPECT_EQ(panel.messages().back(), "FILE OPEN ERROR(FILENAME=adir.prg CODE=0x00000015)");
    EXPECT_EQ(panel.text(ctl::DownloadFileName), "adir.prg");

    EXPECT_TRUE(worker.posted().empty());
    EXPECT_FALSE(download.underWay());
}

TEST_F(DownloadTest, CancelOrFailedCheckEndsARunningDownload) {
    const char *outcomes[] = {"cancel", "missing"};
    for (const char *outcome : outcomes) {
        SCOPED_TRACE(outcome);
        host.answer = dir.write("run.prg", pattern(5000));
        download.start();
        ASSERT_TRUE(worker.takePosted());
        take();
        answer(0xE0);  // second data frame posted, not yet taken
        ASSERT_TRUE(download.underWay());
        int position = panel.progressPosition();

        if (std::string(outcome) == "cancel")
            host.answer.reset();
        else
            host.answer = dir.file("gone.prg");
        download.start();
        EXPECT_FALSE(download.underWay());
        // The frame still waiting for command 100 does not go out.
        ASSERT_TRUE(worker.takePosted());
        EXPECT_TRUE(take().empty());
        EXPECT_EQ(panel.progressPosition(), position);
    }
}

TEST_F(DownloadTest, SecondFileWhileOneRunsIsRefusedAndTheFirstGoesOn) {
    auto first = pattern(2500, 3);
    host.answer = dir.write("first.prg", first);
    download.start();
    ASSERT_TRUE(worker.takePosted());
    std::vector<uint8_t> sent = parse(take()).data;
    answer(0xE0);

    host.answer = dir.write("second.prg", pattern(100, 5));
    download.start();
    EXPECT_EQ(panel.messages().back(),
              "DOWNLOAD START ERROR(a download is running; cancel the file dialog to end it)");
    EXPECT_TRUE(download.underWay());

    auto frames = runToEnd();
    ASSERT_EQ(frames.size(), 4u);  // data 2 and 3, end, time
    for (int i = 0; i < 2; ++i) {
        auto data = parse(frames[i]).data;
        sent.insert(sent.end(), data.begin(), data.end());
    }
    EXPECT_EQ(sent, first);
    EXPECT_EQ(parse(frames[2]).number, "0004");
}

TEST_F(DownloadTest, EachPreparedFrameGoesOutOnce) {
    host.answer = dir.write("once.prg", pattern(3000));
    download.start();
    ASSERT_TRUE(worker.takePosted());
    EXPECT_EQ(parse(take()).number, "0001");
    // A stray second command 100 before the answer finds nothing to send.
    EXPECT_TRUE(take().empty());
    answer(0xE0);
    EXPECT_EQ(parse(take()).number, "0002");
}

TEST_F(DownloadTest, AbortClosesTheDownloadAndDropsTheWaitingFrame) {
    host.answer = dir.write("abort.prg", pattern(5000));
    download.start();
    ASSERT_TRUE(worker.takePosted());
    ASSERT_TRUE(heldOpen(*host.answer));
    worker.run([&] { download.abort(); });
    EXPECT_FALSE(download.underWay());
    EXPECT_FALSE(heldOpen(*host.answer));
    EXPECT_TRUE(take().empty());
    // No message of its own: the worker reports the failure.
    EXPECT_TRUE(panel.messages().empty());

    // A later start begins afresh.
    auto program = pattern(300);
    host.answer = dir.write("again.prg", program);
    download.start();
    auto frames = runToEnd();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(parse(frames[0]).number, "0001");
    EXPECT_EQ(parse(frames[0]).data, program);
}

TEST_F(DownloadTest, ProgramTooLongToNumberIsRefused) {
    // 9998 data frames at most, the end frame taking 9999; a file that fills
    // 9998 frames exactly would need a 9999th, empty one.
    const uint64_t limit = 9998ull * 1214;
    std::string big = dir.file("big.prg");
    {
        std::ofstream touch(big);
    }
    ASSERT_EQ(truncate(big.c_str(), static_cast<off_t>(limit)), 0);
    host.answer = big;
    download.start();
    EXPECT_EQ(panel.messages().back(), "FILE SIZE ERROR(FILENAME=big.prg SIZE=12137572 MAX=12137571)");
    EXPECT_TRUE(worker.posted().empty());
    EXPECT_FALSE(download.underWay());

    // One byte less goes through, its end frame numbered 9999.
    ASSERT_EQ(truncate(big.c_str(), static_cast<off_t>(limit - 1)), 0);
    download.start();
    EXPECT_EQ(panel.progressRange(), std::make_pair(0, 10000));
    std::vector<uint8_t> last, end;
    size_t frames = 0;
    worker.run([&] {
        std::vector<uint8_t> buffer(valdor::kRequestBufferSize);
        while (worker.takePosted()) {
            size_t n = download.takeBlock(buffer.data(), buffer.size());
            std::vector<uint8_t> out(buffer.begin(), buffer.begin() + static_cast<long>(n));
            ++frames;
            if (out[1] == 0xD1) last = out;
            if (out[1] == 0xD2) end = out;
            if (download.underWay()) download.onResponse(0xE0);
        }
    });
    EXPECT_EQ(frames, 10000u);
    EXPECT_EQ(parse(last).number, "9998");
    EXPECT_EQ(parse(end).number, "9999");
    EXPECT_EQ(panel.messages().back(), "DOWNLOAD NORMAL END");
}

TEST_F(DownloadTest, WorkerGoneMeansNothingStarts) {
    host.answer = dir.write("w.prg", pattern(100));
    worker.end();
    download.start();
    EXPECT_EQ(panel.messages().back(), "Message send to SendThread error");
    EXPECT_FALSE(download.underWay());
}

TEST_F(DownloadTest, RefusedPostLeavesNothingWaitingForAnAnswer) {
    host.answer = dir.write("p.prg", pattern(5000));
    download.start();
    ASSERT_TRUE(worker.takePosted());
    take();
    worker.refusePosts();
    answer(0xE0);
    EXPECT_EQ(panel.messages().back(), "Message send to SendThread error");
    EXPECT_FALSE(download.underWay());
    EXPECT_TRUE(take().empty());
}

TEST_F(DownloadTest, RefusedWhileAnAcquisitionRuns) {
    valdor::OplogProcedure oplog{panel, host, worker};
    host.answer = dir.file("report.txt");
    oplog.start();
    ASSERT_TRUE(oplog.underWay());
    int dialogs = host.dialogs;

    host.answer = dir.write("d.prg", pattern(100));
    download.start();
    EXPECT_EQ(host.dialogs, dialogs) << "refused before the dialog";
    EXPECT_EQ(panel.messages().back(), "DOWNLOAD START ERROR(an operational log acquisition is running)");
    EXPECT_EQ(worker.posted(), std::vector<int>{valdor::CMD_OPERATIONAL_LOG});
    EXPECT_FALSE(download.underWay());
}

}  // namespace
