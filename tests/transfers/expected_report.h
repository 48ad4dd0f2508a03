// The report an acquisition should write, built here byte by byte from the
// record data a unit holds, independently of the code under test.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "tools/bdusim/unit_data.h"

namespace transfers_test {

using RecordSource = std::function<std::vector<uint8_t>(int section, int block)>;

inline std::string sixteenByteLines(const std::vector<uint8_t> &data) {
    std::string out;
    char pair[4];
    for (size_t line = 0; line < data.size(); line += 16) {
        for (size_t i = line; i < line + 16; ++i) {
            std::snprintf(pair, sizeof pair, "%02X ", data[i]);
            out += pair;
        }
        out += "\r\n";
    }
    return out;
}

inline std::string numberedLines(const std::vector<uint8_t> &data, int &number) {
    std::string out;
    char text[16];
    for (size_t line = 0; line < data.size(); line += 32) {
        std::snprintf(text, sizeof text, "%04d ", number);
        out += text;
        for (size_t group = line; group < line + 32; group += 8) {
            for (size_t i = group; i < group + 8; ++i) {
                std::snprintf(text, sizeof text, "%02X", data[i]);
                out += text;
                if (i == group + 3) out += "-";
            }
            out += " ";
        }
        out += "\r\n";
        number += 4;
    }
    return out;
}

inline constexpr int kBlocksPerSection[] = {8, 8, 4, 2};

// The records the simulated unit holds.
inline std::vector<uint8_t> unitRecords(int section, int block) {
    std::vector<uint8_t> data(bdusim::kOplogDataSize);
    for (size_t i = 0; i < data.size(); ++i) data[i] = bdusim::oplogByte(section, block, static_cast<int>(i));
    return data;
}

// The report after `sectionsDone` whole sections and `blocksOfNext` blocks
// of the one after (with its heading); measuredOnly: "Measured inf" ticked.
inline std::string expectedReport(const RecordSource &records, bool measuredOnly, int sectionsDone = 4,
                                  int blocksOfNext = 0) {
    const char *headings[] = {"\r\n<<< Measured information >>>\r\n", "\r\n<<< Operational log >>>\r\n",
                              "\r\n<<< Command/Response log >>>\r\n", "\r\n<<< Thickness information >>>\r\n"};
    std::string out;
    for (int s = 0; s < 4 && s <= sectionsDone; ++s) {
        if (measuredOnly && s > 0) break;
        if (!measuredOnly) out += headings[s];
        int count = s < sectionsDone ? kBlocksPerSection[s] : blocksOfNext;
        int number = 1;
        for (int b = 0; b < count; ++b) out += s == 1 ? numberedLines(records(s, b), number) : sixteenByteLines(records(s, b));
    }
    return out;
}

inline std::string readText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// This process holds `path` open.
inline bool heldOpen(const std::string &path) {
    std::error_code error;
    auto wanted = std::filesystem::canonical(path, error);
    if (error) return false;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        std::error_code linkError;
        auto target = std::filesystem::read_symlink(entry.path(), linkError);
        if (!linkError && target == wanted) return true;
    }
    return false;
}

}  // namespace transfers_test
