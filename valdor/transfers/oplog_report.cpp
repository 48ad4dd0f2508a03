#include "valdor/transfers/oplog_report.h"

#include <algorithm>
#include <cstdio>

#include "rslink/core/hex.h"

namespace valdor {

namespace {

constexpr size_t kSixteenLine = 16;
constexpr size_t kNumberedLine = 32;
constexpr size_t kGroup = 8;
constexpr size_t kHalfGroup = 4;

using rslink::core::appendHex;

}  // namespace

std::span<const uint8_t> recordData(std::span<const uint8_t> answer) {
    if (answer.size() <= kRecordOffset) return {};
    size_t available = answer.size() - kRecordOffset;
    return answer.subspan(kRecordOffset, available < kRecordSize ? available : kRecordSize);
}

void appendSixteenByteLines(std::string &out, std::span<const uint8_t> data) {
    for (size_t start = 0; start < data.size(); start += kSixteenLine) {
        appendHex(out, data.subspan(start, std::min(kSixteenLine, data.size() - start)), rslink::core::HexGap::After);
        out += "\r\n";
    }
}

void appendNumberedLines(std::string &out, std::span<const uint8_t> data, int32_t &lineNumber) {
    for (size_t start = 0; start < data.size(); start += kNumberedLine) {
        char number[16];
        std::snprintf(number, sizeof number, "%04d ", static_cast<int>(lineNumber));
        out += number;
        size_t end = start + kNumberedLine < data.size() ? start + kNumberedLine : data.size();
        for (size_t i = start; i < end; ++i) {
            appendHex(out, data[i]);
            size_t inGroup = (i - start) % kGroup;
            if (inGroup == kHalfGroup - 1) out += '-';
            if (inGroup == kGroup - 1) out += ' ';
        }
        out += "\r\n";
        lineNumber += 4;
    }
}

}  // namespace valdor
