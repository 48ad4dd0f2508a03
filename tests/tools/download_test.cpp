// The unit's checks of program download frames: a good chain is taken and
// summed, and every kind of wrong frame is answered negatively.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "scripted_host.h"

namespace toolstest {
namespace {

constexpr size_t kFull = 1214;

Bytes chars(const std::string &text) { return Bytes(text.begin(), text.end()); }

std::string format(const char *pattern, unsigned value) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

Bytes dataFrame(unsigned number, const Bytes &fileId, const Bytes &data) {
    Bytes block = chars("01LD00H0" + format("%04X", static_cast<unsigned>(data.size() + 16)) +
                        format("%04u", number));
    block.insert(block.end(), fileId.begin(), fileId.end());
    block.insert(block.end(), data.begin(), data.end());
    return enhanced(0xD1, block);
}

Bytes endFrame(unsigned number, const Bytes &fileId) {
    Bytes block = chars("01LE00H00010" + format("%04u", number));
    block.insert(block.end(), fileId.begin(), fileId.end());
    return enhanced(0xD2, block);
}

Bytes timeFrame(const std::string &digits) { return enhanced(0xD4, chars("01RT00I2000E" + digits)); }

Bytes programFile(size_t size) {
    Bytes file(size);
    for (size_t i = 0; i < size; ++i) file[i] = static_cast<uint8_t>(i * 7 + i / 256 + 3);
    return file;
}

Bytes fileIdOf(const Bytes &file) {
    Bytes id(12, 0);
    for (size_t i = 0; i < 12 && 32 + i < file.size(); ++i) id[i] = file[32 + i];
    return id;
}

// The error code of an enhanced response, as four hex digits; "" when positive.
std::string errorOf(const Bytes &response) {
    if (response.size() < 8) return "short";
    if (response[0] == 0xE0) return "";
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X", response[6], response[7]);
    return text;
}

class Download : public ::testing::Test {
protected:
    // Sends the whole file as the console does; every answer must be positive.
    void sendFile(const Bytes &file) {
        const Bytes id = fileIdOf(file);
        unsigned number = 0;
        size_t at = 0;
        for (bool more = true; more;) {
            const size_t n = std::min(kFull, file.size() - at);
            const Bytes r = rig.host.exchange(dataFrame(++number, id, Bytes(file.begin() + static_cast<long>(at),
                                                                             file.begin() + static_cast<long>(at + n))));
            ASSERT_EQ(errorOf(r), "") << "block " << number;
            EXPECT_EQ(r[1], 0xD1);
            at += n;
            more = n == kFull;
        }
        ASSERT_EQ(errorOf(rig.host.exchange(endFrame(number + 1, id))), "");
        ASSERT_EQ(errorOf(rig.host.exchange(timeFrame("20261208153000"))), "");
    }

    bool printed(const std::string &line) {
        return rig.unit.waitForLine([&](const std::string &l) { return l == line; }, std::chrono::seconds(5));
    }

