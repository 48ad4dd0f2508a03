#include "valdor/records/decode.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "rslink/analysis/line_tokens.h"
#include "rslink/core/capture_format.h"
#include "rslink/core/frame.h"
#include "rslink/core/hex.h"
#include "valdor/engine/trace_line.h"
#include "valdor/panel/memory_panel.h"
#include "valdor/panel/show_lines.h"
#include "valdor/responses/response_decoder.h"

namespace valdor::records {
namespace {

namespace cap = rslink::capture;
using rslink::analysis::LineToken;
using rslink::core::spacedHex;

constexpr std::array<RequestName, 17> kRequests = {{
    {0x01, "Status read"},
    {0x02, "Mechanical reset with bill settings"},
    {0x03, "Bill count"},
    {0x05, "Bill transport"},
    {0x06, "Bill retrieval"},
    {0x09, "Bill count, front"},
    {0x0A, "Bill count, rear"},
    {0x0E, "Device information"},
    {0x0F, "Bill diagnosis"},
    {0x10, "Cancel"},
    {0x11, "Bill count, reject"},
    {0x12, "Log read/clear, with optional message"},
    {0x13, "Operational log"},
    {0x14, "Sensor transition"},
    {0xD1, "Download data"},
    {0xD2, "Download end"},
    {0xD4, "Download time"},
}};

const char *controlName(uint8_t c) {
    switch (c) {
        case rslink::ENQ: return "DLE ENQ";
        case rslink::ACK: return "DLE ACK";
        case rslink::NAK: return "DLE NAK";
        default: return "DLE ?";
    }
}

// Prints requests by name and responses through the console's own decoder,
// on one panel for the whole file, as the window keeps its fields.
class Printer {
public:
    explicit Printer(std::FILE *out) : out_(out) {}

    // `check` describes the check code (empty for a trace line, which has
    // none); a frame with a bad one was refused, so it is not decoded.
    void frame(const std::string &when, bool sent, std::span<const uint8_t> text,
               const std::string &check, bool badCheck) {
        std::fprintf(out_, "%s %s frame %s%s\n", when.c_str(), sent ? "SEND" : "RECV",
                     spacedHex(text).c_str(), check.c_str());
        if (sent) {
            const std::string_view name = requestName(text);
            std::fprintf(out_, "  request: %s\n",
                         name.empty() ? "(not a request of this console)" : std::string(name).c_str());
            return;
        }
        if (badCheck) {
            std::fputs("  response: not taken (bad check code)\n", out_);
            return;
        }
        std::fputs("  response:\n", out_);
        showResponse(panel_, text);
        for (const std::string &line : responseLines(panel_)) std::fprintf(out_, "%s\n", line.c_str());
    }

