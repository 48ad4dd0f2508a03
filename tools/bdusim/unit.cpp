#include "tools/bdusim/unit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "rslink/core/hex.h"
#include "tools/bdusim/unit_data.h"

namespace bdusim {
namespace {

constexpr size_t kEnhancedShift = 51;  // enhanced items stand this much further on
constexpr size_t kNone = SIZE_MAX;

constexpr ErrorCode kUndefinedCommand{0xE0, 0x00};   // "RAS command undefined"
constexpr ErrorCode kFormatError{0xEE, 0x00};        // "Command format error"
constexpr ErrorCode kParameterError{0xEA, 0x00};     // "Parameter error"
constexpr ErrorCode kCountOrderError{0xE5, 0x01};    // a bad count order
constexpr ErrorCode kTotalNotesError{0xE5, 0x02};    // too many bills asked for

// ---- Requests ----------------------------------------------------------------

struct Request {
    uint8_t code = 0;
    bool enhanced = false;
    bool shortForm = false;       // 00 code 1C
    std::span<const uint8_t> text;
    size_t paramsAt = 0;
    size_t paramCount = 0;

    // Parameter byte i (0 = the first), 0 past the end.
    uint8_t param(size_t i) const { return i < paramCount ? text[paramsAt + i] : 0; }
    // A byte of the whole request text by position, 0 past the end.
    uint8_t at(size_t position) const { return position < text.size() ? text[position] : 0; }
};

// Splits a request text into its layout and parameters; false when it is
// none of the three forms.
bool parseRequest(std::span<const uint8_t> text, Request &request) {
    request.text = text;
    request.code = text.size() > 1 ? text[1] : 0;
    request.enhanced = text.size() > 2 && text[2] == kEnhancedMark;
    if (text.size() == 3 && text[0] == 0x00 && text[2] == 0x1C) {
        request.shortForm = true;
        return true;
    }
    if (text.size() < 4 || text[0] != 0x60 || text.back() != 0x1C) return false;
    if (!request.enhanced) {
        request.paramsAt = 3;
        request.paramCount = text[2];
        return text.size() == request.paramCount + 4;
    }
    if (text.size() < 7) return false;
    request.paramsAt = 6;
    request.paramCount = static_cast<size_t>(text[3]) << 16 | static_cast<size_t>(text[4]) << 8 | text[5];
    return text.size() == request.paramCount + 7;
}

// ---- Responses ---------------------------------------------------------------

class Response {
public:
    Response(uint8_t code, bool enhanced, size_t length)
        : enhanced_(enhanced), bytes_(length, 0) {
        bytes_[0] = kPositive;
        bytes_[1] = code;
        bytes_[2] = enhanced ? kEnhancedMark : 0x00;
        if (enhanced) {
            const size_t following = length - 6;
            bytes_[3] = static_cast<uint8_t>(following >> 16);
            bytes_[4] = static_cast<uint8_t>(following >> 8);
            bytes_[5] = static_cast<uint8_t>(following);
        }
    }

    bool enhanced() const { return enhanced_; }
    // Position of an item the tables give for the basic layout.
    size_t shifted(size_t basic) const { return enhanced_ ? basic + kEnhancedShift : basic; }

    void put(size_t at, uint8_t byte) {
        if (at < bytes_.size()) bytes_[at] = byte;
    }
    void putBytes(size_t at, std::span<const uint8_t> bytes) {
        for (size_t i = 0; i < bytes.size(); ++i) put(at + i, bytes[i]);
    }
    void putText(size_t at, std::string_view text) {
        for (size_t i = 0; i < text.size(); ++i) put(at + i, static_cast<uint8_t>(text[i]));
    }
    void putBig(size_t at, uint32_t value, int size) {
        for (int i = 0; i < size; ++i) put(at + i, static_cast<uint8_t>(value >> (8 * (size - 1 - i))));
    }
    void setNegative(uint8_t dh0, ErrorCode error);

