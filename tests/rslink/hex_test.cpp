// The one hex formatter: "%02X" for every byte, blanks where asked.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "rslink/core/hex.h"

using namespace rslink::core;

namespace {

TEST(Hex, EveryByteIsWrittenAsPrintfWritesIt) {
    for (int value = 0; value < 256; ++value) {
        char expected[3];
        std::snprintf(expected, sizeof expected, "%02X", value);
        std::string text;
        appendHex(text, static_cast<uint8_t>(value));
        EXPECT_EQ(text, expected);
    }
}

TEST(Hex, BlanksGoNowhereBetweenOrAfterEachByte) {
    const uint8_t bytes[] = {0x60, 0x0A, 0xFF};
    auto written = [&](HexGap gap, std::span<const uint8_t> from) {
        std::string text = "x";  // appended, never replaced
        appendHex(text, from, gap);
        return text;
    };
    EXPECT_EQ(written(HexGap::None, bytes), "x600AFF");
    EXPECT_EQ(written(HexGap::Between, bytes), "x60 0A FF");
    EXPECT_EQ(written(HexGap::After, bytes), "x60 0A FF ");
    EXPECT_EQ(spacedHex(bytes), "60 0A FF");
    for (HexGap gap : {HexGap::None, HexGap::Between, HexGap::After}) EXPECT_EQ(written(gap, {}), "x");
    EXPECT_EQ(spacedHex({}), "");
}

}  // namespace
