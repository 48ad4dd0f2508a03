#include "tools/bdusim/download_check.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "rslink/core/frame.h"

namespace bdusim {
namespace {

// Errors of the unit's catalogue that a download frame can earn.
constexpr ErrorCode kDCodeError{0xC3, 0x01};        // D-code is not "00"
constexpr ErrorCode kECodeError{0xC3, 0x02};        // header characters wrong
constexpr ErrorCode kBlockNumberError{0xC3, 0x03};
constexpr ErrorCode kDataLengthError{0xC3, 0x04};
constexpr ErrorCode kUnknownCommand{0xC2, 0x01};    // not "RT", "LD" or "LE"
constexpr ErrorCode kEndBeforeData{0xC0, 0x02};     // "LE" before any "LD"
constexpr ErrorCode kLostProgram{0xC1, 0x00};       // "RT" with no complete program
constexpr ErrorCode kFileNameError{0xC1, 0x05};     // file_id changed
constexpr ErrorCode kParameterError{0xEA, 0x00};

constexpr size_t kMaxProgramBytes = 1214;
constexpr size_t kHeaderSize = 28;      // block bytes before the program data
constexpr size_t kTimeBlockSize = 26;
// The "%04X" field counts the block from its byte 12 on.
constexpr size_t kCountedFrom = 12;

struct FrameKind {
    uint8_t code;
    std::string_view command;    // block bytes 2-3
    std::string_view eCode;      // block bytes 6-7
};
constexpr FrameKind kFrameKinds[] = {
    {kDataFrame, "LD", "H0"},
    {kEndFrame, "LE", "H0"},
    {kTimeFrame, "RT", "I2"},
};

std::string_view chars(std::span<const uint8_t> block, size_t at, size_t count) {
    return {reinterpret_cast<const char *>(block.data()) + at, count};
}

bool decimal(std::string_view digits, uint32_t &value) {
    value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return true;
}

bool upperHex(std::string_view digits, uint32_t &value) {
    value = 0;
    for (char c : digits) {
        uint32_t nibble;
        if (c >= '0' && c <= '9') nibble = static_cast<uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F') nibble = static_cast<uint32_t>(c - 'A' + 10);
        else return false;
        value = value * 16 + nibble;
    }
    return true;
}

std::string blockText(uint32_t number) {
    char text[16];
    std::snprintf(text, sizeof text, "%04u", number);
    return text;
}

// The outer frame: 60 code FF 00, L (2 bytes), the L-byte block, 1C.  Checks
// it and the header common to all three kinds, and sets `block`; a good
// verdict, or the error the frame earns.
DownloadVerdict outerFrame(std::span<const uint8_t> text, std::span<const uint8_t> &block) {
    auto bad = [](ErrorCode error, std::string reason) { return DownloadVerdict{error, std::move(reason), {}}; };
    if (text.size() < 7 || text[0] != 0x60 || text[2] != 0xFF || text[3] != 0x00)
        return bad(kDataLengthError, "not a download frame");
    const size_t length = static_cast<size_t>(text[4]) << 8 | text[5];
    if (text.size() != length + 7 || text.back() != 0x1C)
        return bad(kDataLengthError, "block length " + std::to_string(length) + " does not match a frame of " +
                                         std::to_string(text.size()) + " bytes");
    block = text.subspan(6, length);
    const uint8_t code = text[1];
    const FrameKind *kind = std::find_if(std::begin(kFrameKinds), std::end(kFrameKinds),
                                         [code](const FrameKind &k) { return k.code == code; });
    const size_t minimum = code == kTimeFrame ? kTimeBlockSize : kHeaderSize;
    if (block.size() < minimum || (code != kDataFrame && block.size() != minimum))
        return bad(kDataLengthError, "block of " + std::to_string(block.size()) + " bytes");
    if (chars(block, 0, 2) != "01") return bad(kECodeError, "block does not start with \"01\"");
    if (chars(block, 2, 2) != kind->command)
        return bad(kUnknownCommand, "command \"" + std::string(chars(block, 2, 2)) + "\" in a frame for \"" +
                                        std::string(kind->command) + "\"");
    if (chars(block, 4, 2) != "00") return bad(kDCodeError, "D-code \"" + std::string(chars(block, 4, 2)) + "\"");
    if (chars(block, 6, 2) != kind->eCode)
        return bad(kECodeError, "E-code \"" + std::string(chars(block, 6, 2)) + "\"");
    uint32_t counted = 0;
    if (!upperHex(chars(block, 8, 4), counted) || counted != block.size() - kCountedFrom)
        return bad(kDataLengthError, "length field \"" + std::string(chars(block, 8, 4)) + "\" for a block of " +
                                         std::to_string(block.size()) + " bytes");
    return {};
}

}  // namespace

DownloadVerdict DownloadChecker::fail(ErrorCode error, std::string reason) {
    phase_ = Phase::DL_IDLE;
    return {error, std::move(reason), {}};
}

DownloadVerdict DownloadChecker::take(std::span<const uint8_t> text) {
    std::span<const uint8_t> block;
    if (DownloadVerdict outer = outerFrame(text, block); !outer.good())
        return fail(outer.error, std::move(outer.reason));
    switch (text[1]) {
        case kDataFrame: return takeData(block);
        case kEndFrame: return takeEnd(block);
        default: return takeTime(block);
    }
}

DownloadVerdict DownloadChecker::takeData(std::span<const uint8_t> block) {
    const size_t n = block.size() - kHeaderSize;
    if (n > kMaxProgramBytes)
        return fail(kDataLengthError, std::to_string(n) + " program bytes in one block");
    uint32_t number = 0;
    if (!decimal(chars(block, 12, 4), number))
        return fail(kBlockNumberError, "block number \"" + std::string(chars(block, 12, 4)) + "\"");
    FileId id;
    std::copy_n(block.begin() + 16, id.size(), id.begin());

    if (number == 1) {  // a first block starts a new download, whatever came before
        phase_ = Phase::DL_DATA;
        lastBlock_ = 0;
        fileId_ = id;
        bytes_ = 0;
        crc_ = 0;
    } else if (phase_ == Phase::DL_DATA) {
        if (number != lastBlock_ + 1)
            return fail(kBlockNumberError, "block " + blockText(number) + " where " +
                                               blockText(lastBlock_ + 1) + " was due");
        if (id != fileId_) return fail(kFileNameError, "file_id changed in block " + blockText(number));
    } else if (phase_ == Phase::DL_LAST_DATA) {
        return fail(kBlockNumberError, "block " + blockText(number) + " after the short block " +
                                           blockText(lastBlock_));
    } else {
        return fail(kBlockNumberError, "block " + blockText(number) + " without block 0001");
    }

    lastBlock_ = number;
    for (size_t i = kHeaderSize; i < block.size(); ++i) crc_ = rslink::crcUpdate(crc_, block[i]);
    bytes_ += n;
    phase_ = n < kMaxProgramBytes ? Phase::DL_LAST_DATA : Phase::DL_DATA;
    return {};
}

DownloadVerdict DownloadChecker::takeEnd(std::span<const uint8_t> block) {
    if (phase_ == Phase::DL_IDLE || phase_ == Phase::DL_ENDED)
        return fail(kEndBeforeData, "end frame without data blocks");
    uint32_t number = 0;
    if (!decimal(chars(block, 12, 4), number) || number != lastBlock_ + 1)
        return fail(kBlockNumberError, "end frame block \"" + std::string(chars(block, 12, 4)) +
                                           "\" after block " + blockText(lastBlock_));
    if (!std::equal(fileId_.begin(), fileId_.end(), block.begin() + 16))
        return fail(kFileNameError, "file_id changed in the end frame");
    phase_ = Phase::DL_ENDED;
    char report[96];
    std::snprintf(report, sizeof report, "DOWNLOAD OK blocks=%u bytes=%llu crc=%04X", lastBlock_,
                  static_cast<unsigned long long>(bytes_), static_cast<unsigned>(crc_));
    return {kNormalEnd, {}, report};
}

DownloadVerdict DownloadChecker::takeTime(std::span<const uint8_t> block) {
    if (phase_ != Phase::DL_ENDED) return fail(kLostProgram, "time frame without a complete program");
    struct Field { size_t at, size; uint32_t low, high; };
    constexpr Field kFields[] = {
        {12, 4, 1970, 9999}, {16, 2, 1, 12}, {18, 2, 1, 31},
        {20, 2, 0, 23},      {22, 2, 0, 59}, {24, 2, 0, 59},
    };
    for (const Field &field : kFields) {
        uint32_t value = 0;
        if (!decimal(chars(block, field.at, field.size), value) || value < field.low || value > field.high)
            return fail(kParameterError, "time \"" + std::string(chars(block, 12, 14)) + "\"");
    }
    phase_ = Phase::DL_IDLE;
    return {kNormalEnd, {}, "DOWNLOAD CLOCK " + std::string(chars(block, 12, 14))};
}

}  // namespace bdusim