    Rig rig;
};

TEST_F(Download, AGoodChainIsTakenCountedAndSummed) {
    const Bytes file = programFile(2500);
    sendFile(file);
    EXPECT_TRUE(printed(format("DOWNLOAD OK blocks=3 bytes=2500 crc=%04X", kermit(file))));
    EXPECT_TRUE(printed("DOWNLOAD CLOCK 20261208153000"));
}

TEST_F(Download, AFileThatFillsItsLastBlockEndsWithAnEmptyOne) {
    const Bytes file = programFile(kFull);
    sendFile(file);
    EXPECT_TRUE(printed(format("DOWNLOAD OK blocks=2 bytes=1214 crc=%04X", kermit(file))));
}

TEST_F(Download, ABlockOutOfOrderIsRefusedAndAFreshStartIsTaken) {
    const Bytes file = programFile(3000);
    const Bytes id = fileIdOf(file);
    const Bytes first(file.begin(), file.begin() + kFull);
    ASSERT_EQ(errorOf(rig.host.exchange(dataFrame(1, id, first))), "");
    EXPECT_EQ(errorOf(rig.host.exchange(dataFrame(3, id, first))), "C303");
    EXPECT_TRUE(rig.unit.waitForLine([](const std::string &l) { return l.starts_with("DOWNLOAD BAD C303"); }));
    // The refused chain is over: its next block does not continue it.
    EXPECT_EQ(errorOf(rig.host.exchange(dataFrame(2, id, first))), "C303");
    sendFile(file);
    EXPECT_TRUE(printed(format("DOWNLOAD OK blocks=3 bytes=3000 crc=%04X", kermit(file))));
}

TEST_F(Download, EachWrongFrameEarnsItsError) {
    const Bytes id(12, 'I');
    const Bytes full(kFull, 0x5A);
    const Bytes shortData(10, 0x5A);
    auto withByte = [](Bytes frame, size_t at, uint8_t value) {
        frame[at] = value;
        return frame;
    };
    struct Case {
        const char *what;
        std::vector<Bytes> before;   // good frames first
        Bytes frame;
        const char *error;
    };
    const Case cases[] = {
        {"length field one short", {}, withByte(dataFrame(1, id, shortData), 6 + 11, '9'), "C304"},
        {"block length not the frame's", {}, withByte(dataFrame(1, id, shortData), 5, 0x30), "C304"},
        {"more than a block holds", {}, dataFrame(1, id, Bytes(kFull + 1, 0)), "C304"},
        {"not \"01\"", {}, withByte(dataFrame(1, id, shortData), 6 + 1, '2'), "C302"},
        {"D-code not \"00\"", {}, withByte(dataFrame(1, id, shortData), 6 + 5, '1'), "C301"},
        {"\"LE\" in a data frame", {}, withByte(dataFrame(1, id, shortData), 6 + 3, 'E'), "C201"},
        {"end before any data", {}, endFrame(1, id), "C002"},
        {"end with the wrong number", {dataFrame(1, id, shortData)}, endFrame(3, id), "C303"},
        {"file_id changed", {dataFrame(1, id, full)}, dataFrame(2, Bytes(12, 'J'), shortData), "C105"},
        {"end with another file_id", {dataFrame(1, id, shortData)}, endFrame(2, Bytes(12, 'J')), "C105"},
        {"data after the short block", {dataFrame(1, id, shortData)}, dataFrame(2, id, shortData), "C303"},
        {"time before the end", {dataFrame(1, id, shortData)}, timeFrame("20261208153000"), "C100"},
        {"month 13", {dataFrame(1, id, shortData), endFrame(2, id)}, timeFrame("20261308153000"), "EA00"},
    };
    for (const Case &c : cases) {
        for (const Bytes &frame : c.before) ASSERT_EQ(errorOf(rig.host.exchange(frame)), "") << c.what;
        const Bytes r = rig.host.exchange(c.frame);
        EXPECT_EQ(errorOf(r), c.error) << c.what;
        EXPECT_EQ(r.at(1), c.frame[1]) << c.what;
    }
}

TEST(DownloadOption, NegativeDownloadRefusesTheChosenFrameOnly) {
    Rig rig({"--negative-download", "2"});
    const Bytes file = programFile(2000);
    const Bytes id = fileIdOf(file);
    const Bytes first(file.begin(), file.begin() + kFull);
    const Bytes second(file.begin() + kFull, file.end());
    EXPECT_EQ(rig.host.exchange(dataFrame(1, id, first)).at(0), 0xE0);
    EXPECT_NE(rig.host.exchange(dataFrame(2, id, second)).at(0), 0xE0);
    // The refused frame was not taken: the same frame again is block 2 still.
    EXPECT_EQ(rig.host.exchange(dataFrame(2, id, second)).at(0), 0xE0);
    EXPECT_EQ(rig.host.exchange(endFrame(3, id)).at(0), 0xE0);
    EXPECT_TRUE(rig.unit.waitForLine([&](const std::string &l) {
        return l == format("DOWNLOAD OK blocks=2 bytes=2000 crc=%04X", kermit(file));
    }));
}

}  // namespace
}  // namespace toolstest
