#include "valdor/engine/request_builder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

#include "valdor/panel/controls.h"
#include "valdor/panel/panel.h"
#include "valdor/panel/param_tables.h"
#include "valdor/engine/commands.h"

namespace valdor {

namespace {

constexpr uint8_t kLeadByte = 0x60;
constexpr uint8_t kEndByte = 0x1C;
constexpr uint8_t kEnhancedMark = 0xFF;
constexpr size_t kMessageBytes = 40;  // text of "Log with Msg", "Device Information", "Log All Clear"

// Device command codes: byte 1 of a request.
constexpr uint8_t kStatusRead = 0x01;
constexpr uint8_t kMechaReset = 0x02;
constexpr uint8_t kBillCount = 0x03;
constexpr uint8_t kBillTransport = 0x05;
constexpr uint8_t kBillRetrieval = 0x06;
constexpr uint8_t kBillCountFront = 0x09;
constexpr uint8_t kBillCountRear = 0x0A;
constexpr uint8_t kDeviceInformation = 0x0E;
constexpr uint8_t kBillDiagnosis = 0x0F;
constexpr uint8_t kCancel = 0x10;
constexpr uint8_t kBillCountReject = 0x11;
constexpr uint8_t kLogReadClear = 0x12;
constexpr uint8_t kOperationalLog = 0x13;
constexpr uint8_t kSensorTransition = 0x14;

constexpr uint8_t kClearAllLogs = 3;

// Writes one request: the header of its layout, then the parameters in
// order, then the end byte right after the announced parameter count.
// Parameters not written stay 0, and none is written past the count, so the
// length is always the one the header announces.
class RequestWriter {
public:
    RequestWriter(uint8_t *out, uint8_t deviceCode, bool enhanced, uint8_t count)
        : out_(out), count_(count) {
        out_[0] = kLeadByte;
        out_[1] = deviceCode;
        if (enhanced) {
            out_[2] = kEnhancedMark;
            out_[3] = 0;
            out_[4] = 0;
            out_[5] = count;
            params_ = 6;
        } else {
            out_[2] = count;
            params_ = 3;
        }
        std::fill_n(out_ + params_, count_, uint8_t{0});
    }

    void put(uint8_t byte) {
        if (written_ < count_) out_[params_ + written_++] = byte;
    }

    void putZeros(size_t n) {
        for (size_t i = 0; i < n; ++i) put(0);
    }

    // Text bytes, at most `room`; the rest of the room stays 0.
    void putText(std::string_view text, size_t room) {
        const size_t n = std::min(text.size(), room);
        for (size_t i = 0; i < n; ++i) put(static_cast<uint8_t>(text[i]));
        putZeros(room - n);
    }

