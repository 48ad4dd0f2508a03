// The capture reader on arbitrary files, as they come from other machines:
// it never reads past the input, reports any damage at an offset inside it,
// keeps only records that re-encode to themselves, and the decoder, the
// splitter and the pcap export take whatever it read.
#include <cstdio>

#include "fuzz_line.h"
#include "rslink/analysis/line_tokens.h"
#include "rslink/core/capture_format.h"
#include "valdor/records/decode.h"
#include "valdor/records/pcap_export.h"

namespace cap = rslink::capture;

namespace {

std::vector<uint8_t> reencode(const cap::Record &r) {
    switch (r.type) {
        case cap::RecordType::Clock: return cap::encodeClock(r.device, r.micros, r.wallMicros, r.text);
        case cap::RecordType::Open:
            return cap::encodeOpen(r.device, r.micros, r.speed, r.dataBits, r.parity, r.stopBits, r.port, r.text);
        case cap::RecordType::Close: return cap::encodeClose(r.device, r.micros);
        case cap::RecordType::Burst: {
            std::vector<uint8_t> out;
            cap::appendBurst(out, r.device, r.micros, r.direction, r.bytes);
            return out;
        }
    }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const cap::Parsed parsed = cap::parse({data, size});
    FUZZ_CHECK(parsed.ok() || parsed.errorOffset <= size, "an error offset past the end");
    size_t last = 0;
    for (const cap::Record &r : parsed.records) {
        FUZZ_CHECK(r.offset >= cap::kHeaderSize && r.offset < size, "a record outside the file");
        FUZZ_CHECK(r.offset >= last, "records out of order");
        last = r.offset + 1;
        // Written again and read back, a record keeps every field (bytes a
        // reader does not know, after a close record's time, are dropped;
        // texts longer than the writer keeps are cut).
        if (r.text.size() > 1024) continue;
        std::vector<uint8_t> again = cap::encodeHeader();
        const std::vector<uint8_t> record = reencode(r);
        again.insert(again.end(), record.begin(), record.end());
        const cap::Parsed back = cap::parse(again);
        FUZZ_CHECK(back.ok() && back.records.size() == 1, "a record written again does not read back");
        const cap::Record &b = back.records[0];
        FUZZ_CHECK(b.type == r.type && b.device == r.device && b.micros == r.micros &&
                       b.wallMicros == r.wallMicros && b.speed == r.speed && b.dataBits == r.dataBits &&
                       b.parity == r.parity && b.stopBits == r.stopBits && b.port == r.port &&
                       b.text == r.text && b.direction == r.direction && b.bytes == r.bytes,
                   "a record written again reads back different");
    }

    std::vector<rslink::analysis::LineToken> tokens;
    rslink::analysis::LineSplitter splitter;
    size_t taken = 0;
    for (size_t i = 0; i < parsed.records.size(); ++i)
        if (parsed.records[i].type == cap::RecordType::Burst) {
            splitter.feed(parsed.records[i].bytes, i, tokens);
            taken += parsed.records[i].bytes.size();
        }
    splitter.finish(tokens);
    size_t split = 0;
    for (const auto &t : tokens) split += t.raw.size();
    FUZZ_CHECK(split == taken, "the splitter lost or made up bytes");

    valdor::records::toPcap(parsed.records);
    static std::FILE *sink = std::fopen("/dev/null", "w");
    const int status = valdor::records::decode("fuzz", {data, size}, sink, sink);
    FUZZ_CHECK(status == 0 || status == 2, "decode returned an unknown status");
    FUZZ_CHECK((status == 0) == parsed.ok() || !cap::looksLikeCapture({data, size}),
               "decode and the reader disagree about the damage");
    return 0;
}
