#include "valdor/transfers/oplog_report.h"

#include <cstdio>

namespace valdor {

namespace {

constexpr size_t kSixteenLine = 16;
constexpr size_t kNumberedLine = 32;
constexpr size_t kGroup = 8;
constexpr size_t kHalfGroup = 4;

void appendHex(std::string &out, uint8_t byte) {
    static constexpr char digits[] = "0123456789ABCDEF";
    out += digits[byte >> 4];
    out += digits[byte & 15];
}

}  // namespace

std::span<const uint8_t> recordData(std::span<const uint8_t> answer) {
    if (answer.size() <= kRecordOffset) return {};
    size_t available = answer.size() - kRecordOffset;
    return answer.subspan(kRecordOffset, available < kRecordSize ? available : kRecordSize);
}

void appendSixteenByteLines(std::string &out, std::span<const uint8_t> data) {
    for (size_t i = 0; i < data.size(); ++i) {
        appendHex(out, data[i]);
        out += ' ';
        if (i % kSixteenLine == kSixteenLine - 1 || i + 1 == data.size()) out += "\r\n";
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
