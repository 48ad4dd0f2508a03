// What the simulated unit answers, so that a test can compute the bytes and
// the texts the console should show.  Everything here is fixed: the unit
// draws no random numbers and reads no clock for its answers.
//
// Every response starts DH0 DH1 and a layout byte: 0xFF when the request was
// enhanced (its byte 2 was 0xFF), else 0x00.  In the enhanced layout bytes
// 3-5 hold the number of bytes after byte 5, most significant first.  DH0 is
// kPositive, or the negative code (kNegative unless an option chose another)
// with an error code from the catalogue.  Each response ends right after the
// farthest position the console's decoders read for its kind
// (responseLength); positions this header does not name hold 0x00.
//
// The unit keeps a little state between requests, as a real one does:
//  - log counters: they start at logPickCount/logCounter.  A log read
//    (0x12) answers with the counters as they stand and then applies its
//    mode: 1 zeroes rows 2-13 ("errors"), 2 zeroes row 1 (pick operations),
//    3 zeroes all.  A log request with a 40-byte text (Log All Clear, Log
//    with Msg) stores that text as the log message before it answers.
//  - user setting data: starts as kUserSettingData; a device-information
//    write (mode 1 or 0x80) stores its 40-byte text, and the response shows
//    the stored text.
// A request answered negatively changes nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace bdusim {

inline constexpr uint8_t kPositive = 0xE0;
inline constexpr uint8_t kNegative = 0xF0;
inline constexpr uint8_t kEnhancedMark = 0xFF;

// ---- The status block, in every response --------------------------------

// Error address: the enhanced layout carries all four bytes, the basic
// layout the last two.
inline constexpr std::array<uint8_t, 4> kErrorAddress{0x00, 0x01, 0x2A, 0x3C};
inline constexpr char kVersionBasic[] = "52";        // 2 characters
inline constexpr char kVersionEnhanced[] = "052A17"; // 6 characters
inline constexpr char kDate[] = "261208";            // 6 characters, enhanced only
inline constexpr std::array<uint8_t, 3> kErrorRegister{0x12, 0x34, 0x56};
inline constexpr std::array<uint8_t, 3> kErrorRegister2{0x65, 0x43, 0x21};  // enhanced only

// S1..S6: FDLS1 and FDLS3; BPS and BRS2; BCS and the option sensor; front
// option present with a capture box, rear option present with a shutter;
// rear SOS (and front SCS, which the capture box hides); INIBL.
inline constexpr std::array<uint8_t, 6> kIndicators{0x05, 0x42, 0x18, 0x26, 0x21, 0x04};

// C1..C6 (the basic layout carries C1..C4).  C2 has bit 4 set, which no
// indicator shows.
inline constexpr std::array<uint8_t, 6> kCassetteBytes{0x88, 0x14, 0x02, 0x01, 0x80, 0x08};

inline constexpr uint8_t kDfcsLevel = 0xE0;

// ---- Mechanical reset (0x02) and the bill-count family ------------------

// FDLS1..FDLS6, DFSS, REJS, BPS, BRS1, BRS2, BRS3, EJSR, EJSF, BCS.
inline constexpr std::array<uint8_t, 15> kSensorLevels{
    0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x02, 0x0C, 0x0D, 0x01, 0x00, 0x0B, 0x0A, 0x0E};

// Bill count (0x03, 0x09, 0x0A, 0x11): the bills counted and the bills
// rejected of each cassette are the request's "bills count" and "reject
// count" of that cassette, as parity digits (a reversed request order is
// undone: the response is always by cassette).  The per-cassette result
// bytes (rows 2-13 of the device window) are:
inline constexpr uint8_t countDetail(int cassette, int row) {  // cassette 1-6, row 2-13
    return static_cast<uint8_t>(cassette * 16 + (row - 2));
}

// ---- Log read (0x12) -----------------------------------------------------

inline constexpr uint32_t logPickCount(int cassette) {  // row 1, cassette 1-6
    return 100000u * static_cast<uint32_t>(cassette) + 1234u;
}
inline constexpr uint16_t logCounter(int cassette, int row) {  // rows 2-13
    return static_cast<uint16_t>(cassette * 100 + row);
}
inline constexpr char kInitialLogMessage[] = "SIMULATED UNIT LOG";

// ---- Bill diagnosis (0x0F) -----------------------------------------------

