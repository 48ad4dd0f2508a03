// A capture as a pcap file for Wireshark: link type USER0 (147), one record
// per burst, each starting with a direction byte (0 host to unit, 1 unit to
// host); the dissector in tools/wireshark/ reads it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "rslink/core/capture_format.h"

namespace valdor::records {

inline constexpr uint32_t kLinkTypeUser0 = 147;

std::vector<uint8_t> toPcap(const std::vector<rslink::capture::Record> &records);

// Reads CAPTURE, writes OUT; 0, or 2 with the reason on `err` (a damaged
// capture is exported up to the damage and reported).
int exportPcapFile(const std::string &capture, const std::string &out, std::FILE *err);

}  // namespace valdor::records
