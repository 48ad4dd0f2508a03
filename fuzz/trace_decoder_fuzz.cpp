// The trace decoder on arbitrary text, as saved from other people's message
// boxes: damage is reported inside the input, every trace line it took
// written out again reads back the same, and decoding never crashes.
#include <cstdio>
#include <string>

#include "fuzz_line.h"
#include "rslink/core/hex.h"
#include "valdor/engine/trace_line.h"
#include "valdor/records/decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto parsed = valdor::parseTrace(text);
    FUZZ_CHECK(parsed.ok() || parsed.errorOffset <= size, "an error offset past the end");
    FUZZ_CHECK(parsed.ok() || parsed.errorLine >= 1, "an error without its line");

    std::string again;
    for (const auto &l : parsed.lines) {
        FUZZ_CHECK(l.offset < size && l.line >= 1, "a trace line outside the text");
        again += (l.sent ? "SEND[" : "RECV[") + l.time + "]>";
        rslink::core::appendHex(again, l.text, rslink::core::HexGap::After);
        again += "\r\n";
    }
    const auto back = valdor::parseTrace(again);
    FUZZ_CHECK(back.ok() && back.lines.size() == parsed.lines.size(), "written out, the lines do not read back");
    for (size_t i = 0; i < back.lines.size(); ++i)
        FUZZ_CHECK(back.lines[i].text == parsed.lines[i].text && back.lines[i].sent == parsed.lines[i].sent,
                   "a trace line reads back different");

    static std::FILE *sink = std::fopen("/dev/null", "w");
    const int status = valdor::records::decode("fuzz", {data, size}, sink, sink);
    FUZZ_CHECK(status == 0 || status == 2, "decode returned an unknown status");
    return 0;
}