struct DiagnosisData {
    uint8_t denomination;
    uint8_t length;     // mm
    uint8_t thickness;  // hundredths of a mm
    uint8_t reservation;
};
inline constexpr std::array<DiagnosisData, 6> kDiagnosis{{
    {0x01, 150, 10, 0x00},
    {0x05, 155, 11, 0x01},
    {0x0A, 160, 12, 0x00},
    {0x14, 145, 9, 0x02},
    {0x32, 140, 13, 0x00},
    {0x1A, 165, 8, 0x0F},
}};

// ---- Device information (0x0E) ---------------------------------------------

inline constexpr char kUserSettingData[] = "SIMULATED UNIT USER SETTING";  // up to 40
inline constexpr char kDeviceCode1[] = "BDUSIM01";              // 8
inline constexpr char kDeviceCode2[] = "0520";                  // 4
inline constexpr char kDeviceCode3[] = "A001";                  // 4
inline constexpr char kMaximumSheets[] = "200";                 // 3
inline constexpr char kMachineType = '2';                       // dual service
inline constexpr char kFrontOption = '2';                       // capture box
inline constexpr char kRearOption = '1';                        // shutter
inline constexpr char kJamRetryControl = '1';
inline constexpr char kBcsSensor = '1';
inline constexpr char kThicknessAdjustment[] = "05";            // 2
inline constexpr char kRomVersion[] = "A21";                    // 3
inline constexpr char kRejectOption = '1';                      // reject box
inline constexpr char kDeviceCode4[] = "SN-0000-1234-5678-90";  // 20

// ---- Operational log (0x13) ------------------------------------------------

inline constexpr size_t kOplogDataOffset = 90;
inline constexpr size_t kOplogDataSize = 1024;

// Data byte `index` (0-1023, from byte 90) of request (section, block): the
// first two bytes are the section and the block, the rest follow a pattern
// that differs between any two blocks of the acquisition at every index.
inline constexpr uint8_t oplogByte(int section, int block, int index) {
    if (index == 0) return static_cast<uint8_t>(section);
    if (index == 1) return static_cast<uint8_t>(block);
    return static_cast<uint8_t>(index * 5 + section * 83 + block * 19 + 11);
}

// ---- Lengths ---------------------------------------------------------------

struct ResponseLength {
    uint8_t code;
    uint16_t basic;     // 0: the command has no basic layout
    uint16_t enhanced;
};
inline constexpr uint16_t kStatusLengthBasic = 40;     // status block with room to spare
inline constexpr uint16_t kStatusLengthEnhanced = 91;
inline constexpr std::array<ResponseLength, 17> kResponseLengths{{
    {0x01, kStatusLengthBasic, kStatusLengthEnhanced},
    {0x02, 54, 105},    // sensor levels end at 53 / 104
    {0x03, 155, 251},   // sensor levels end at 154; cassette 6 results end at 250
    {0x05, kStatusLengthBasic, kStatusLengthEnhanced},
    {0x06, kStatusLengthBasic, kStatusLengthEnhanced},
    {0x09, 155, 251},
    {0x0A, 155, 251},
    {0x0E, 132, 183},   // fourth device-code field ends at b + 91
    {0x0F, 56, 115},    // cassette 4 / 6 diagnosis ends at 55 / 114
    {0x10, kStatusLengthBasic, kStatusLengthEnhanced},
    {0x11, 155, 251},
    {0x12, 208, 323},   // counter blocks of 32 bytes up to cassette 4 / 6
    {0x13, 0, kOplogDataOffset + kOplogDataSize},
    {0x14, kStatusLengthBasic, kStatusLengthEnhanced},
    {0xD1, 0, kStatusLengthEnhanced},
    {0xD2, 0, kStatusLengthEnhanced},
    {0xD4, 0, kStatusLengthEnhanced},
}};

// The length of the response to `code` (a code the unit does not know, or a
// basic-layout request for an enhanced-only command, gets the status length).
inline constexpr size_t responseLength(uint8_t code, bool enhanced) {
    for (const auto &entry : kResponseLengths)
        if (entry.code == code) {
            const uint16_t length = enhanced ? entry.enhanced : entry.basic;
            return length != 0 ? length : (enhanced ? kStatusLengthEnhanced : kStatusLengthBasic);
        }
    return enhanced ? kStatusLengthEnhanced : kStatusLengthBasic;
}

// ---- Parity digits -----------------------------------------------------------

// An ASCII digit with bit 7 set where needed for even parity.
inline constexpr uint8_t parityDigit(int digit) {
    uint8_t byte = static_cast<uint8_t>('0' + digit);
    int ones = 0;
    for (int bit = 0; bit < 7; ++bit) ones += (byte >> bit) & 1;
    return (ones & 1) ? static_cast<uint8_t>(byte | 0x80) : byte;
}

}  // namespace bdusim
