// The splitter that turns the bytes of one side into pairs, frames and
// noise, as the decoder, the replay and the dissector's twin see them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rslink/analysis/line_tokens.h"
#include "support/pty_peer.h"

using rslink::analysis::LineSplitter;
using rslink::analysis::LineToken;
using testsupport::frameOf;
using testsupport::joined;

namespace {

// A compact picture of tokens: C05 a pair, F<text hex>+ / F<text hex>- a
// frame with a good or bad check code, N<bytes hex> noise.
std::string picture(const std::vector<LineToken> &tokens) {
    std::string out;
    char b[4];
    for (const auto &t : tokens) {
        if (!out.empty()) out += ' ';
        if (t.kind == LineToken::Kind::Control) {
            std::snprintf(b, sizeof b, "%02X", t.control);
            out += std::string("C") + b;
        } else if (t.kind == LineToken::Kind::Frame) {
            out += 'F';
            for (uint8_t v : t.text) {
                std::snprintf(b, sizeof b, "%02X", v);
                out += b;
            }
            out += t.good() ? '+' : '-';
        } else {
            out += 'N';
            for (uint8_t v : t.raw) {
                std::snprintf(b, sizeof b, "%02X", v);
                out += b;
            }
        }
    }
    return out;
}

struct Case {
    const char *name;
    std::vector<uint8_t> bytes;
    const char *expected;
};

class Split : public ::testing::TestWithParam<Case> {};

TEST_P(Split, GivesThePairsFramesAndNoiseThatWent) {
    EXPECT_EQ(picture(rslink::analysis::splitLine(GetParam().bytes)), GetParam().expected);
}

std::vector<uint8_t> badCheck() {
    auto f = frameOf({0x61, 0x62, 0x63});
    f.back() ^= 0x01;
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Split,
    ::testing::Values(
        Case{"pairs", {0x10, 0x05, 0x10, 0x06, 0x10, 0x15}, "C05 C06 C15"},
        Case{"known_frame", {0x10, 0x02, 0x00, 0x03, 0x61, 0x62, 0x63, 0x10, 0x03, 0x3B, 0x4B}, "F616263+"},
        Case{"bad_check_code", badCheck(), "F616263-"},
        Case{"dle_inside_text", frameOf({0x10, 0x10, 0x02}), "F101002+"},
        Case{"empty_text", frameOf({}), "F+"},
        Case{"noise_then_pair", {0x41, 0x42, 0x10, 0x06}, "N4142 C06"},
        Case{"dle_then_stranger", {0x10, 0x41, 0x10, 0x05}, "N1041 C05"},
        Case{"double_dle", {0x10, 0x10, 0x05}, "N10 C05"},
        Case{"missing_etx", joined({{0x10, 0x02, 0x00, 0x01, 0x61, 0x10, 0x41}, {0x10, 0x06}}),
             "N100200016110 N41 C06"},
        Case{"length_too_long", {0x10, 0x02, 0x20, 0x00, 0x10, 0x06}, "N10022000 C06"},
        Case{"cut_at_the_end", {0x10, 0x06, 0x10, 0x02, 0x00}, "C06 N100200"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(SplitAcrossBursts, AFrameSpanningBurstsIsWholeAndDatedByItsFirstBurst) {
    const auto f = joined({{0x10, 0x06, 0x10, 0x05}, frameOf({0x60, 0x01, 0x1C})});
    LineSplitter s;
    std::vector<LineToken> out;
    s.feed(std::span(f).first(7), 3, out);
    s.feed(std::span(f).subspan(7, 2), 4, out);
    s.feed(std::span(f).subspan(9), 5, out);
    s.finish(out);
    ASSERT_EQ(picture(out), "C06 C05 F60011C+");
    EXPECT_EQ(out[0].burst, 3u);
    EXPECT_EQ(out[2].burst, 3u);
    EXPECT_EQ(out[2].raw, std::vector<uint8_t>(f.begin() + 4, f.end()));
}

}  // namespace
