// valdor --decode on the example traces of docs/examples: every trace line
// comes out as a frame, requests by name, and each response the example
// showed with `show response` comes out exactly as it showed it.  And a
// damaged file is named with its offset, never a crash.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/shell.h"
#include "rslink/core/capture_format.h"
#include "valdor/records/decode.h"

namespace fs = std::filesystem;

namespace {

using testsupport::lines;
using testsupport::slurp;

const fs::path kExamples = fs::path(SOURCE_DIR) / "docs" / "examples";



struct Decoded {
    int status;
    std::string out, err;
};

Decoded decode(const std::string &name, const std::string &content) {
    char *outBuf = nullptr, *errBuf = nullptr;
    size_t outLen = 0, errLen = 0;
    std::FILE *out = open_memstream(&outBuf, &outLen);
    std::FILE *err = open_memstream(&errBuf, &errLen);
    const int status = valdor::records::decode(
        name, {reinterpret_cast<const uint8_t *>(content.data()), content.size()}, out, err);
    std::fclose(out);
    std::fclose(err);
    Decoded r{status, std::string(outBuf, outLen), std::string(errBuf, errLen)};
    std::free(outBuf);
    std::free(errBuf);
    return r;
}

bool isResponseLine(const std::string &l) {
    if (l.size() < 6 || l[0] != '@') return false;
    const int id = std::atoi(l.c_str() + 1);
    return (id >= 1200 && id <= 1235) || (id >= 1283 && id <= 1360);
}

class ExampleTrace : public ::testing::TestWithParam<const char *> {};

TEST_P(ExampleTrace, DecodesEveryFrameAndShowsResponsesAsTheConsoleDid) {
    std::string text = slurp(kExamples / (std::string(GetParam()) + ".out"));
    // The examples mask the clock frame's date digits as "..": any digit will do.
    for (size_t at; (at = text.find(" ..")) != std::string::npos;) text.replace(at, 3, " 30");
    const Decoded run = decode(GetParam(), text);
    ASSERT_EQ(run.status, 0) << run.err;

    // What the example showed after each RECV line (empty: nothing shown).
    std::vector<std::string> sentTexts;
    std::vector<std::vector<std::string>> shown;
    bool afterRecv = false;
    for (const std::string &l : lines(text)) {
        if (l.rfind("SEND[", 0) == 0) {
            sentTexts.push_back(l.substr(l.find("]>") + 2));
            afterRecv = false;
        } else if (l.rfind("RECV[", 0) == 0) {
            shown.emplace_back();
            afterRecv = true;
        } else if (afterRecv && isResponseLine(l)) {
            shown.back().push_back(l);
        }
    }

    std::vector<std::vector<std::string>> decoded;
    size_t sends = 0, named = 0;
    for (const std::string &l : lines(run.out)) {
        if (l.find(" SEND frame ") != std::string::npos) ++sends;
        if (l.rfind("  request: ", 0) == 0 && l.find("not a request") == std::string::npos) ++named;
        if (l == "  response:") decoded.emplace_back();
        else if (!decoded.empty() && l[0] == '@') decoded.back().push_back(l);
    }
    EXPECT_EQ(sends, sentTexts.size());
    EXPECT_EQ(named, sends) << "every request of the examples has a name";
    ASSERT_EQ(decoded.size(), shown.size());
    size_t compared = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i].empty()) continue;
        ++compared;
        EXPECT_EQ(decoded[i], shown[i]) << "response " << i + 1;
    }
    if (std::string(GetParam()) == "status-check") {
        EXPECT_EQ(compared, 2u);
    }
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleTrace,
                         ::testing::Values("status-check", "bill-count", "log-read", "oplog-acquisition",
                                           "download"));

TEST(DecodeDamage, NamesTheFileAndOffsetAndKeepsWhatCameBefore) {
    std::vector<uint8_t> file = rslink::capture::encodeHeader();
    rslink::capture::appendBurst(file, 0, 5, rslink::capture::Direction::HostToUnit, std::vector<uint8_t>{0x10, 0x05});
    file.push_back(0x04);  // a record header cut short
    const Decoded capture = decode("field.rslcap", std::string(file.begin(), file.end()));
    EXPECT_EQ(capture.status, 2);
    EXPECT_NE(capture.err.find("field.rslcap: offset 23: "), std::string::npos) << capture.err;
    EXPECT_NE(capture.out.find("SEND DLE ENQ"), std::string::npos) << capture.out;

    const Decoded trace = decode("box.txt", "SEND[10:00:00:000]>00 01 1C\nRECV[10:00:00:100]>E0 XY\n");
    EXPECT_EQ(trace.status, 2);
    EXPECT_NE(trace.err.find("box.txt: offset 50 (line 2): "), std::string::npos) << trace.err;
    EXPECT_NE(trace.out.find("request: Status read"), std::string::npos) << trace.out;

    const Decoded neither = decode("notes.txt", "COM OPEN Completed.\n");
    EXPECT_EQ(neither.status, 2);
    EXPECT_NE(neither.err.find("notes.txt: neither a capture nor"), std::string::npos) << neither.err;
}

}  // namespace
