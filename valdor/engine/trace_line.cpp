#include "valdor/engine/trace_line.h"

#include <cstdio>

#include "rslink/core/hex.h"
#include "valdor/engine/request_builder.h"

namespace valdor {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// hh:mm:ss:mmm, or that very text where a time was masked (the examples).
bool isTraceTime(std::string_view t) {
    if (t == "hh:mm:ss:mmm") return true;
    if (t.size() != 12) return false;
    for (size_t i = 0; i < t.size(); ++i) {
        const bool colon = i == 2 || i == 5 || i == 8;
        if (colon ? t[i] != ':' : !isDigit(t[i])) return false;
    }
    return true;
}

}  // namespace

std::string traceLine(const char *prefix, const LocalTime &time, std::span<const uint8_t> text) {
    std::string line;
    line.reserve(24 + 3 * text.size());
    char head[40];
    std::snprintf(head, sizeof head, "%s%02u:%02u:%02u:%03u]>", prefix,
                  static_cast<unsigned>(time.hour), static_cast<unsigned>(time.minute),
                  static_cast<unsigned>(time.second), static_cast<unsigned>(time.millisecond));
    line += head;
    rslink::core::appendHex(line, text, rslink::core::HexGap::After);
    return line;
}

TraceParse parseTrace(std::string_view text) {
    TraceParse out;
    size_t start = 0, number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        auto stop = [&](size_t at, std::string why) {
            out.error = std::move(why);
            out.errorOffset = start + at;
            out.errorLine = number;
        };
        const bool send = line.starts_with("SEND[");
        if (send || line.starts_with("RECV[")) {
            const size_t close = line.find("]>");
            if (close == std::string_view::npos || !isTraceTime(line.substr(5, close - 5))) {
                stop(0, "a trace line without its time in [hh:mm:ss:mmm]>");
                return out;
            }
            TraceLine t{send, std::string(line.substr(5, close - 5)), {}, number, start};
            size_t i = close + 2;
            while (i < line.size()) {
                if (line[i] == ' ') {
                    ++i;
                    continue;
                }
                const int high = hexDigit(line[i]);
                const int low = i + 1 < line.size() ? hexDigit(line[i + 1]) : -1;
                if (high < 0 || low < 0 || (i + 2 < line.size() && line[i + 2] != ' ')) {
                    stop(i, "not a hexadecimal byte: '" +
                                std::string(line.substr(i, std::min<size_t>(3, line.size() - i))) + "'");
                    return out;
                }
                t.text.push_back(static_cast<uint8_t>(high * 16 + low));
                i += 2;
            }
            out.lines.push_back(std::move(t));
        }
        start = end + 1;
    }
    return out;
}

}  // namespace valdor
