#include "valdor/records/pcap_export.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace valdor::records {
namespace {

void put32(std::vector<uint8_t> &out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put16(std::vector<uint8_t> &out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

}  // namespace

std::vector<uint8_t> toPcap(const std::vector<rslink::capture::Record> &records) {
    std::vector<uint8_t> out;
    put32(out, 0xA1B2C3D4);  // microsecond time stamps, little-endian
    put16(out, 2);
    put16(out, 4);
    put32(out, 0);  // time zone
    put32(out, 0);  // accuracy
    put32(out, 65535);
    put32(out, kLinkTypeUser0);
    for (size_t i = 0; i < records.size(); ++i) {
        const auto &r = records[i];
        if (r.type != rslink::capture::RecordType::Burst) continue;
        const int64_t wall = rslink::capture::wallTime(records, i);
        const auto size = static_cast<uint32_t>(r.bytes.size() + 1);
        put32(out, static_cast<uint32_t>(wall / 1000000));
        put32(out, static_cast<uint32_t>(wall % 1000000));
        put32(out, size);
        put32(out, size);
        out.push_back(static_cast<uint8_t>(r.direction));
        out.insert(out.end(), r.bytes.begin(), r.bytes.end());
    }
    return out;
}

int exportPcapFile(const std::string &capture, const std::string &outPath, std::FILE *err) {
    std::ifstream in(capture, std::ios::binary);
    if (!in) {
        std::fprintf(err, "valdor: cannot open %s: %s\n", capture.c_str(), std::strerror(errno));
        return 2;
    }
    const std::vector<uint8_t> content((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
    const auto parsed = rslink::capture::parse(content);
    if (!parsed.ok())
        std::fprintf(err, "valdor: %s: offset %zu: %s\n", capture.c_str(), parsed.errorOffset,
                     parsed.error.c_str());
    if (!parsed.ok() && parsed.records.empty()) return 2;
    const std::vector<uint8_t> pcap = toPcap(parsed.records);
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    if (!out.write(reinterpret_cast<const char *>(pcap.data()), static_cast<std::streamsize>(pcap.size())) ||
        !out.flush()) {
        std::fprintf(err, "valdor: cannot write %s: %s\n", outPath.c_str(), std::strerror(errno));
        return 2;
    }
    return parsed.ok() ? 0 : 2;
}

}  // namespace valdor::records