    size_t finish() {
        out_[params_ + count_] = kEndByte;
        return params_ + count_ + 1;
    }

private:
    uint8_t *out_;
    size_t params_ = 0;
    size_t count_;
    size_t written_ = 0;
};

bool enhancedLayout(const Panel &panel) { return panel.checked(ctl::Enhanced); }

// A decimal digit as an ASCII character with bit 7 set for even parity.
constexpr uint8_t parityDigit(int digit) {
    const auto c = static_cast<uint8_t>('0' + digit);
    return (std::popcount(c) % 2 != 0) ? static_cast<uint8_t>(c | 0x80) : c;
}

void putParityDigits(RequestWriter &writer, uint8_t value) {
    writer.put(parityDigit(value / 10 % 10));
    writer.put(parityDigit(value % 10));
}

// Status read and cancel: three bare bytes in the basic layout.
size_t buildNoParameter(const Panel &panel, uint8_t code, uint8_t *out, const LocalTime &) {
    if (!enhancedLayout(panel)) {
        out[0] = 0x00;
        out[1] = code;
        out[2] = kEndByte;
        return 3;
    }
    RequestWriter writer(out, code, true, 1);
    return writer.finish();
}

size_t buildOneParameter(const Panel &panel, uint8_t code, uint8_t parameter, uint8_t *out) {
    RequestWriter writer(out, code, enhancedLayout(panel), 1);
    writer.put(parameter);
    return writer.finish();
}

// --- Mechanical reset --------------------------------------------------

uint8_t mechaResetFlags(const Panel &panel) {
    uint8_t flags = comboValue(panel, ctl::SpecialSpec);
    if (panel.checked(ctl::ShutterRear)) flags |= 0x02;
    if (panel.checked(ctl::ShutterFront)) flags |= 0x01;
    return flags;
}

void putLengthPairs(RequestWriter &writer, const Panel &panel, int firstCassette, int lastCassette) {
    for (int c = firstCassette; c <= lastCassette; ++c) {
        writer.put(comboValue(panel, ctl::LengthH1 + c - 1));
        writer.put(comboValue(panel, ctl::LengthL1 + c - 1));
    }
}

void putThicknesses(RequestWriter &writer, const Panel &panel, int firstCassette, int lastCassette) {
    for (int c = firstCassette; c <= lastCassette; ++c) writer.put(comboValue(panel, ctl::Thickness1 + c - 1));
}

size_t buildMechaReset(const Panel &panel, uint8_t code, uint8_t *out, const LocalTime &) {
    if (!enhancedLayout(panel)) {
        RequestWriter writer(out, code, false, 13);
        writer.put(mechaResetFlags(panel));
        putLengthPairs(writer, panel, 1, 4);
        putThicknesses(writer, panel, 1, 4);
        return writer.finish();
    }
    RequestWriter writer(out, code, true, 26);
    writer.put(0x00);
    writer.put(mechaResetFlags(panel));
    putLengthPairs(writer, panel, 1, 4);
    putThicknesses(writer, panel, 1, 4);
    putLengthPairs(writer, panel, 5, 6);
    writer.putZeros(4);
    putThicknesses(writer, panel, 5, 6);
    writer.putZeros(2);
    return writer.finish();
}

// --- Bill count family -------------------------------------------------

// Which cassette each slot carries: ascending, or descending when the
// operator reverses the count order.
struct SlotOrder {
    bool reversed;
    int slots;
    int cassette(int slot) const { return reversed ? slots + 1 - slot : slot; }
};

void putCounts(RequestWriter &writer, const Panel &panel, const SlotOrder &order, int firstControl,
               int firstSlot, int lastSlot) {
    for (int slot = firstSlot; slot <= lastSlot; ++slot)
        putParityDigits(writer, comboValue(panel, firstControl + order.cassette(slot) - 1));
}

void putRetries(RequestWriter &writer, const Panel &panel, const SlotOrder &order, int firstSlot,
                int lastSlot) {
    for (int slot = firstSlot; slot <= lastSlot; ++slot)
        writer.put(comboValue(panel, ctl::PickRetry1 + order.cassette(slot) - 1));
}

void putBytes(RequestWriter &writer, std::span<const uint8_t> bytes) {
    for (uint8_t byte : bytes) writer.put(byte);
}

constexpr std::array<uint8_t, 4> kAscendingMark{0xFE, 0xDC, 0xBA, 0x98};
constexpr std::array<uint8_t, 4> kDescendingMark{0xAB, 0xCD, 0xEF, 0x98};
constexpr std::array<uint8_t, 4> kZeroCounts{0x30, 0x30, 0x30, 0x30};

size_t buildBillCount(const Panel &panel, uint8_t code, uint8_t *out, const LocalTime &) {
    const bool enhanced = enhancedLayout(panel);
    const bool reversed = panel.checked(ctl::CountOrderReversing);
    if (!enhanced) {
        const SlotOrder order{reversed, 4};
        RequestWriter writer(out, code, false, 21);
        writer.put(reversed ? 0x1B : 0xE4);
        putCounts(writer, panel, order, ctl::BillsCount1, 1, 4);
        putCounts(writer, panel, order, ctl::RejectCount1, 1, 4);
        putRetries(writer, panel, order, 1, 4);
        return writer.finish();
    }
    const SlotOrder order{reversed, 6};
    RequestWriter writer(out, code, true, 44);
    putBytes(writer, reversed ? kDescendingMark : kAscendingMark);
    putCounts(writer, panel, order, ctl::BillsCount1, 1, 4);
    putCounts(writer, panel, order, ctl::RejectCount1, 1, 4);
    putRetries(writer, panel, order, 1, 4);
    putCounts(writer, panel, order, ctl::BillsCount1, 5, 6);
    putBytes(writer, kZeroCounts);
    putCounts(writer, panel, order, ctl::RejectCount1, 5, 6);
    putBytes(writer, kZeroCounts);
    putRetries(writer, panel, order, 5, 6);
    writer.putZeros(2);
    return writer.finish();
}

// --- Bill transport and retrieval --------------------------------------

struct TransportChoice {
    int radio;
    bool withDischarge;  // the "Discharge amount" value goes into the byte
    uint8_t bits;
};

constexpr TransportChoice kTransportChoices[] = {
    {ctl::TransportFirst + 0, true, 0x00},   // <Front>Deliver
    {ctl::TransportFirst + 1, true, 0x01},   // <Front>Watch bills to be removed
    {ctl::TransportFirst + 2, false, 0x02},  // <Front>Close shutter
    {ctl::TransportFirst + 3, false, 0x03},  // <Front>Open shutter
    {ctl::TransportFirst + 4, true, 0x80},   // <Rear>Deliver
    {ctl::TransportFirst + 5, true, 0x81},   // <Rear>Watch bills to be removed
    {ctl::TransportFirst + 6, false, 0x82},  // <Rear>Close shutter
    {ctl::TransportFirst + 7, false, 0x83},  // <Rear>Open shutter
};

uint8_t transportByte(const Panel &panel) {
    for (const TransportChoice &choice : kTransportChoices) {
        if (!panel.checked(choice.radio)) continue;
        const uint8_t discharge = choice.withDischarge ? comboValue(panel, ctl::DischargeAmount) : 0;
        return static_cast<uint8_t>(discharge | choice.bits);
    }
    return 0x00;
}

size_t buildBillTransport(const Panel &panel, uint8_t code, uint8_t *out, const LocalTime &) {
    return buildOneParameter(panel, code, transportByte(panel), out);
}

struct RetrievalChoice {
    int radio;
    uint8_t byte;
};

constexpr RetrievalChoice kRetrievalChoices[] = {
    {ctl::RetrievalFirst + 0, 0x00},  // <F>EJSF to pool section
    {ctl::RetrievalFirst + 1, 0x01},  // <F>Store into rear CaptureBOX
    {ctl::RetrievalFirst + 2, 0x80},  // <R>EJSR to pool section
    {ctl::RetrievalFirst + 3, 0x81},  // <R>Store into front CaptureBOX
};

uint8_t retrievalByte(const Panel &panel) {
    for (const RetrievalChoice &choice : kRetrievalChoices)
        if (panel.checked(choice.radio)) return choice.byte;
    return 0x00;
}

size_t buildBillRetrieval(const Panel &panel, uint8_t code, uint8_t *out, const LocalTime &) {
    return buildOneParameter(panel, code, retrievalByte(panel), out);
}

// --- Logs ----------------------------------------------------------------

size_t buildLogReadClear(const Panel &panel, uint8_t code, uint8_t *out, const LocalTime &) {
    return buildOneParameter(panel, code, comboValue(panel, ctl::LogMode), out);
}

// "Log clear date : YYYY.MM.DD hh:mm:ss": 36 characters; a value out of its
// range can only shorten the date, never push it past its 19 places.
std::string logClearText(const LocalTime &now) {
    char date[64];
    std::snprintf(date, sizeof date, "%04d.%02d.%02d %02u:%02u:%02u", now.year, now.month, now.day,
                  static_cast<unsigned>(now.hour), static_cast<unsigned>(now.minute),
                  static_cast<unsigned>(now.second));
    return "Log clear date : " + std::string(date).substr(0, 19);
}

// Mode (or device-information value) and a 40-byte text field.
size_t buildWithText(const Panel &panel, uint8_t code, uint8_t mode, std::string_view text, uint8_t *out) {
    RequestWriter writer(out, code, enhancedLayout(panel), 1 + kMessageBytes);
    writer.put(mode);
    writer.putText(text, kMessageBytes);
    return writer.finish();
}

size_t buildLogAllClear(const Panel &panel, uint8_t code, uint8_t *out, const LocalTime &now) {
    return buildWithText(panel, code, kClearAllLogs, logClearText(now), out);
}

size_t buildLogWithMessage(const Panel &panel, uint8_t code, uint8_t *out, const LocalTime &) {
    const uint8_t mode = comboValue(panel, ctl::LogMode);
    return buildWithText(panel, code, mode, panel.committedMessageText(), out);
}

// --- Sensor transition ---------------------------------------------------

constexpr uint8_t kSensorGridBits[] = {0x10, 0x08, 0x04, 0x02, 0x01};  // NES, A, B, C, D

struct SensorBit {
    int box;
    uint8_t bit;
};

constexpr SensorBit kShutterSensorBits[] = {
    {ctl::SensorFrontEjs + 0, 0x08}, {ctl::SensorFrontEjs + 1, 0x02}, {ctl::SensorFrontEjs + 2, 0x01},
    {ctl::SensorRearEjs + 0, 0x80},  {ctl::SensorRearEjs + 1, 0x20},  {ctl::SensorRearEjs + 2, 0x10},
};

uint8_t sensorCassetteByte(const Panel &panel, int cassette) {
    const int rowFirst = ctl::SensorGridFirst + 5 * (cassette - 1);
    uint8_t byte = 0;
    for (int column = 0; column < 5; ++column)
        if (panel.checked(rowFirst + column)) byte |= kSensorGridBits[column];
    return byte;
}

uint8_t shutterSensorByte(const Panel &panel) {
    uint8_t byte = 0;
    for (const SensorBit &sensor : kShutterSensorBits)
        if (panel.checked(sensor.box)) byte |= sensor.bit;
    return byte;
}

size_t buildSensorTransition(const Panel &panel, uint8_t code, uint8_t *out, const LocalTime &) {
    if (!enhancedLayout(panel)) {
        RequestWriter writer(out, code, false, 5);
        for (int c = 1; c <= 4; ++c) writer.put(sensorCassetteByte(panel, c));
        writer.put(shutterSensorByte(panel));
        return writer.finish();
    }
    RequestWriter writer(out, code, true, 10);
    for (int c = 1; c <= 6; ++c) writer.put(sensorCassetteByte(panel, c));
    writer.putZeros(2);
    writer.put(shutterSensorByte(panel));
    writer.putZeros(1);
    return writer.finish();
}

// --- The rest ------------------------------------------------------------

size_t buildOperationalLog(const Panel &panel, uint8_t, uint8_t *out, const LocalTime &) {
    const uint8_t p1 = comboValue(panel, ctl::OplogP1);
    const uint8_t p2 = comboValue(panel, ctl::OplogP2);
    return buildOperationalLogRequest(p1, p2, out);
}

size_t buildDeviceInformation(const Panel &panel, uint8_t code, uint8_t *out, const LocalTime &) {
    const uint8_t mode = comboValue(panel, ctl::DeviceInfoMode);
    if (mode == 0) return buildOneParameter(panel, code, 0, out);
    return buildWithText(panel, code, mode, panel.committedMessageText(), out);
}

size_t buildBillDiagnosis(const Panel &panel, uint8_t code, uint8_t *out, const LocalTime &) {
    return buildOneParameter(panel, code, comboValue(panel, ctl::DiagnosisMode), out);
}

using Builder = size_t (*)(const Panel &, uint8_t deviceCode, uint8_t *out, const LocalTime &);

struct CommandRequest {
    int command;
    uint8_t deviceCode;
    Builder build;
};

constexpr CommandRequest kCommandRequests[] = {
    {CMD_STATUS_READ, kStatusRead, buildNoParameter},
    {CMD_MECHA_RESET, kMechaReset, buildMechaReset},
    {CMD_BILL_COUNT, kBillCount, buildBillCount},
    {CMD_BILL_COUNT_FRONT, kBillCountFront, buildBillCount},
    {CMD_BILL_COUNT_REAR, kBillCountRear, buildBillCount},
    {CMD_BILL_TRANSPORT, kBillTransport, buildBillTransport},
    {CMD_BILL_RETRIEVAL, kBillRetrieval, buildBillRetrieval},
    {CMD_CANCEL, kCancel, buildNoParameter},
    {CMD_BILL_COUNT_REJECT, kBillCountReject, buildBillCount},
    {CMD_LOG_READ_CLEAR, kLogReadClear, buildLogReadClear},
    {CMD_LOG_ALL_CLEAR, kLogReadClear, buildLogAllClear},
    {CMD_SENSOR_TRANSITION, kSensorTransition, buildSensorTransition},
    {CMD_OPERATIONAL_LOG, kOperationalLog, buildOperationalLog},
    {CMD_DEVICE_INFORMATION, kDeviceInformation, buildDeviceInformation},
    {CMD_BILL_DIAGNOSIS, kBillDiagnosis, buildBillDiagnosis},
    {CMD_LOG_WITH_MSG, kLogReadClear, buildLogWithMessage},
};

}  // namespace

LocalTime localNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto seconds = floor<std::chrono::seconds>(now);
    const std::time_t t = system_clock::to_time_t(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    LocalTime time;
    time.year = local.tm_year + 1900;
    time.month = local.tm_mon + 1;
    time.day = local.tm_mday;
    time.hour = local.tm_hour;
    time.minute = local.tm_min;
    time.second = local.tm_sec;
    time.millisecond = static_cast<int>(duration_cast<milliseconds>(now - seconds).count());
    return time;
}

size_t buildRequest(int command, const Panel &panel, uint8_t *out, const LocalTime &now) {
    for (const CommandRequest &request : kCommandRequests)
        if (request.command == command) return request.build(panel, request.deviceCode, out, now);
    return 0;
}

size_t buildOperationalLogRequest(uint8_t p1, uint8_t p2, uint8_t *out) {
    // Always the enhanced layout, whatever the layout check box says.
    RequestWriter writer(out, kOperationalLog, true, 2);
    writer.put(p1);
    writer.put(p2);
    return writer.finish();
}

size_t buildSequenceTransport(const Panel &panel, bool front, bool watch, uint8_t *out) {
    uint8_t byte = comboValue(panel, ctl::DischargeAmount);
    if (!front) byte |= 0x80;
    if (watch) byte |= 0x01;
    return buildOneParameter(panel, kBillTransport, byte, out);
}

}  // namespace valdor