    std::vector<uint8_t> take() { return std::move(bytes_); }

private:
    bool enhanced_;
    std::vector<uint8_t> bytes_;
};

// Where the status block stands in each layout.
struct StatusLayout {
    size_t error;
    size_t address;
    size_t addressSize;
    size_t version;
    std::string_view versionText;
    size_t date;
    size_t registers;
    size_t registers2;
    size_t indicators;
    size_t cassettes1to4;
    size_t cassettes5to6;
    size_t dfcs;
};
constexpr StatusLayout kBasicStatus{3, 5, 2, 7, kVersionBasic, kNone, 9, kNone, 12, 18, kNone, 22};
constexpr StatusLayout kEnhancedStatus{6, 54, 4, 48, kVersionEnhanced, 42, 12, 60, 15, 21, 69, 25};

const StatusLayout &statusLayout(bool enhanced) { return enhanced ? kEnhancedStatus : kBasicStatus; }

void Response::setNegative(uint8_t dh0, ErrorCode error) {
    bytes_[0] = dh0;
    const size_t at = statusLayout(enhanced_).error;
    put(at, error.main);
    put(at + 1, error.sub);
}

void fillStatusBlock(Response &response) {
    const StatusLayout &layout = statusLayout(response.enhanced());
    response.put(layout.error, kNormalEnd.main);
    response.put(layout.error + 1, kNormalEnd.sub);
    response.putBytes(layout.address,
                      std::span(kErrorAddress).last(layout.addressSize));
    response.putText(layout.version, layout.versionText);
    if (layout.date != kNone) response.putText(layout.date, kDate);
    response.putBytes(layout.registers, kErrorRegister);
    if (layout.registers2 != kNone) response.putBytes(layout.registers2, kErrorRegister2);
    response.putBytes(layout.indicators, kIndicators);
    response.putBytes(layout.cassettes1to4, std::span(kCassetteBytes).first(4));
    if (layout.cassettes5to6 != kNone)
        response.putBytes(layout.cassettes5to6, std::span(kCassetteBytes).last(2));
    response.put(layout.dfcs, kDfcsLevel);
}

// ---- Each command's part of the response ---------------------------------------

struct Fill {
    const Request &request;
    Response &response;
    UnitMemory &memory;
    std::string note;         // a line for standard output
};

int cassettesOf(const Response &response) { return response.enhanced() ? 6 : 4; }

bool isParityDigit(uint8_t byte) {
    const uint8_t plain = byte & 0x7F;
    return plain >= '0' && plain <= '9' && parityDigit(plain - '0') == byte;
}

ErrorCode fillNothing(Fill &) { return kNormalEnd; }

ErrorCode fillMechanicalReset(Fill &fill) {
    fill.response.putBytes(fill.response.shifted(39), kSensorLevels);
    return kNormalEnd;
}

// Bill count: positions of the request's items by slot, and of the
// response's by cassette.
struct CountSlots {
    size_t bills;
    size_t rejects;
    size_t retries;
};
constexpr CountSlots kBasicCountSlots{4, 12, 20};
constexpr CountSlots kEnhancedSlots1to4{10, 18, 26};
constexpr CountSlots kEnhancedSlots5to6{30, 38, 46};

CountSlots requestSlot(bool enhanced, int slot, size_t &offset) {
    if (!enhanced) {
        offset = static_cast<size_t>(slot - 1);
        return kBasicCountSlots;
    }
    offset = static_cast<size_t>(slot <= 4 ? slot - 1 : slot - 5);
    return slot <= 4 ? kEnhancedSlots1to4 : kEnhancedSlots5to6;
}

size_t countedAt(bool enhanced, int cassette) {
    if (cassette > 4) return 207 + 2 * static_cast<size_t>(cassette - 5);
    return (enhanced ? 90 : 39) + 2 * static_cast<size_t>(cassette - 1);
}
size_t rejectedAt(bool enhanced, int cassette) {
    if (cassette > 4) return 215 + 2 * static_cast<size_t>(cassette - 5);
    return (enhanced ? 98 : 47) + 2 * static_cast<size_t>(cassette - 1);
}
size_t detailAt(bool enhanced, int cassette) {
    if (cassette > 4) return 223 + 16 * static_cast<size_t>(cassette - 5);
    return (enhanced ? 106 : 55) + 16 * static_cast<size_t>(cassette - 1);
}

// The order flag: ascending or reversed slots; false for anything else.
bool countOrder(const Request &request, bool &reversed) {
    static constexpr uint8_t kAscending[] = {0xFE, 0xDC, 0xBA, 0x98};
    static constexpr uint8_t kDescending[] = {0xAB, 0xCD, 0xEF, 0x98};
    if (!request.enhanced) {
        reversed = request.param(0) == 0x1B;
        return request.param(0) == 0xE4 || reversed;
    }
    auto matches = [&](const uint8_t(&flag)[4]) {
        for (size_t i = 0; i < 4; ++i)
            if (request.param(i) != flag[i]) return false;
        return true;
    };
    reversed = matches(kDescending);
    return reversed || matches(kAscending);
}

ErrorCode fillBillCount(Fill &fill) {
    const Request &request = fill.request;
    Response &response = fill.response;
    const bool enhanced = request.enhanced;
    bool reversed = false;
    if (!countOrder(request, reversed)) return kCountOrderError;
    const int cassettes = cassettesOf(response);
    for (int slot = 1; slot <= cassettes; ++slot) {
        size_t offset = 0;
        const CountSlots slots = requestSlot(enhanced, slot, offset);
        const uint8_t bills[2] = {request.at(slots.bills + 2 * offset), request.at(slots.bills + 2 * offset + 1)};
        const uint8_t rejects[2] = {request.at(slots.rejects + 2 * offset),
                                    request.at(slots.rejects + 2 * offset + 1)};
        for (uint8_t digit : {bills[0], bills[1], rejects[0], rejects[1]})
            if (!isParityDigit(digit)) return kParameterError;
        if (((bills[0] & 0x7F) - '0') * 10 + ((bills[1] & 0x7F) - '0') > 20) return kTotalNotesError;
        if (((rejects[0] & 0x7F) - '0') * 10 + ((rejects[1] & 0x7F) - '0') > 20) return kParameterError;
        if (request.at(slots.retries + offset) > 15) return kParameterError;
        const int cassette = reversed ? cassettes + 1 - slot : slot;
        response.putBytes(countedAt(enhanced, cassette), bills);
        response.putBytes(rejectedAt(enhanced, cassette), rejects);
    }
    if (enhanced) {  // the "0000" fields beside cassettes 5 and 6, as in the request
        response.putText(211, "0000");
        response.putText(219, "0000");
    }
    for (int cassette = 1; cassette <= cassettes; ++cassette)
        for (int row = 2; row <= 13; ++row)
            response.put(detailAt(enhanced, cassette) + static_cast<size_t>(row - 2), countDetail(cassette, row));
    response.putBytes(response.shifted(140), kSensorLevels);
    return kNormalEnd;
}

ErrorCode fillRetrieval(Fill &fill) {
    static constexpr uint8_t kActions[] = {0x00, 0x01, 0x80, 0x81};
    const uint8_t action = fill.request.param(0);
    return std::find(std::begin(kActions), std::end(kActions), action) != std::end(kActions)
               ? kNormalEnd
               : kParameterError;
}

ErrorCode fillSensorTransition(Fill &fill) {
    const Request &request = fill.request;
    const size_t cassettes = request.enhanced ? 6 : 4;
    for (size_t i = 0; i < cassettes; ++i)
        if (request.param(i) & 0xE0) return kParameterError;
    const uint8_t sensors = request.param(request.enhanced ? 8 : 4);
    return (sensors & 0x44) ? kParameterError : kNormalEnd;
}

// The 40 bytes of text after the mode byte of a 41-byte parameter block.
std::array<uint8_t, 40> textAfterMode(const Request &request) {
    std::array<uint8_t, 40> text{};
    for (size_t i = 0; i < text.size(); ++i) text[i] = request.param(1 + i);
    return text;
}

ErrorCode fillLog(Fill &fill) {
    const uint8_t mode = fill.request.param(0);
    if (mode > 3) return kParameterError;
    UnitMemory &memory = fill.memory;
    Response &response = fill.response;
    if (fill.request.paramCount == 41) memory.logMessage = textAfterMode(fill.request);
    response.putBytes(response.shifted(40), memory.logMessage);
    for (int cassette = 1; cassette <= cassettesOf(response); ++cassette) {
        const size_t block = response.shifted(80) + 32 * static_cast<size_t>(cassette - 1);
        const auto &counters = memory.logCounters[static_cast<size_t>(cassette - 1)];
        response.putBig(block, counters[0], 4);
        for (size_t row = 2; row <= 13; ++row) response.putBig(block + 4 + 2 * (row - 2), counters[row - 1], 2);
    }
    // Read first, then clear, as the mode asks.
    const bool clearErrors = mode == 1 || mode == 3;
    const bool clearPicks = mode == 2 || mode == 3;
    for (auto &counters : memory.logCounters) {
        if (clearPicks) counters[0] = 0;
        if (clearErrors) std::fill(counters.begin() + 1, counters.end(), 0);
    }
    return kNormalEnd;
}

ErrorCode fillDiagnosis(Fill &fill) {
    static constexpr uint8_t kModes[] = {0, 1, 2, 3, 4, 5, 6, 16, 17, 32};
    const uint8_t mode = fill.request.param(0);
    if (std::find(std::begin(kModes), std::end(kModes), mode) == std::end(kModes)) return kParameterError;
    Response &response = fill.response;
    for (int cassette = 1; cassette <= cassettesOf(response); ++cassette) {
        const DiagnosisData &data = kDiagnosis[static_cast<size_t>(cassette - 1)];
        const uint8_t bytes[] = {data.denomination, data.length, data.thickness, data.reservation};
        response.putBytes(response.shifted(40) + 4 * static_cast<size_t>(cassette - 1), bytes);
    }
    return kNormalEnd;
}

struct DeviceField {
    size_t offset;           // from the base position
    std::string_view text;
};

ErrorCode fillDeviceInformation(Fill &fill) {
    const uint8_t mode = fill.request.param(0);
    if (mode != 0x00 && mode != 0x01 && mode != 0x80) return kParameterError;
    if (mode != 0 && fill.request.paramCount != 41) return kFormatError;
    if (mode != 0) fill.memory.userSetting = textAfterMode(fill.request);
    Response &response = fill.response;
    const size_t base = response.shifted(40);
    response.putBytes(base, fill.memory.userSetting);
    static constexpr char kChoices[] = {kMachineType, kFrontOption, kRearOption, kJamRetryControl, kBcsSensor};
    const DeviceField fields[] = {
        {40, kDeviceCode1},
        {48, kDeviceCode2},
        {52, kDeviceCode3},
        {56, kMaximumSheets},
        {59, std::string_view(kChoices, sizeof kChoices)},
        {64, kThicknessAdjustment},
        {66, kRomVersion},
        {69, std::string_view(&kRejectOption, 1)},
        {72, kDeviceCode4},
    };
    for (const DeviceField &field : fields) response.putText(base + field.offset, field.text);
    return kNormalEnd;
}

ErrorCode fillOperationalLog(Fill &fill) {
    const int section = fill.request.param(0);
    const int block = fill.request.param(1);
    for (size_t i = 0; i < kOplogDataSize; ++i)
        fill.response.put(kOplogDataOffset + i, oplogByte(section, block, static_cast<int>(i)));
    return kNormalEnd;
}

ErrorCode fillDownload(Fill &fill) {
    const DownloadVerdict verdict = fill.memory.download.take(fill.request.text);
    if (verdict.good()) {
        fill.note = verdict.report;
    } else {
        char code[8];
        std::snprintf(code, sizeof code, "%02X%02X", verdict.error.main, verdict.error.sub);
        fill.note = "DOWNLOAD BAD " + std::string(code) + " " + verdict.reason;
    }
    return verdict.error;
}

// ---- The command table ---------------------------------------------------------

constexpr int kAny = -2;   // any parameter count (the frame checks its own)
constexpr int kNo = -1;

struct Command {
    uint8_t code;
    bool shortBasic;                   // the basic form is 00 code 1C
    std::array<int, 2> basicCounts;    // allowed parameter counts; kNo: no basic layout
    std::array<int, 2> enhancedCounts;
    ErrorCode (*fill)(Fill &);
    ErrorCode negative;                // a plausible error when told to answer negatively
};

constexpr Command kCommands[] = {
    {0x01, true, {kNo, kNo}, {1, kNo}, fillNothing, {0x70, 0x0B}},          // Medium remaining at BPS
    {0x02, false, {13, kNo}, {26, kNo}, fillMechanicalReset, {0x78, 0x11}},  // JAM between FDLS1 and DFSS
    {0x03, false, {21, kNo}, {44, kNo}, fillBillCount, {0x11, 0x00}},        // 1st cassette empty
    {0x05, false, {1, kNo}, {1, kNo}, fillNothing, {0xA1, 0x00}},            // (Front) Shutter open error
    {0x06, false, {1, kNo}, {1, kNo}, fillRetrieval, {0x7D, 0x01}},          // Jam between EJSF and pool
    {0x09, false, {21, kNo}, {44, kNo}, fillBillCount, {0x21, 0x00}},        // 2nd cassette empty
    {0x0A, false, {21, kNo}, {44, kNo}, fillBillCount, {0x31, 0x00}},        // 3rd cassette empty
    {0x0E, false, {1, 41}, {1, 41}, fillDeviceInformation, {0xEA, 0x00}},    // Parameter error
    {0x0F, false, {1, kNo}, {1, kNo}, fillDiagnosis, {0x12, 0x00}},          // 1st cassette diagnosis data none
    {0x10, true, {kNo, kNo}, {1, kNo}, fillNothing, {0xEF, 0x00}},           // Command execution is impossible
    {0x11, false, {21, kNo}, {44, kNo}, fillBillCount, {0xB5, 0x00}},        // Reject box was full
    {0x12, false, {1, 41}, {1, 41}, fillLog, {0xF6, 0x00}},                  // Log data check sum error
    {0x13, false, {kNo, kNo}, {2, kNo}, fillOperationalLog, {0xF6, 0x00}},
    {0x14, false, {5, kNo}, {10, kNo}, fillSensorTransition, {0xF8, 0x09}},           // slice level error of BPS
    {0xD1, false, {kNo, kNo}, {kAny, kNo}, fillDownload, {0xC1, 0x01}},      // Flash ROM write error
    {0xD2, false, {kNo, kNo}, {kAny, kNo}, fillDownload, {0xC1, 0x02}},      // Sum check error of program load
    {0xD4, false, {kNo, kNo}, {kAny, kNo}, fillDownload, {0xC1, 0x03}},      // After 'RT', version error
};

const Command *findCommand(uint8_t code) {
    for (const Command &command : kCommands)
        if (command.code == code) return &command;
    return nullptr;
}

// Whether the request has a form its command allows.
bool formAllowed(const Command &command, const Request &request) {
    if (request.shortForm) return command.shortBasic;
    const auto &counts = request.enhanced ? command.enhancedCounts : command.basicCounts;
    for (int count : counts)
        if (count == kAny || (count >= 0 && static_cast<size_t>(count) == request.paramCount)) return true;
    return false;
}

}  // namespace

UnitMemory::UnitMemory() {
    for (size_t cassette = 0; cassette < logCounters.size(); ++cassette) {
        const int number = static_cast<int>(cassette) + 1;
        logCounters[cassette][0] = logPickCount(number);
        for (int row = 2; row <= 13; ++row) logCounters[cassette][static_cast<size_t>(row - 1)] = logCounter(number, row);
    }
    std::memcpy(logMessage.data(), kInitialLogMessage, sizeof kInitialLogMessage - 1);
    std::memcpy(userSetting.data(), kUserSettingData, sizeof kUserSettingData - 1);
}

Unit::Unit(NegativeOptions negative, bool traceRequests, LineSink out)
    : negative_(std::move(negative)), traceRequests_(traceRequests), out_(std::move(out)) {}

std::optional<NegativeRule> Unit::forcedNegative(std::span<const uint8_t> request, uint8_t code,
                                                 bool enhanced) {
    const unsigned nth = ++requestsOfCode_[code];
    for (const NegativeRule &rule : negative_.rules)
        if (rule.code == code && (rule.nth == 0 || rule.nth == nth)) return rule;
    if (code == 0x13 && enhanced && request.size() == 9) {
        const std::pair<int, int> block{request[6], request[7]};
        if (std::find(negative_.oplogBlocks.begin(), negative_.oplogBlocks.end(), block) !=
            negative_.oplogBlocks.end())
            return NegativeRule{code, 0, 0, std::nullopt};
    }
    if (isDownloadCode(code)) {
        const unsigned frame = ++downloadFrames_;
        if (std::find(negative_.downloadFrames.begin(), negative_.downloadFrames.end(), frame) !=
            negative_.downloadFrames.end())
            return NegativeRule{code, 0, 0, std::nullopt};
    }
    return std::nullopt;
}

std::vector<uint8_t> Unit::answer(std::span<const uint8_t> text) {
    if (traceRequests_) out_("REQ " + rslink::core::spacedHex(text));

    Request request;
    const bool wellFormed = parseRequest(text, request);
    lastEnhanced_ = request.enhanced;
    const Command *command = findCommand(request.code);
    Response response(request.code, request.enhanced, responseLength(request.code, request.enhanced));
    fillStatusBlock(response);
    const std::optional<NegativeRule> forced = forcedNegative(text, request.code, request.enhanced);

    ErrorCode error = kNormalEnd;
    if (!command) error = kUndefinedCommand;
    // A download frame's outer form is judged by the download checks, which
    // know its errors better than a plain format error.
    else if (!isDownloadCode(request.code) && (!wellFormed || !formAllowed(*command, request)))
        error = kFormatError;

    if (error == kNormalEnd) {
        // Work on a copy: a request answered negatively changes nothing,
        // except that a bad download frame abandons its download.
        UnitMemory trial = memory_;
        Fill fill{request, response, trial, {}};
        error = command->fill(fill);
        const bool downloadRejected = isDownloadCode(request.code) && error != kNormalEnd;
        if ((error == kNormalEnd && !forced) || downloadRejected) memory_ = std::move(trial);
        if (!fill.note.empty() && (!forced || downloadRejected)) out_(fill.note);
    }
    if (error != kNormalEnd) {
        response.setNegative(kNegative, error);
    } else if (forced) {
        response.setNegative(forced->dh0 != 0 ? forced->dh0 : kNegative,
                             forced->error.value_or(command->negative));
    }
    return response.take();
}

std::vector<uint8_t> Unit::unsolicitedStatus() const {
    Response response(0x01, lastEnhanced_, responseLength(0x01, lastEnhanced_));
    fillStatusBlock(response);
    return response.take();
}

}  // namespace bdusim