    void line(const std::string &when, const std::string &what) {
        std::fprintf(out_, "%s %s\n", when.c_str(), what.c_str());
    }

private:
    std::FILE *out_;
    MemoryPanel panel_;
};

std::string localTime(int64_t wallMicros) {
    const time_t seconds = static_cast<time_t>(wallMicros / 1000000);
    tm t{};
    localtime_r(&seconds, &t);
    char b[48];
    std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d.%06lld", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                  static_cast<long long>(wallMicros % 1000000));
    return b;
}

const char *parityName(uint8_t p) {
    static const char *names[] = {"none", "odd", "even", "mark", "space"};
    return p < 5 ? names[p] : "?";
}

int decodeCapture(std::string_view name, std::span<const uint8_t> content, std::FILE *out,
                  std::FILE *err) {
    const cap::Parsed parsed = cap::parse(content);
    const auto &records = parsed.records;
    Printer printer(out);
    std::map<std::pair<uint8_t, int>, rslink::analysis::LineSplitter> splitters;
    auto when = [&](size_t index) {
        const std::string device = records[index].device ? "[" + std::to_string(records[index].device) + "] " : "";
        return device + localTime(cap::wallTime(records, index));
    };
    auto print = [&](bool sent, const LineToken &t) {
        const std::string at = when(t.burst);
        const char *dir = sent ? "SEND" : "RECV";
        switch (t.kind) {
            case LineToken::Kind::Control:
                printer.line(at, std::string(dir) + " " + controlName(t.control));
                break;
            case LineToken::Kind::Noise:
                printer.line(at, std::string(dir) + " noise " + spacedHex(t.raw));
                break;
            case LineToken::Kind::Frame: {
                char check[64];
                if (t.good())
                    std::snprintf(check, sizeof check, " (check code %04X good)", t.checkCode);
                else
                    std::snprintf(check, sizeof check, " (check code %04X bad, %04X expected)",
                                  t.checkCode, t.computed);
                printer.frame(at, sent, t.text, check, !t.good());
                break;
            }
        }
    };
    for (size_t i = 0; i < records.size(); ++i) {
        const cap::Record &r = records[i];
        switch (r.type) {
            case cap::RecordType::Clock:
                printer.line(when(i), "capture started by " + r.text);
                break;
            case cap::RecordType::Open: {
                char b[160];
                std::snprintf(b, sizeof b, "COM Open COM%u %s, %u baud, %u data bits, parity %s, stop bits %s",
                              r.port, r.text.c_str(), r.speed, r.dataBits, parityName(r.parity),
                              r.stopBits == 0 ? "1" : r.stopBits == 1 ? "1.5" : "2");
                printer.line(when(i), b);
                break;
            }
            case cap::RecordType::Close:
                for (auto &[key, s] : splitters) {
                    if (key.first != r.device) continue;
                    std::vector<LineToken> rest;
                    s.finish(rest);
                    for (auto &t : rest) print(key.second == 0, t);
                }
                printer.line(when(i), "COM Close");
                break;
            case cap::RecordType::Burst: {
                const int dir = static_cast<int>(r.direction);
                std::vector<LineToken> tokens;
                splitters[{r.device, dir}].feed(r.bytes, i, tokens);
                for (auto &t : tokens) print(dir == 0, t);
                break;
            }
        }
    }
    for (auto &[key, s] : splitters) {
        std::vector<LineToken> rest;
        s.finish(rest);
        for (auto &t : rest) print(key.second == 0, t);
    }
    if (!parsed.ok()) {
        std::fprintf(err, "valdor: %.*s: offset %zu: %s\n", static_cast<int>(name.size()),
                     name.data(), parsed.errorOffset, parsed.error.c_str());
        return 2;
    }
    return 0;
}

int decodeTrace(std::string_view name, std::span<const uint8_t> content, std::FILE *out,
                std::FILE *err) {
    const TraceParse parsed =
        parseTrace({reinterpret_cast<const char *>(content.data()), content.size()});
    Printer printer(out);
    for (const TraceLine &l : parsed.lines) printer.frame(l.time, l.sent, l.text, "", false);
    if (!parsed.ok()) {
        std::fprintf(err, "valdor: %.*s: offset %zu (line %zu): %s\n", static_cast<int>(name.size()),
                     name.data(), parsed.errorOffset, parsed.errorLine, parsed.error.c_str());
        return 2;
    }
    if (parsed.lines.empty()) {
        std::fprintf(err, "valdor: %.*s: neither a capture nor a text with SEND/RECV trace lines\n",
                     static_cast<int>(name.size()), name.data());
        return 2;
    }
    return 0;
}

}  // namespace

std::span<const RequestName> requestNames() { return kRequests; }

std::string_view requestName(std::span<const uint8_t> text) {
    if (text.size() < 2) return {};
    // Every request starts 0x60 code, or 00 code 1C (two short ones).
    if (text[0] != 0x60 && !(text[0] == 0x00 && text.size() == 3 && text[2] == 0x1C)) return {};
    for (const auto &r : kRequests)
        if (r.code == text[1]) return r.name;
    return {};
}

int decode(std::string_view name, std::span<const uint8_t> content, std::FILE *out,
           std::FILE *err) {
    if (cap::looksLikeCapture(content)) return decodeCapture(name, content, out, err);
    return decodeTrace(name, content, out, err);
}

int decodeFile(const std::string &path, std::FILE *out, std::FILE *err) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(err, "valdor: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return 2;
    }
    const std::vector<uint8_t> content((std::istreambuf_iterator<char>(file)),
                                       std::istreambuf_iterator<char>());
    return decode(path, content, out, err);
}

}  // namespace valdor::records
